// korvane_v3: loads the Russian catalog, builds the main, channel and factory windows once,
// gives every window the program's icon and runs the toolkit's event loop.
// "--user-folder" (what the Windows Start-menu entry passes) first makes the engineer's own
// folder the working directory, where the preferences are kept.
#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Window.H>

#include <string>

#include "ui/app_state.h"
#include "ui/chan_form.h"
#include "ui/command_line.h"
#include "ui/factory_form.h"
#include "ui/main_form.h"
#include "ui/program_icon.h"
#include "ui/window_links.h"
#include "util/catalog.h"
#include "util/files.h"
#include "util/version.h"

namespace {

// The catalog of the working directory, else the one installed beside the program.
void load_catalog() {
  if (catalog_load("korvane_v3.mo", "ru") == 1) return;
  const std::string folder = programFolder();
  if (!folder.empty()) catalog_load_path((folder + "/ru/korvane_v3.mo").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version are answered before the catalog or the display is touched.
  const int early =
      gui_command_line(argc, argv, korvane_version_text("korvane_v3"), stdout, stderr);
  if (early >= 0) return early;
  if (gui_user_folder_requested()) enterFolder(userDataFolder());
  load_catalog();

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
