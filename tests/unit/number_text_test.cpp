// The readers of typed and stored numbers, one policy at a time: what each accepts, what it
// refuses, and how it treats signs, white space, separators and numbers too long for it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "util/number_text.h"

namespace {

TEST(NumberReaders, NeverReadPastTheTextAndSaturate) {
  const std::pair<const char*, uint32_t> hex[] = {
      {"", 0}, {"0x", 0}, {"0xfFz1", 0xFF}, {"1A2", 0x1A2}, {"0X1a2", 0x1A2}, {"0", 0}, {"zz", 0}};
  for (const auto& [text, value] : hex) EXPECT_EQ(parseHexAfterPrefix(text), value) << text;
  EXPECT_EQ(parseLeadingInt("  -12abc"), -12);
  EXPECT_EQ(parseLeadingInt("abc"), 0);
  EXPECT_GT(parseLeadingInt(std::string(400, '9')), 0);  // no overflow
  EXPECT_EQ(parseUnsigned("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(parseScaledDecimal("12.345", 2), 1234);
  EXPECT_EQ(parseScaledDecimal("-0.05", 1), 0);
  EXPECT_EQ(parseScaledDecimal("7", 1), 70);
}

TEST(StrictDecimal, AcceptsOnlyDigitsWithinTheDigitCountAndTheMaximum) {
  struct Case {
    const char* text;
    size_t maxDigits;
    uint64_t max;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"0", 5, 65535, true, 0},
      {"65535", 5, 65535, true, 65535},
      {"65536", 5, 65535, false, 0},
      {"00001", 5, 65535, true, 1},
      {"000001", 5, 65535, false, 0},  // leading zeros count toward the digits
      {"", 5, 65535, false, 0},
      {" 1", 5, 65535, false, 0},
      {"1 ", 5, 65535, false, 0},
      {"+1", 5, 65535, false, 0},
      {"-1", 5, 65535, false, 0},
      {"0x1", 5, 65535, false, 0},
      {"1,5", 5, 65535, false, 0},
      {"12a", 5, 65535, false, 0},
      {"18446744073709551615", 25, UINT64_MAX, true, UINT64_MAX},
      {"18446744073709551616", 25, UINT64_MAX, false, 0},  // one past 64 bits must not wrap
      {"99999999999999999999999", 25, UINT64_MAX, false, 0},
  };
  for (const Case& c : cases) {
    uint64_t v = 12345;
    EXPECT_EQ(parseStrictDecimal(c.text, c.maxDigits, c.max, &v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 12345u) << c.text;  // untouched on refusal
  }
  // A NUL inside the text is a character that is not a digit.
  uint64_t v = 0;
  EXPECT_FALSE(parseStrictDecimal(std::string("1\0"
                                              "2",
                                              3),
                                  5, 65535, &v));
}

TEST(StrictHundredths, TakesEitherSeparatorAndAtMostTwoDecimals) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  } cases[] = {
      {"7", true, 700},
      {"12.5", true, 1250},
      {"12,50", true, 1250},
      {".5", true, 50},
      {"5.", true, 500},
      {"0.01", true, 1},
      {"99999999.99", true, 9999999999},
      {"100000000", false, 0},
      {"1.234", false, 0},
      {"", false, 0},
      {".", false, 0},
      {"-1", false, 0},
      {"+1", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"1.2.3", false, 0},
      {"1e3", false, 0},
      {"0x10", false, 0},
      {"999999999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    int64_t v = -5;
    EXPECT_EQ(parseStrictHundredths(c.text, &v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : -5) << c.text;
  }
}

TEST(LenientFixed, WrapsAtSixtyFourBitsAndAgreesWithTheThirtyTwoBitReadingBelow) {
  // A grand total beyond 2^32 hundredths keeps its value only in the wide reading.
  EXPECT_EQ(parseFixedWrapping("21474837.00", 2), INT64_C(2147483700));
  EXPECT_EQ(parseFixed("21474837.00", 2), INT32_C(-2147483596));
  EXPECT_EQ(parseFixedWrapping("123456789012.34", 2), INT64_C(12345678901234));
  EXPECT_EQ(parseFixedWrapping("-1.5", 2), -150);
  EXPECT_EQ(parseFixedWrapping("", 2), 0);
  // Nothing is validated: a letter is worth its code less '0', and a byte above 0x7F is
  // taken unsigned in both widths.
  for (const char* t : {"1a", "12.3x", "-7,05", "\xc3\xa9", "1\xff.5", "99999999999.999",
                        "18446744073709551616.5"}) {
    EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(parseFixedWrapping(t, 2))),
              parseFixed(t, 2))
        << t;
  }
  EXPECT_EQ(parseFixedWrapping("1a", 0), 10 + ('a' - '0'));
  EXPECT_EQ(parseFixedWrapping("\xff", 0), 0xFF - '0');
}

TEST(LenientDecimal, SkipsOnlySpacesTakesASignAndWrapsAtSixtyFourBits) {
  EXPECT_EQ(parseLeadingDecimalWrapping("  791 and more"), 791u);
  EXPECT_EQ(parseLeadingDecimalWrapping("\t791"), 0u);  // a tab is not skipped
  EXPECT_EQ(parseLeadingDecimalWrapping("+5"), 5u);
  EXPECT_EQ(parseLeadingDecimalWrapping("-1"), UINT64_MAX);
  EXPECT_EQ(parseLeadingDecimalWrapping("18446744073709551616"), 0u);
  EXPECT_EQ(parseLeadingDecimalWrapping("18446744073709551617"), 1u);
  EXPECT_EQ(parseLeadingDecimalWrapping(""), 0u);
  EXPECT_EQ(parseLeadingDecimalWrapping("- 5"), 0u);
}

TEST(LenientHex, PrefixIsOptionalAndLongRunsKeepTheirWidthsEnd) {
  EXPECT_EQ(hexDigitValue('0'), 0);
  EXPECT_EQ(hexDigitValue('a'), 10);
  EXPECT_EQ(hexDigitValue('F'), 15);
  EXPECT_EQ(hexDigitValue('g'), -1);
  EXPECT_EQ(hexDigitValue('\0'), -1);
  EXPECT_TRUE(hasHexPrefix("0X"));
  EXPECT_FALSE(hasHexPrefix("x0"));
  // The 32-bit field keeps the last eight digits, the 64-bit one the first sixteen.
  const std::string run = "0x123456789ABCDEF01";
  EXPECT_EQ(parseHexAfterPrefix(run), 0xABCDEF01u);
  EXPECT_EQ(parseHex64AfterPrefix(run), UINT64_C(0x123456789ABCDEF0));
  EXPECT_EQ(parseHexAfterPrefix("1A2zz"), 0x1A2u);
  EXPECT_EQ(parseHex64AfterPrefix("0x"), 0u);
  EXPECT_EQ(parseHex64AfterPrefix("0xx1"), 0u);
  // Two fields read from one text, as the impulse weight is: the position moves on.
  size_t pos = 2;
  int digits = -1;
  EXPECT_EQ(readHexDigits("0x0A00000100", &pos, 2, &digits), 0x0Au);
  EXPECT_EQ(pos, 4u);
  EXPECT_EQ(digits, 2);
  EXPECT_EQ(readHexDigits("0x0A00000100", &pos, 8, &digits), 0x100u);
  EXPECT_EQ(pos, 12u);
  EXPECT_EQ(digits, 8);
  EXPECT_EQ(readHexDigits("0x0A00000100", &pos, 8, &digits), 0u);
  EXPECT_EQ(digits, 0);  // at the end nothing is read and nothing is past it
  EXPECT_EQ(pos, 12u);
}

TEST(ScanfLikeReaders, ReadOneValueAtATimeAndStopAtTheFirstMismatch) {
  const std::string line = " 9600\t8 E -1 +38400x";
  const char* p = line.c_str();
  int a = 0, b = 0, c = 0, d = 0;
  char parity = 0;
  ASSERT_TRUE(readScanfInt(&p, &a));
  ASSERT_TRUE(readScanfInt(&p, &b));
  ASSERT_TRUE(readScanfChar(&p, &parity));
  ASSERT_TRUE(readScanfInt(&p, &c));
  ASSERT_TRUE(readScanfInt(&p, &d));
  EXPECT_EQ(a, 9600);
  EXPECT_EQ(b, 8);
  EXPECT_EQ(parity, 'E');
  EXPECT_EQ(c, -1);
  EXPECT_EQ(d, 38400);
  EXPECT_EQ(*p, 'x');
  int untouched = 77;
  EXPECT_FALSE(readScanfInt(&p, &untouched));
  EXPECT_EQ(untouched, 77);
  for (const char* t : {"", "   ", "+", "-", "- 1", "x1"}) {
    const char* q = t;
    EXPECT_FALSE(readScanfInt(&q, &untouched)) << t;
    EXPECT_EQ(untouched, 77) << t;
  }
  const char* end = " \t";
  EXPECT_FALSE(readScanfChar(&end, &parity));
  // Within range the C library's own "%d %d %c %d %d" is the measure, value for value.
  for (const char* t : {"4800 8 N 1 38400", " 115200\t7\tO\t2\t57600", "9600 8", "9600 x 1",
                        "9600 8 N", "+9600 -8 1 +1 -1", "1 2 34 5", "0x10 8 N 1 1", "7 8 9"}) {
    int want[4] = {-9, -9, -9, -9}, got[4] = {-9, -9, -9, -9};
    char wantParity = '?', gotParity = '?';
    const int n =
        std::sscanf(t, "%d %d %c %d %d", &want[0], &want[1], &wantParity, &want[2], &want[3]);
    const char* q = t;
    int m = 0;
    if (readScanfInt(&q, &got[0]) && ++m && readScanfInt(&q, &got[1]) && ++m &&
        readScanfChar(&q, &gotParity) && ++m && readScanfInt(&q, &got[2]) && ++m &&
        readScanfInt(&q, &got[3]))
      ++m;
    EXPECT_EQ(m, n < 0 ? 0 : n) << t;
    EXPECT_EQ(gotParity, wantParity) << t;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], want[i]) << t << " value " << i;
  }
  // Beyond 64 bits the value stands at the limit of its sign, then keeps its low 32 bits.
  struct Case {
    const char* text;
    int value;
  } wide[] = {{"2147483648", INT32_MIN},
              {"99999999999", 1215752191},
              {"99999999999999999999", -1},
              {"-99999999999999999999", 0},
              {"-2147483649", INT32_MAX}};
  for (const Case& w : wide) {
    const char* q = w.text;
    int v = 0;
    EXPECT_TRUE(readScanfInt(&q, &v)) << w.text;
    EXPECT_EQ(v, w.value) << w.text;
    EXPECT_EQ(*q, '\0') << w.text;
  }
}

