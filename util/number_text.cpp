// The lenient readers of what the windows show and the strict reader of the command line.
#include "util/number_text.h"

#include <cctype>
#include <climits>

namespace {
// Where a lenient reader stops counting: far beyond any field, far below overflow.
constexpr int64_t kParseCap = INT64_C(1000000000000000000);
}  // namespace

// One more decimal digit, saturating at kParseCap: a long number typed into a field must not
// overflow into a negative or small value.
static int64_t appendDigit(int64_t v, int digit) {
  return v >= kParseCap / 10 ? kParseCap : v * 10 + digit;
}

// Reads leading spaces, an optional sign and the integer digits (saturating); returns the
// position after them.
static const char* readSignedDigits(const char* p, bool* neg, int64_t* v) {
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  *neg = false;
  if (*p == '+' || *p == '-') *neg = (*p++ == '-');
  *v = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    *v = appendDigit(*v, *p - '0');
    ++p;
  }
  return p;
}

int64_t parseLeadingInt(const std::string& text) {
  bool neg;
  int64_t v;
  readSignedDigits(text.c_str(), &neg, &v);
  return neg ? -v : v;
}

uint32_t parseUnsigned(const std::string& text) {
  return static_cast<uint32_t>(static_cast<uint64_t>(parseLeadingInt(text)));
}

int64_t parseScaledDecimal(const std::string& text, unsigned decimals) {
  bool neg;
  int64_t v;
  const char* p = readSignedDigits(text.c_str(), &neg, &v);
  unsigned taken = 0;
  if (*p == '.' || *p == ',') {
    ++p;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
      if (taken < decimals) {
        v = appendDigit(v, *p - '0');
        ++taken;
      }
      ++p;
    }
  }
  for (; taken < decimals; ++taken) v = appendDigit(v, 0);
  return neg ? -v : v;
}

