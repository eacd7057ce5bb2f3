// Fixed-point parsing, integers in a base, and board text (code page 866) to UTF-8.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "util/text.h"

namespace {

TEST(ParseFixed, ScalesByDecimalsWithEitherSeparatorAndTruncates) {
  EXPECT_EQ(parseFixed("12.34", 2), 1234);
  EXPECT_EQ(parseFixed("12,5", 2), 1250);
  EXPECT_EQ(parseFixed("12", 2), 1200);
  EXPECT_EQ(parseFixed(".5", 2), 50);
  EXPECT_EQ(parseFixed("-1.5", 2), -150);
  EXPECT_EQ(parseFixed("1.239", 2), 123);
  EXPECT_EQ(parseFixed("", 2), 0);
  EXPECT_EQ(parseFixed("17.9", 0), 17);
  EXPECT_EQ(parseFixed("-0,07", 3), -70);
  EXPECT_EQ(parseFixed(nullptr, 2), 0);
}

TEST(ParseFixed, WrapsAt32BitsWithoutTrapping) {
  // 4294967296 wraps to 0; 2147483648 wraps to INT32_MIN; 255 decimals just wrap.
  EXPECT_EQ(parseFixed("4294967296", 0), 0);
  EXPECT_EQ(parseFixed("2147483648", 0), INT32_MIN);
  EXPECT_EQ(parseFixed("-2147483648", 0), INT32_MIN);
  EXPECT_EQ(parseFixed("1", 32), 0);  // 10^32 is a multiple of 2^32
  (void)parseFixed("99999999999999999999.9999", 255);
}

TEST(IntToText, WritesDigitsInBase) {
  char buf[80];
  EXPECT_EQ(intToText(buf, sizeof buf, 255, 16), 2);
  EXPECT_STREQ(buf, "FF");
  EXPECT_EQ(intToText(buf, sizeof buf, -42, 10), 3);
  EXPECT_STREQ(buf, "-42");
  for (int base = 2; base <= 16; ++base) {
    EXPECT_EQ(intToText(buf, sizeof buf, 0, base), 1);
    EXPECT_STREQ(buf, "0");
  }
  EXPECT_EQ(intToText(buf, sizeof buf, 5, 2), 3);
  EXPECT_STREQ(buf, "101");
  EXPECT_EQ(intToText(buf, sizeof buf, 0xABCDEF, 16), 6);
  EXPECT_STREQ(buf, "ABCDEF");
}

TEST(IntToText, UnsupportedBaseGivesEmptyText) {
  char buf[8] = "junk";
  EXPECT_EQ(intToText(buf, sizeof buf, 7, 1), 0);
  EXPECT_STREQ(buf, "");
  strcpy(buf, "junk");
  EXPECT_EQ(intToText(buf, sizeof buf, 7, 17), 0);
  EXPECT_STREQ(buf, "");
}

TEST(IntToText, ExtremesOf64Bits) {
  char buf[80];
  EXPECT_EQ(intToText(buf, sizeof buf, INT64_MIN, 10), 20);
  EXPECT_STREQ(buf, "-9223372036854775808");
  EXPECT_EQ(intToText(buf, sizeof buf, INT64_MIN, 16), 17);
  EXPECT_STREQ(buf, "-8000000000000000");
  EXPECT_EQ(intToText(buf, sizeof buf, INT64_MAX, 16), 16);
  EXPECT_STREQ(buf, "7FFFFFFFFFFFFFFF");
  EXPECT_EQ(intToText(buf, sizeof buf, INT64_MIN, 2), 65);
  EXPECT_EQ(std::string(buf), "-1" + std::string(63, '0'));
}

TEST(IntToText, CapacityCutsTheTextAndNeverWritesPastIt) {
  char buf[16];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(intToText(buf, 4, -123456, 10), 7);  // full length is still reported
  EXPECT_STREQ(buf, "-12");
  for (size_t i = 4; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#') << i;

  memset(buf, '#', sizeof buf);
  EXPECT_EQ(intToText(buf, 1, 99, 10), 2);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], '#');
  EXPECT_EQ(intToText(buf, 0, 99, 10), 2);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(intToText(nullptr, 0, -5, 10), 2);
}

std::string hexOf(const char* s, size_t n) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, "%02X ", static_cast<unsigned char>(s[i]));
    out += b;
  }
  return out;
}

