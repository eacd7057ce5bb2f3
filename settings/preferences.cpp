// Reading and writing "korvane_v3.ini", the one-line record of the last port that opened.
// The save goes through a temporary file and a rename, so a failed save never leaves a
// truncated file where the good one was.
#include "settings/preferences.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "util/files.h"
#include "util/number_text.h"

namespace {

// The longest line worth reading: a port name at its limit plus five numbers and spaces.
constexpr size_t kLineMaxBytes = 256;
// The scan width below is written out in the format.
static_assert(kPreferencesPortNameMax == 99, "update the %99s width of loadPreferences");

bool validPortName(const std::string& name) {
  if (name.empty() || name.size() > static_cast<size_t>(kPreferencesPortNameMax)) return false;
  for (char ch : name)
    if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f')
      return false;
  return true;
}

}  // namespace

int loadPreferences(Preferences* prefs, const char* path) {
  if (!prefs) return -1;
  *prefs = Preferences();
  if (!path) return -1;
  FILE* f = fileOpen(path, "rb");
  if (!f) return -1;
  char line[kLineMaxBytes + 1] = {0};
  if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
  std::fclose(f);
  line[std::strcspn(line, "\r\n")] = '\0';

  // The name is scanned into a buffer of the limit plus one; %n tells whether it stopped at
  // a separator or was cut by the width. A cut name would name some other port, so it is
  // taken as the first mismatch and every value keeps its default.
  char name[kPreferencesPortNameMax + 1] = {0};
  int nameEnd = 0;
  if (std::sscanf(line, " %99s%n", name, &nameEnd) != 1) return 1;
  char after = line[nameEnd];
  if (after != '\0' && after != ' ' && after != '\t') return 1;
  prefs->portName = name;

  // The values are read as "%d %d %c %d %d" reads them; those after the first mismatch keep
  // their defaults.
  const char* p = line + nameEnd;
  if (!readScanfInt(&p, &prefs->baud) || !readScanfInt(&p, &prefs->dataBits) ||
      !readScanfChar(&p, &prefs->parity) || !readScanfInt(&p, &prefs->stopBits))
    return 1;
  readScanfInt(&p, &prefs->maxBaud);
  return 1;
}

int savePreferences(const Preferences& prefs, const char* path) {
  if (!path || !*path) return -1;
  // A name that is empty, too long or holds white space would not read back as one value.
  if (!validPortName(prefs.portName)) {
    errno = EINVAL;
    return -1;
  }
  char text[kLineMaxBytes];
  int len = std::snprintf(text, sizeof text, "%s %d %d %c %d %d", prefs.portName.c_str(),
                          prefs.baud, prefs.dataBits, prefs.parity, prefs.stopBits, prefs.maxBaud);
  if (len < 0 || static_cast<size_t>(len) >= sizeof text) return -1;

  return fileReplaceContents(path, std::string(text, static_cast<size_t>(len))) == 0 ? 1 : -1;
}

LineSettings preferencesLine(const Preferences& prefs) {
  LineSettings line;
  line.baud = static_cast<uint32_t>(prefs.baud);
  line.dataBits = static_cast<uint8_t>(prefs.dataBits);
  line.parity = prefs.parity;
  line.stopBits = static_cast<uint8_t>(prefs.stopBits);
  return line;
}