bool hasHexPrefix(const std::string& text) {
  return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint64_t readHexDigits(const std::string& text, size_t* pos, int maxDigits, int* digits) {
  uint64_t v = 0;
  *digits = 0;
  while (*pos < text.size() && *digits < maxDigits) {
    const int d = hexDigitValue(text[*pos]);
    if (d < 0) break;
    v = v << 4 | static_cast<uint64_t>(d);
    ++*pos;
    ++*digits;
  }
  return v;
}

uint32_t parseHexAfterPrefix(const std::string& text) {
  // The field shows "0x%X"; an engineer who deletes the prefix and types 1A2 still means
  // 0x1A2, not the 2 that skipping two characters would leave.
  size_t pos = hasHexPrefix(text) ? 2 : 0;
  int digits = 0;
  // Shifting the whole run through 64 bits leaves its last eight digits in the low half.
  return static_cast<uint32_t>(readHexDigits(text, &pos, INT_MAX, &digits));
}

uint64_t parseHex64AfterPrefix(const std::string& text) {
  size_t pos = hasHexPrefix(text) ? 2 : 0;
  int digits = 0;
  return readHexDigits(text, &pos, 16, &digits);
}

int64_t parseFixedWrapping(const char* text, unsigned decimals) {
  // Unsigned arithmetic: the value wraps like the board's own fields, without undefined
  // behaviour on overflow. Bytes are taken unsigned, so a character's worth does not depend
  // on the compiler's char.
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  uint64_t whole = 0;
  while (*p && *p != '.' && *p != ',') whole = whole * 10u + static_cast<uint64_t>(*p++ - '0');
  for (unsigned i = 0; i < decimals; ++i) whole *= 10u;
  uint64_t fraction = 0;
  unsigned filled = 0;
  if (*p == '.' || *p == ',') {
    ++p;
    for (; filled < decimals && *p; ++filled)
      fraction = fraction * 10u + static_cast<uint64_t>(*p++ - '0');
  }
  for (; filled < decimals; ++filled) fraction *= 10u;
  const uint64_t result = whole + fraction;
  return static_cast<int64_t>(negative ? 0u - result : result);
}

int32_t parseFixed(const char* text, unsigned decimals) {
  if (!text) return 0;
  // Wrapping is exact in every width, so the low 32 bits are the 32-bit reading.
  return static_cast<int32_t>(static_cast<uint32_t>(parseFixedWrapping(text, decimals)));
}

uint64_t parseLeadingDecimalWrapping(const std::string& text) {
  const char* t = text.c_str();
  while (*t == ' ') ++t;
  bool neg = false;
  if (*t == '-' || *t == '+') neg = *t++ == '-';
  uint64_t v = 0;
  while (*t >= '0' && *t <= '9') v = v * 10 + static_cast<uint64_t>(*t++ - '0');
  return neg ? uint64_t(0) - v : v;
}

// As the C library's conversions start: white space and an optional sign. The position of the
// first digit, or null when no digit follows.
static const char* scanfDigitsStart(const char* p, bool* neg) {
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  *neg = false;
  if (*p == '+' || *p == '-') *neg = (*p++ == '-');
  return std::isdigit(static_cast<unsigned char>(*p)) ? p : nullptr;
}

bool readSaturatingU32(const char** at, uint32_t* out) {
  bool neg;
  const char* p = scanfDigitsStart(*at, &neg);
  if (!p) return false;
  uint64_t v = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
    if (v < UINT64_C(0x100000000)) v = v * 10 + static_cast<unsigned>(*p - '0');
  const uint32_t r = v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
  *out = neg ? 0u - r : r;
  *at = p;
  return true;
}

bool readScanfInt(const char** at, int* out) {
  bool neg;
  const char* p = scanfDigitsStart(*at, &neg);
  if (!p) return false;
  // The magnitude stops at the 64-bit limit of its sign, as the C library's conversion does.
  const uint64_t limit = neg ? UINT64_C(1) << 63 : (UINT64_C(1) << 63) - 1;
  uint64_t mag = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    const unsigned d = static_cast<unsigned>(*p - '0');
    mag = mag > (limit - d) / 10 ? limit : mag * 10 + d;
  }
  const uint64_t v = neg ? 0u - mag : mag;
  *out = static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(v)));
  *at = p;
  return true;
}

bool readScanfChar(const char** at, char* out) {
  const char* p = *at;
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (!*p) return false;
  *out = *p++;
  *at = p;
  return true;
}

bool parseLeadingU32(const char* p, LeadingBlanks blanks, uint32_t* out) {
  for (;; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const bool blank = blanks == LeadingBlanks::Spaces          ? c == ' '
                       : blanks == LeadingBlanks::SpacesAndTabs ? c == ' ' || c == '\t'
                                                                : c && std::isspace(c);
    if (!blank) break;
  }
  if (*p == '+') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  uint64_t v = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    v = v * 10 + static_cast<unsigned>(*p - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  *out = static_cast<uint32_t>(v);
  return true;
}

bool parseNumberText(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty()) return false;
  unsigned base = 10;
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
    if (v > max) return false;
  }
  *out = v;
  return true;
}

bool parseStrictDecimal(const std::string& text, size_t maxDigits, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > maxDigits) return false;
  uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const unsigned d = static_cast<unsigned>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  if (v > max) return false;
  *out = v;
  return true;
}

bool parseStrictHundredths(const std::string& t, int64_t* out) {
  constexpr int64_t kMaxWhole = 99999999;
  int64_t whole = 0;
  size_t i = 0;
  size_t digits = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits) {
    whole = whole * 10 + (t[i] - '0');
    if (whole > kMaxWhole) return false;
  }
  int64_t frac = 0;
  int fracDigits = 0;
  if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
    for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      if (++fracDigits > 2) return false;
      frac = frac * 10 + (t[i] - '0');
    }
  }
  if (i != t.size() || (digits == 0 && fracDigits == 0)) return false;
  if (fracDigits == 1) frac *= 10;
  *out = whole * 100 + frac;
  return true;
}
