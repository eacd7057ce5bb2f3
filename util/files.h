// The platform seam for files and names at the system boundary: paths are UTF-8 inside the
// tool and become whatever the system takes only here (UTF-16 on Windows), and a file's
// contents are replaced in one step so that a failure never leaves it cut.
// files_posix.cpp and files_win32.cpp implement it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// fopen() of a UTF-8 path; nullptr (errno set) when it cannot be opened or is not UTF-8.
FILE* fileOpen(const std::string& path, const char* mode);

// True when the open file is a regular file (not a folder, a device or a pipe); its size in
// bytes goes to size when given.
bool fileIsRegular(FILE* f, uint64_t* size = nullptr);

// Replaces the file's contents with text: written to a new file of our own beside it, flushed
// to the disk, then moved over the old one in one step. 0 on success; otherwise an errno value
// (also left in errno), the old file untouched and no temporary file left behind.
int fileReplaceContents(const std::string& path, const std::string& text);

// The folder the running program was started from (UTF-8, no trailing separator), "" when
// the system does not say.
std::string programFolder();

// The engineer's own folder for the tool's files: $XDG_CONFIG_HOME/korvane_v3 (or
// ~/.config/korvane_v3) on Linux, %APPDATA%\korvane_v3 on Windows; "" when neither is known.
std::string userDataFolder();

// Creates the folder (and its parents) when missing and makes it the working directory.
bool enterFolder(const std::string& path);

// The command-line arguments as UTF-8 (on Windows read again from the system, since argv
// holds them in the ANSI code page, where most names of another language do not fit).
std::vector<std::string> programArguments(int argc, char** argv);
