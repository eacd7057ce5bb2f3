// korvane_v3's command line: the program's own options first, then the toolkit's.
#include "ui/command_line.h"

#include <FL/Fl.H>

#include <cstring>

namespace {

enum class Request { None, Help, Version };
Request gRequest = Request::None;
bool gUserFolder = false;

// Called by the toolkit's parser before its own options: takes --help, -h, --version and
// --user-folder. The first of --help and --version wins; the parser goes on so a bad option
// before it is still reported.
int takeOwnOption(int, char** argv, int& i) {
  const char* a = argv[i];
  Request r = Request::None;
  if (std::strcmp(a, "--user-folder") == 0) {
    gUserFolder = true;
    ++i;
    return 1;
  }
  if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0)
    r = Request::Help;
  else if (std::strcmp(a, "--version") == 0)
    r = Request::Version;
  else
    return 0;
  if (gRequest == Request::None) gRequest = r;
  ++i;
  return 1;
}

const char* const kHelp =
    "Usage: korvane_v3 [TOOLKIT OPTION]...\n"
    "  or:  korvane_v3 --help | --version\n"
    "Service and configuration tool for the controller boards of fuel dispensers. A\n"
    "service engineer connects the PC to the boards' RS-485 service bus (a serial\n"
    "adapter, a TCP gateway the program connects to or accepts, or korvane-sim) to\n"
    "identify and scan boards, read diagnostics and totals, edit, validate and back up\n"
    "settings records, drive fuelling by hand and watch it, and replace a board's\n"
    "firmware.\n"
    "\n"
    "Port names (typed into the port field, or picked from the serial ports found):\n"
    "a serial device (ttyUSB0 or /dev/ttyUSB0), STUB, TCPS_PORT (the program listens\n"
    "on every local address), TCPS_a.b.c.d:PORT (it listens on that address only) or\n"
    "TCPC_a.b.c.d:PORT (it connects); on Windows COM3 and so on. The desktop menu\n"
    "entry starts the program through korvane_v3-launcher, in ~/.config/korvane_v3;\n"
    "the Start-menu entry on Windows with --user-folder.\n"
    "\n"
    "Keys, in every window: F1..F12 select bus address 1..12 and identify the board\n"
    "there; Alt+F11 opens the channel variables table, Alt+F12 the channel settings\n"
    "window, Ctrl+T the bus traffic window; Escape in the main window asks before\n"
    "quitting.\n"
    "\n"
    "Options:\n"
    "  -h, --help              print this help and exit\n"
    "  --version               print the version and exit\n"
    "  --user-folder           work in the engineer's own folder, made when missing:\n"
    "                          $XDG_CONFIG_HOME/korvane_v3 or ~/.config/korvane_v3,\n"
    "                          %APPDATA%\\korvane_v3 on Windows\n"
    "\n"
    "Toolkit options (FLTK):\n"
    "  -display HOST:N.N       the X display to use\n"
    "  -geometry WxH+X+Y       size and place of the main window\n"
    "  -title TEXT             title of the main window\n"
    "  -name CLASS             window class, for the window manager\n"
    "  -scheme NAME            look of the widgets: none, plastic, gtk+ or gleam\n"
    "  -bg COLOR               background colour\n"
    "  -fg COLOR               foreground (text) colour\n"
    "  -bg2 COLOR              background colour of text fields\n"
    "  -iconic                 start with the main window iconified\n"
    "  -kbd, -nokbd            show or hide the keyboard focus on buttons\n"
    "  -dnd, -nodnd            allow or forbid dragging text\n"
    "  -tooltips, -notooltips  show or hide tooltips\n"
    "A toolkit option may be shortened while it stays unambiguous: -g for -geometry.\n"
    "\n"
    "Files:\n"
    "  korvane_v3.ini          the port and its line settings, in the working folder;\n"
    "                          saved again when they change\n"
    "  ru/korvane_v3.mo        the Russian catalog, in the working folder, else beside\n"
    "                          the program\n"
    "\n"
    "Exit status: 0 when the main window is closed, 2 bad usage.\n";

}  // namespace

const char* gui_help_text() { return kHelp; }

int gui_command_line(int argc, char** argv, const std::string& version_text, FILE* out, FILE* err) {
  gRequest = Request::None;
  gUserFolder = false;
  int i = 0;
  Fl::args(argc, argv, i, takeOwnOption);
  if (gRequest == Request::Help) {
    std::fputs(kHelp, out);
    return 0;
  }
  if (gRequest == Request::Version) {
    std::fputs(version_text.c_str(), out);
    return 0;
  }
  // The parser stops at the first word it does not take: an unknown option, a toolkit option
  // whose value is missing or wrong (a bad geometry), or an argument the program has no use for.
  if (i < argc) {
    std::fprintf(err, "korvane_v3: unknown option or argument '%s'\n", argv[i]);
    std::fprintf(err, "try 'korvane_v3 --help'\n");
    return 2;
  }
  return -1;
}

bool gui_user_folder_requested() { return gUserFolder; }
