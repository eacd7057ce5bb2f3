// The console of the command line on Linux: isatty and termios.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/console.h"

bool consoleInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }
bool consoleOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

bool consoleReadLine(std::string* out, bool echo) {
  termios saved{};
  bool restore = false;
  if (!echo && tcgetattr(STDIN_FILENO, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    restore = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  const bool ok = static_cast<bool>(std::getline(std::cin, *out));
  if (restore) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fputc('\n', stderr);
  }
  if (ok && !out->empty() && out->back() == '\r') out->pop_back();
  return ok;
}

void consoleSetUp() {}
