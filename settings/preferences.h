// The preferences file "korvane_v3.ini": the last port opened successfully, its line
// settings and the maximum baud rate for firmware updates, one line "%s %d %d %c %d %d".
#pragma once
#include <string>

#include "link/port.h"

constexpr const char* kPreferencesFile = "korvane_v3.ini";
constexpr int kPreferencesPortNameMax = 99;

struct Preferences {
  std::string portName;  // at most 99 characters, no white space
  int baud = 4800;
  int dataBits = 8;
  char parity = 'N';
  int stopBits = 1;
  int maxBaud = 38400;
};

// The line the preferences describe.
LineSettings preferencesLine(const Preferences& prefs);

// Sets the defaults, then reads the file: -1 when it is missing (defaults kept), 1 otherwise.
// Values after the first one that does not scan keep their defaults.
int loadPreferences(Preferences* prefs, const char* path = kPreferencesFile);
// Writes the file (through a temporary file and a rename): 1 on success, -1 when it cannot
// be written (the old file is left as it was).
int savePreferences(const Preferences& prefs, const char* path = kPreferencesFile);
