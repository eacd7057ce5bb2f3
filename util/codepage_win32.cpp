// Code-page text on Windows: code page 866 through the system's MultiByteToWideChar.
#include <windows.h>

#include <climits>

#include "util/codepage.h"

namespace {
constexpr UINT kCodePageDosCyrillic = 866;
}

size_t codePageToUtf16(const uint8_t* in, size_t n, uint16_t* out, size_t cap, int codePage) {
  if (!in || !out) return 0;
  size_t count = n < cap ? n : cap;
  if (count == 0) return 0;
  if (codePage != 866) {
    for (size_t i = 0; i < count; ++i) out[i] = in[i];
    return count;
  }
  // A single-byte code page: every byte is one character, so count units always suffice.
  if (count <= static_cast<size_t>(INT_MAX) &&
      MultiByteToWideChar(kCodePageDosCyrillic, 0, reinterpret_cast<const char*>(in),
                          static_cast<int>(count), reinterpret_cast<wchar_t*>(out),
                          static_cast<int>(count)) == static_cast<int>(count))
    return count;
  // Without the system's table (it can be left out of an installation) the project's own.
  for (size_t i = 0; i < count; ++i) out[i] = cp866ToUtf16(in[i]);
  return count;
}
