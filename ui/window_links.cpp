// Wiring between the three windows: the channel window and the factory window work on the
// main window's AppState (one channel copy, one settings state) and claim the bus from the
// side monitor first; the shortcuts reach all of them.
#include "ui/window_links.h"

#include "protocol/board.h"
#include "settings/settings_sequences.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/main_form.h"
#include "ui/shortcuts.h"
#include "ui/var_table.h"

void link_windows(xMainForm* main, xChanForm* chan, xFactorySet* factory) {
  if (main && chan) {
    AppState& app = main->app;
    chan->set_main_window(main);
    chan->attach(&app.session, &app.channels, [main] { return main->nozzle_count_of_board(); });
    chan->claimBus = [main] { return main->claim_bus(); };
  }
  if (main && factory) {
    factory->set_main_window(main);
    factory->session = &main->app.session;
    factory->settings = &main->app.settings;
    factory->claimBus = [main] { return main->claim_bus(); };
    main->set_factory_window(factory);
  }
  connect_shortcuts(main, chan);
}

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
    h.refresh = [main] { refreshAfterIdentify(main->app.session, main->app.settings); };
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
