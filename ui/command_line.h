// The command line of korvane_v3: --help and --version, answered without opening the display
// (so a terminal without X, or a packaging tool, can ask), and the toolkit's own options
// (-geometry, -display, -scheme, ...), which are taken here and applied when the main window
// is first shown with show(argc, argv).
#pragma once
#include <cstdio>
#include <string>

// Returns -1 when the program is to start, otherwise the exit status: 0 after --help or
// --version (printed to out; version_text is what --version prints), 2 for an unknown option,
// a toolkit option without its value, or a stray argument (reported to err).
int gui_command_line(int argc, char** argv, const std::string& version_text, FILE* out, FILE* err);

// The --help text.
const char* gui_help_text();
// Whether the last command line asked for --user-folder (work in the engineer's own folder).
bool gui_user_folder_requested();
