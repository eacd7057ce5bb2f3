// Fixed-point parsing, integers in a base, and board text (code page 866) to UTF-8.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "util/text.h"

namespace {

std::string hexOf(const char* s, size_t n) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, "%02X ", static_cast<unsigned char>(s[i]));
    out += b;
  }
  return out;
}

TEST(ParseFixed, ScalesByDecimalsWithEitherSeparatorTruncatesAndWrapsAt32Bits) {
  const struct {
    const char* text;
    uint8_t decimals;
    int32_t value;
  } cases[] = {{"12.34", 2, 1234},
               {"12,5", 2, 1250},
               {"12", 2, 1200},
               {".5", 2, 50},
               {"-1.5", 2, -150},
               {"1.239", 2, 123},
               {"", 2, 0},
               {"17.9", 0, 17},
               {"-0,07", 3, -70},
               {"4294967296", 0, 0},
               {"2147483648", 0, INT32_MIN},
               {"-2147483648", 0, INT32_MIN},
               {"1", 32, 0}};  // 10^32 is a multiple of 2^32
  for (const auto& c : cases)
    EXPECT_EQ(parseFixed(c.text, c.decimals), c.value) << c.text << " " << int(c.decimals);
  EXPECT_EQ(parseFixed(nullptr, 2), 0);
  (void)parseFixed("99999999999999999999.9999", 255);  // 255 decimals just wrap, without trapping
}

TEST(IntToText, WritesDigitsInBaseUpTo64BitExtremes) {
  const struct {
    int64_t value;
    int base;
    std::string text;
  } cases[] = {{255, 16, "FF"},
               {-42, 10, "-42"},
               {5, 2, "101"},
               {0xABCDEF, 16, "ABCDEF"},
               {INT64_MIN, 10, "-9223372036854775808"},
               {INT64_MIN, 16, "-8000000000000000"},
               {INT64_MAX, 16, "7FFFFFFFFFFFFFFF"},
               {INT64_MIN, 2, "-1" + std::string(63, '0')}};
  char buf[80];
  for (const auto& c : cases) {
    EXPECT_EQ(intToText(buf, sizeof buf, c.value, c.base), static_cast<int>(c.text.size()))
        << c.text;
    EXPECT_EQ(std::string(buf), c.text);
  }
  for (int base = 2; base <= 16; ++base) {
    EXPECT_EQ(intToText(buf, sizeof buf, 0, base), 1);
    EXPECT_STREQ(buf, "0");
  }
  for (int base : {1, 17}) {  // unsupported bases give an empty text
    strcpy(buf, "junk");
    EXPECT_EQ(intToText(buf, sizeof buf, 7, base), 0);
    EXPECT_STREQ(buf, "");
  }
}

TEST(IntToText, CapacityCutsTheTextAndNeverWritesPastIt) {
  char buf[16];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(intToText(buf, 4, -123456, 10), 7);  // full length is still reported
  EXPECT_STREQ(buf, "-12");
  EXPECT_EQ(std::string(buf + 4, 12), std::string(12, '#'));
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(intToText(buf, 1, 99, 10), 2);
  EXPECT_EQ(hexOf(buf, 2), "00 23 ");
  EXPECT_EQ(intToText(buf, 0, 99, 10), 2);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(intToText(nullptr, 0, -5, 10), 2);
}

TEST(CodePage866, CyrillicCapitalsBecomeTwoByteUtf8AndOtherPagesPassThrough) {
  const uint8_t in[] = {0x80, 0x81, 0x82};
  char out[32];
  EXPECT_EQ(codePageToUtf8(in, 3, out, sizeof out, 866), 6u);
  EXPECT_EQ(hexOf(out, 7), "D0 90 D0 91 D0 92 00 ");
  EXPECT_EQ(codePageToUtf8(std::string("TRK \x8F\xE0\xA8", 7), 866), "TRK При");
  const uint8_t latin[] = {'A', 'z', '0', 0xE9};
  EXPECT_EQ(codePageToUtf8(latin, 3, out, sizeof out, 866), 3u);
  EXPECT_STREQ(out, "Az0");
  EXPECT_EQ(codePageToUtf8(latin, 4, out, sizeof out, 1252), 5u);  // Latin-1 without a table: é
  EXPECT_STREQ(out, "Az0\xC3\xA9");
}

TEST(CodePage866, CapacityStopsBeforeACharacterThatWouldNotFit) {
  const uint8_t in[] = {0x80, 0x81, 0x82};
  char out[16];
  // Room for 4 bytes and the NUL: two capitals fit, the third is left out whole.
  const struct {
    size_t capacity, length;
    const char* bytes;
  } cases[] = {
      {5, 4, "D0 90 D0 91 00 23 "}, {4, 2, "D0 90 00 23 23 23 "}, {1, 0, "00 23 23 23 23 23 "}};
  for (const auto& c : cases) {
    memset(out, '#', sizeof out);
    EXPECT_EQ(codePageToUtf8(in, 3, out, c.capacity, 866), c.length);
    EXPECT_EQ(hexOf(out, 6), c.bytes) << c.capacity;
  }
  EXPECT_EQ(codePageToUtf8(in, 3, out, 0, 866), 0u);
  EXPECT_EQ(codePageToUtf8(nullptr, 3, out, sizeof out, 866), 0u);
  EXPECT_EQ(out[0], '\0');
}

TEST(Utf16ToUtf8, EncodesEachLengthPairsSurrogatesAndReplacesUnpairedOnes) {
  char out[32];
  const uint16_t lengths[] = {0x41, 0x7FF, 0x800, 0xFFFF, 0xD83D, 0xDE00};
  EXPECT_EQ(hexOf(out, utf16ToUtf8(lengths, 6, out, sizeof out)),
            "41 DF BF E0 A0 80 EF BF BF F0 9F 98 80 ");
  // A lone low, a high followed by a non-surrogate, and a high at the very end.
  const uint16_t unpaired[] = {0xDC00, 0xD800, 0x41, 0xDBFF};
  EXPECT_EQ(hexOf(out, utf16ToUtf8(unpaired, 4, out, sizeof out)),
            "EF BF BD EF BF BD 41 EF BF BD ");
  // A four-byte character is left out whole when it does not fit.
  const uint16_t wide[] = {0x41, 0xD83D, 0xDE00, 0x42};
  memset(out, '#', sizeof out);
  EXPECT_EQ(utf16ToUtf8(wide, 4, out, 5), 1u);
  EXPECT_EQ(hexOf(out, 3), "41 00 23 ");
  EXPECT_EQ(utf16ToUtf8(wide, 4, out, 6), 5u);
  EXPECT_EQ(hexOf(out, 6), "41 F0 9F 98 80 00 ");
}

}  // namespace
