// Code-page text on Linux: code page 866 through the project's own table.
#include "util/codepage.h"

size_t codePageToUtf16(const uint8_t* in, size_t n, uint16_t* out, size_t cap, int codePage) {
  if (!in || !out) return 0;
  size_t count = n < cap ? n : cap;
  for (size_t i = 0; i < count; ++i) out[i] = codePage == 866 ? cp866ToUtf16(in[i]) : in[i];
  return count;
}
