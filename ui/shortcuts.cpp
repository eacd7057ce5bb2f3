// The global shortcut handler: which key does what, through the hooks set for it.
#include "ui/shortcuts.h"

#include <FL/Fl.H>

namespace {
constexpr int kFunctionKeyCount = 12;

ShortcutHooks& hooks() {
  static ShortcutHooks h;
  return h;
}
}  // namespace

void set_shortcut_hooks(ShortcutHooks h) { hooks() = std::move(h); }

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