TEST(CodePage866, CyrillicCapitalsBecomeTwoByteUtf8) {
  const uint8_t in[] = {0x80, 0x81, 0x82};
  char out[4 * 3 + 8];
  EXPECT_EQ(codePageToUtf8(in, 3, out, sizeof out, 866), 6u);
  EXPECT_EQ(hexOf(out, 7), "D0 90 D0 91 D0 92 00 ");
  EXPECT_EQ(codePageToUtf8(std::string("TRK \x8F\xE0\xA8", 7), 866), "TRK При");
}

// Every byte of the upper half against the system's own converter.
TEST(CodePage866, WholeUpperHalfAgreesWithIconv) {
  iconv_t cd = iconv_open("UTF-8", "CP866");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP866 here";
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in[1] = {static_cast<char>(b)};
    char expected[8] = {0};
    char* ip = in;
    char* op = expected;
    size_t il = 1, ol = sizeof expected - 1;
    ASSERT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1)) << b;
    uint8_t u = static_cast<uint8_t>(b);
    char got[12];
    size_t len = codePageToUtf8(&u, 1, got, sizeof got, 866);
    EXPECT_EQ(std::string(got, len), std::string(expected)) << std::hex << b;
  }
  iconv_close(cd);
}

TEST(CodePage866, AsciiHalfAndOtherPagesPassThrough) {
  const uint8_t in[] = {'A', 'z', '0', 0xE9};
  char out[32];
  EXPECT_EQ(codePageToUtf8(in, 3, out, sizeof out, 866), 3u);
  EXPECT_STREQ(out, "Az0");
  // Latin-1 for pages without a table: 0xE9 is é.
  EXPECT_EQ(codePageToUtf8(in, 4, out, sizeof out, 1252), 5u);
  EXPECT_STREQ(out, "Az0\xC3\xA9");
}

TEST(CodePage866, CapacityStopsBeforeACharacterThatWouldNotFit) {
  const uint8_t in[] = {0x80, 0x81, 0x82};
  char out[16];
  memset(out, '#', sizeof out);
  // Room for 4 bytes and the NUL: two capitals fit, the third is left out whole.
  EXPECT_EQ(codePageToUtf8(in, 3, out, 5, 866), 4u);
  EXPECT_EQ(hexOf(out, 6), "D0 90 D0 91 00 23 ");
  memset(out, '#', sizeof out);
  EXPECT_EQ(codePageToUtf8(in, 3, out, 4, 866), 2u);
  EXPECT_EQ(hexOf(out, 5), "D0 90 00 23 23 ");
  memset(out, '#', sizeof out);
  EXPECT_EQ(codePageToUtf8(in, 3, out, 1, 866), 0u);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], '#');
  EXPECT_EQ(codePageToUtf8(in, 3, out, 0, 866), 0u);
  EXPECT_EQ(codePageToUtf8(nullptr, 3, out, sizeof out, 866), 0u);
  EXPECT_EQ(out[0], '\0');
}

TEST(Utf16ToUtf8, EncodesEachLengthAndSurrogatePairs) {
  const uint16_t in[] = {0x41, 0x7FF, 0x800, 0xFFFF, 0xD83D, 0xDE00};
  char out[32];
  size_t len = utf16ToUtf8(in, 6, out, sizeof out);
  EXPECT_EQ(hexOf(out, len), "41 DF BF E0 A0 80 EF BF BF F0 9F 98 80 ");
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacementCharacter) {
  // A lone low, a high followed by a non-surrogate, and a high at the very end.
  const uint16_t in[] = {0xDC00, 0xD800, 0x41, 0xDBFF};
  char out[32];
  size_t len = utf16ToUtf8(in, 4, out, sizeof out);
  EXPECT_EQ(hexOf(out, len), "EF BF BD EF BF BD 41 EF BF BD ");
}

TEST(Utf16ToUtf8, FourByteCharacterIsLeftOutWhenItDoesNotFit) {
  const uint16_t in[] = {0x41, 0xD83D, 0xDE00, 0x42};
  char out[8];
  memset(out, '#', sizeof out);
  EXPECT_EQ(utf16ToUtf8(in, 4, out, 5), 1u);
  EXPECT_EQ(hexOf(out, 3), "41 00 23 ");
  EXPECT_EQ(utf16ToUtf8(in, 4, out, 6), 5u);
  EXPECT_EQ(hexOf(out, 6), "41 F0 9F 98 80 00 ");
}

}  // namespace
