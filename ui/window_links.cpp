// Wiring between the three windows: the channel window and the factory window work on the
// main window's AppState (one channel copy, one settings state) and claim the bus from the
// side monitor first; the shortcuts reach all of them.
#include "ui/window_links.h"

#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/main_form.h"
#include "ui/shortcuts.h"

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
