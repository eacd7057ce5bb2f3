// Fuzz harness: the preferences loader fed arbitrary files. Whatever the file holds, the
// result is -1 or 1 and the port name respects its limit of 99 characters without blanks.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/preferences.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchFile("prefs");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) fail("cannot write the preferences file");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  Preferences p;
  p.portName = "left over";
  const int r = loadPreferences(&p, path.c_str());
  if (r != 1) fail("an existing preferences file did not load");
  if (p.portName.size() > static_cast<size_t>(kPreferencesPortNameMax))
    fail("port name over its limit");
  if (p.portName.find_first_of(" \t\r\n") != std::string::npos) fail("port name holds white space");
  if (p.portName == "left over") fail("load kept a value of the record it was given");
  return 0;
}
