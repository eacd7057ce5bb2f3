// Text conversions used wherever a number is shown or the board sends text: integers in a
// base, and code-page text to UTF-8.
#include "util/text.h"

#include <vector>

#include "util/codepage.h"

int intToText(char* buf, size_t cap, int64_t v, int base) {
  static const char kDigits[] = "0123456789ABCDEF";
  // 64 binary digits and a sign at most.
  char tmp[66];
  int len = 0;
  if (base >= 2 && base <= 16) {
    // The magnitude as unsigned, so INT64_MIN needs no negation of a signed value.
    uint64_t mag = v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    char rev[64];
    int nd = 0;
    do {
      rev[nd++] = kDigits[mag % static_cast<unsigned>(base)];
      mag /= static_cast<unsigned>(base);
    } while (mag != 0);
    if (v < 0) tmp[len++] = '-';
    while (nd > 0) tmp[len++] = rev[--nd];
  }
  if (buf && cap > 0) {
    size_t n = static_cast<size_t>(len) < cap - 1 ? static_cast<size_t>(len) : cap - 1;
    for (size_t i = 0; i < n; ++i) buf[i] = tmp[i];
    buf[n] = '\0';
  }
  return len;
}

size_t utf16ToUtf8(const uint16_t* in, size_t n, char* out, size_t cap) {
  if (!out || cap == 0) return 0;
  size_t len = 0;
  // Room for the bytes of one character before the terminating NUL.
  auto fits = [&](size_t bytes) { return len + bytes < cap; };
  for (size_t i = 0; in && i < n; ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000u + ((cp - 0xD800u) << 10) + (in[i + 1] - 0xDC00u);
      if (!fits(4)) break;
      out[len++] = static_cast<char>(0xF0 | (cp >> 18));
      out[len++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out[len++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out[len++] = static_cast<char>(0x80 | (cp & 0x3F));
      ++i;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      if (!fits(1)) break;
      out[len++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
      if (!fits(2)) break;
      out[len++] = static_cast<char>(0xC0 | (cp >> 6));
      out[len++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      if (!fits(3)) break;
      out[len++] = static_cast<char>(0xE0 | (cp >> 12));
      out[len++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out[len++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  out[len] = '\0';
  return len;
}

size_t codePageToUtf8(const uint8_t* in, size_t n, char* out, size_t cap, int codePage) {
  if (!out || cap == 0) return 0;
  if (!in) n = 0;
  std::vector<uint16_t> units(n);
  size_t count = codePageToUtf16(in, n, units.data(), units.size(), codePage);
  return utf16ToUtf8(units.data(), count, out, cap);
}

std::string codePageToUtf8(const std::string& in, int codePage) {
  // Three UTF-8 bytes per byte at most (code page tables hold only the basic plane).
  std::vector<char> out(in.size() * 3 + 1);
  size_t len = codePageToUtf8(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out.data(),
                              out.size(), codePage);
  return std::string(out.data(), len);
}