TEST(SaturatingU32, ReadsAsPercentUWithItsPosition) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;
    size_t end;
  } cases[] = {
      {"192.168", true, 192, 3},
      {" +7.", true, 7, 3},
      {"-1", true, 0xFFFFFFFFu, 2},
      {"4294967295", true, 0xFFFFFFFFu, 10},
      {"4294967296", true, 0xFFFFFFFFu, 10},
      {"99999999999999999999999", true, 0xFFFFFFFFu, 23},
      {"-4294967296", true, 1, 11},
      {"", false, 0, 0},
      {" .5", false, 0, 0},
      {"+", false, 0, 0},
  };
  for (const Case& c : cases) {
    const char* p = c.text;
    uint32_t v = 5;
    EXPECT_EQ(readSaturatingU32(&p, &v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 5u) << c.text;
    EXPECT_EQ(static_cast<size_t>(p - c.text), c.end) << c.text;
  }
}

TEST(LeadingU32, EachBlankPolicySkipsItsOwnWhiteSpaceAndOverflowIsRefused) {
  struct Case {
    const char* text;
    LeadingBlanks blanks;
    bool ok;
    uint32_t value;
  } cases[] = {
      {"115200 baud", LeadingBlanks::SpacesAndTabs, true, 115200},
      {" \t+9600", LeadingBlanks::SpacesAndTabs, true, 9600},
      {"\n9600", LeadingBlanks::SpacesAndTabs, false, 0},
      {"\n9600", LeadingBlanks::Any, true, 9600},
      {"\t9600", LeadingBlanks::Spaces, false, 0},
      {"  9600", LeadingBlanks::Spaces, true, 9600},
      {"4294967295", LeadingBlanks::Any, true, 0xFFFFFFFFu},
      {"4294967296", LeadingBlanks::Any, false, 0},
      {"-5", LeadingBlanks::Any, false, 0},
      {"", LeadingBlanks::Any, false, 0},
      {"+", LeadingBlanks::Any, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t v = 3;
    EXPECT_EQ(parseLeadingU32(c.text, c.blanks, &v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 3u) << c.text;
  }
}

}  // namespace
