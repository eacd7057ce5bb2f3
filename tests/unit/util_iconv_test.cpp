// Board text in code page 866 against the C library's own converter (iconv), byte by byte.
// Windows has no iconv; there win32_codepage_test checks MultiByteToWideChar instead.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <string>

#include "util/text.h"

namespace {

// Every byte of the upper half against the system's own converter.
TEST(CodePage866, WholeUpperHalfAgreesWithIconv) {
  iconv_t cd = iconv_open("UTF-8", "CP866");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP866 here";
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in[1] = {static_cast<char>(b)}, expected[8] = {0}, got[12];
    char *ip = in, *op = expected;
    size_t il = 1, ol = sizeof expected - 1;
    ASSERT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1)) << b;
    const uint8_t u = static_cast<uint8_t>(b);
    const size_t len = codePageToUtf8(&u, 1, got, sizeof got, 866);
    EXPECT_EQ(std::string(got, len), std::string(expected)) << std::hex << b;
  }
  iconv_close(cd);
}

}  // namespace
