// The lenient readers of what the windows show and the strict reader of the command line.
#include "util/number_text.h"

#include <cctype>

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

uint32_t parseHexAfterPrefix(const std::string& text) {
  // The field shows "0x%X"; an engineer who deletes the prefix and types 1A2 still means
  // 0x1A2, not the 2 that skipping two characters would leave.
  const size_t start =
      (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? 2 : 0;
  uint32_t v = 0;
  for (size_t i = start; i < text.size(); ++i) {
    int c = static_cast<unsigned char>(text[i]);
    if (!std::isxdigit(c)) break;
    int d = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  return v;
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
