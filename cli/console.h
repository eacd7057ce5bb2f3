// The console seam of the command line: whether standard input and output are a terminal,
// reading an answer (without echo for a password), and a console that shows the UTF-8 the
// tool writes. console_posix.cpp and console_win32.cpp implement it.
#pragma once
#include <string>

bool consoleInputIsTerminal();
bool consoleOutputIsTerminal();
// Reads one line from standard input without its line end; the typing is not shown when echo
// is false and the input is a terminal. false at the end of the input.
bool consoleReadLine(std::string* out, bool echo);
// Makes a Windows console show the UTF-8 output as text, and has redirected output end its
// lines with "\n" alone as on Linux, so scripts read the same bytes (nothing to do on Linux).
void consoleSetUp();
