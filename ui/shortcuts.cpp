// Global shortcut handler and its wiring to the main and channel windows.
#include "ui/shortcuts.h"

#include <FL/Fl.H>

#include "protocol/board.h"
#include "ui/chan_form.h"
#include "ui/main_form.h"
#include "ui/var_table.h"

namespace {
constexpr int kFunctionKeyCount = 12;

ShortcutHooks& hooks() {
  static ShortcutHooks h;
  return h;
}
}  // namespace

void set_shortcut_hooks(ShortcutHooks h) { hooks() = std::move(h); }

void connect_shortcuts(xMainForm* main, xChanForm* chan) {
  ShortcutHooks h;
  if (main) {
    h.selectAddress = [main](int a) {
      main->set_pump_address(a);
      main->tabs->value(main->tab_main);
      main->tabs->redraw();
      main->claim_bus();  // "Load" is no longer in front: the monitor stops before the
                          // identification
    };
    h.identify = [main](int a) {
      return identifyBoard(main->app.session, static_cast<uint8_t>(a), false);
    };
    h.bootMode = [main] { return main->app.bootMode(); };
    h.refresh = [main] { main->refresh_after_identification(); };
    h.claimBus = [main] { return main->claim_bus(); };
    h.openTraffic = [main] { main->open_traffic_window(); };
    h.openVariablesTable = [main] {
      ChanVarTable::open_modal(main->app.dev.get(), &main->app.channels,
                               [main] { return main->claim_bus(); });
    };
  }
  if (chan) h.openChannelForm = [chan] { chan->open(); };
  set_shortcut_hooks(std::move(h));
}

int handle_shortcut_key(int key, int state) {
  ShortcutHooks& h = hooks();
  if ((key == 't' || key == 'T') && (state & FL_CTRL) && !(state & (FL_ALT | FL_META))) {
    if (!h.openTraffic) return 0;
    h.openTraffic();
    return 1;
  }
  if (key <= FL_F || key > FL_F + kFunctionKeyCount) return 0;
  int n = key - FL_F;
  if (state & FL_ALT) {
    if (n == 12) {
      if (h.openChannelForm) h.openChannelForm();
      return 1;
    }
    if (n == 11) {
      // open_modal ignores the key while a table window is open.
      if (h.openVariablesTable) h.openVariablesTable();
      return 1;
    }
    return 0;
  }
  // A scan or an update in progress owns the bus; the key is used up without effect.
  if (h.claimBus && !h.claimBus()) return 1;
  if (h.selectAddress) h.selectAddress(n);
  if (h.identify && h.identify(n) == 1 && !(h.bootMode && h.bootMode()) && h.refresh) h.refresh();
  return 1;
}

int global_shortcut_handler(int event) {
  if (event != FL_SHORTCUT) return 0;
  return handle_shortcut_key(Fl::event_key(), Fl::event_state());
}
