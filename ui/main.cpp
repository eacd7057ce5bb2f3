// korvane_v3: loads the Russian catalog, builds the main, channel and factory windows once,
// gives every window the program's icon and runs the toolkit's event loop.
#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Window.H>

#include "ui/app_state.h"
#include "ui/chan_form.h"
#include "ui/command_line.h"
#include "ui/factory_form.h"
#include "ui/main_form.h"
#include "ui/program_icon.h"
#include "ui/window_links.h"
#include "util/catalog.h"
#include "util/version.h"

int main(int argc, char** argv) {
  // --help and --version are answered before the catalog or the display is touched.
  const int early =
      gui_command_line(argc, argv, korvane_version_text("korvane_v3"), stdout, stderr);
  if (early >= 0) return early;
  catalog_load("korvane_v3.mo", "ru");

  auto* mainForm = new xMainForm(kMainWindowW, kMainWindowH);
  mainForm->resize(273, 197, kMainWindowW, kMainWindowH);

  auto* chanForm = new xChanForm(811, 568, tr("Channel settings"));
  chanForm->resize(359, 206, 811, 568);
  auto* factory = new xFactorySet(707, 377, tr("Factory settings"));
  factory->resize(381, 308, 707, 377);
  link_windows(mainForm, chanForm, factory);

  const Fl_RGB_Image* icon = program_icon();
  const Fl_RGB_Image* icons[2] = {icon, icon};
  Fl_Window::default_icons(icons, 2);

  mainForm->show(argc, argv);
  Fl::run();
  return 0;
}
