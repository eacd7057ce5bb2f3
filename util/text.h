// Small text conversions shared by several parts of the tool: integers as text in a base,
// and board text (code page 866) to UTF-8. The readers of typed numbers are in
// util/number_text.h, which this header brings along.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/number_text.h"

// Writes v in base (2..16, upper-case digits) into buf of capacity cap (NUL-terminated, cut
// to fit). Returns the length of the full text (sign included); base < 2 writes "" and returns 0.
int intToText(char* buf, size_t cap, int64_t v, int base);
// Converts n bytes in a code page (866 supported; others are treated as Latin-1) to UTF-8
// into out of capacity cap; a character that would not fit before the NUL is not written.
// Returns the length written (without the NUL).
size_t codePageToUtf8(const uint8_t* in, size_t n, char* out, size_t cap, int codePage);
// Convenience: the same into a std::string.
std::string codePageToUtf8(const std::string& in, int codePage);
// Encodes n UTF-16 units as UTF-8 into out of capacity cap (NUL-terminated, stops before the
// first character that would not fit). A high surrogate followed by a low one gives the
// four-byte form; an unpaired surrogate, which has no UTF-8 form, gives U+FFFD.
// Returns the length written (without the NUL).
size_t utf16ToUtf8(const uint16_t* in, size_t n, char* out, size_t cap);
