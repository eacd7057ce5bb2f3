// The console of the command line on Windows: a console is read in UTF-16 (ReadConsoleW) and
// switched to UTF-8 output; redirected input and output are plain byte streams.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

#include "cli/console.h"
#include "util/utf16_win32.h"

namespace {

constexpr DWORD kReadUnits = 1024;

bool isConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool consoleInputIsTerminal() { return isConsole(STD_INPUT_HANDLE); }
bool consoleOutputIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }

bool consoleReadLine(std::string* out, bool echo) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!GetConsoleMode(in, &saved)) {
    const bool ok = static_cast<bool>(std::getline(std::cin, *out));
    if (ok && !out->empty() && out->back() == '\r') out->pop_back();
    return ok;
  }
  if (!echo) SetConsoleMode(in, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::wstring line;
  bool ended = false;
  for (;;) {
    wchar_t buf[kReadUnits];
    DWORD got = 0;
    if (!ReadConsoleW(in, buf, kReadUnits, &got, nullptr) || got == 0) {
      ended = line.empty();
      break;
    }
    line.append(buf, got);
    const size_t nl = line.find(L'\n');
    if (nl != std::wstring::npos) {
      line.resize(nl);
      break;
    }
  }
  if (!echo) {
    SetConsoleMode(in, saved);
    std::fputc('\n', stderr);
  }
  if (!line.empty() && line.back() == L'\r') line.pop_back();
  *out = utf8FromUtf16(line.data(), line.size());
  return !ended;
}

void consoleSetUp() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}
