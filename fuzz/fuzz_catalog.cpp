// Fuzz harness: the message catalog loader fed arbitrary .mo files, then lookups of arbitrary
// texts in whatever it accepted. A malformed catalog must be refused with a code and leave
// the catalog in force untouched; an accepted one must answer every lookup in bounds.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "util/catalog.h"

using namespace fuzzsupport;

namespace {
std::string catalogPath() {
  static const std::string path = scratchFile("catalog");
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The last bytes (after the final 0x00) are lookups; the rest is the file.
  size_t fileBytes = size;
  while (fileBytes > 0 && data[fileBytes - 1] != 0) --fileBytes;
  const std::string lookup(reinterpret_cast<const char*>(data + fileBytes), size - fileBytes);
  if (fileBytes == 0) fileBytes = size;
  FILE* f = std::fopen(catalogPath().c_str(), "wb");
  if (!f) fail("cannot write the catalog file");
  std::fwrite(data, 1, fileBytes, f);
  std::fclose(f);

  catalog_unload();
  const char* probe = "Timeout!";
  const int r = catalog_load_path(catalogPath().c_str());
  if (r != 1) {
    if (r >= 0) fail("a refused catalog gave a non-negative code");
    if (tr(probe) != probe) fail("a refused catalog changed the catalog in force");
    return 0;
  }
  for (const char* text : {probe, "", "Yes", "No", "Ok", lookup.c_str()}) {
    const char* t = tr(text);
    if (!t) fail("tr returned no text");
    (void)std::strlen(t);  // the sanitizers check the translation is terminated in bounds
  }
  catalog_unload();
  return 0;
}
