// Fuzz harness: the settings file import fed arbitrary text. A refused file changes nothing;
// an accepted one changes only keyed fields, and saving the result and loading it again
// gives the same records (nothing a file can hold breaks the round trip).
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/settings_json.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  MainSettings main;
  ExtraSettings extra;
  std::memset(&main, 0x5A, sizeof main);
  std::memset(&extra, 0xA5, sizeof extra);
  const MainSettings mainBefore = main;
  const ExtraSettings extraBefore = extra;
  std::vector<std::string> skipped;
  const int r = loadSettingsText(text, &main, &extra, &skipped);
  if (r != kJsonOk) {
    if (r != kJsonNotJson && r != kJsonMissingObject && r != kJsonCannotOpen)
      fail("import gave an undefined code");
    if (std::memcmp(&main, &mainBefore, sizeof main) != 0 ||
        std::memcmp(&extra, &extraBefore, sizeof extra) != 0)
      fail("a refused import changed the records");
    return 0;
  }
  // Starts from the same records, so fields without a key compare equal and every keyed
  // field must come back with the value the export wrote.
  MainSettings main2 = main;
  ExtraSettings extra2 = extra;
  if (loadSettingsText(settingsFileText(main, extra), &main2, &extra2) != kJsonOk)
    fail("the tool cannot read its own export");
  if (std::memcmp(&main, &main2, sizeof main) != 0 ||
      std::memcmp(&extra, &extra2, sizeof extra) != 0)
    fail("export and import of an imported file differ");
  return 0;
}
