// Board text on Windows goes through the system's MultiByteToWideChar; every one of the 256
// bytes must come out as the project's own code page 866 table has it, so a board's text
// identifier reads the same on Windows and on Linux.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "util/codepage.h"
#include "util/text.h"

namespace {

TEST(Win32CodePage866, SystemConversionMatchesTheOwnTableForEveryByte) {
  uint8_t all[256];
  for (int b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
  wchar_t system[256];
  ASSERT_EQ(MultiByteToWideChar(866, 0, reinterpret_cast<const char*>(all), 256, system, 256), 256)
      << "no code page 866 on this system";
  uint16_t ours[256];
  ASSERT_EQ(codePageToUtf16(all, 256, ours, 256, 866), 256u);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(static_cast<uint16_t>(system[b]), cp866ToUtf16(static_cast<uint8_t>(b)))
        << "byte 0x" << std::hex << b;
    EXPECT_EQ(ours[b], cp866ToUtf16(static_cast<uint8_t>(b))) << "byte 0x" << std::hex << b;
  }
}

TEST(Win32CodePage866, OtherPagesAndTheCapacityBehaveAsOnLinux) {
  const uint8_t text[] = {0x8F, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2, 0xE9};  // "Привет" and a byte more
  uint16_t out[8] = {0};
  EXPECT_EQ(codePageToUtf16(text, 7, out, 3, 866), 3u);  // cut at the capacity, nothing past it
  EXPECT_EQ(out[0], 0x041F);
  EXPECT_EQ(out[2], 0x0438);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(codePageToUtf16(text, 2, out, 8, 1252), 2u);  // another page: read as Latin-1
  EXPECT_EQ(out[0], 0x8F);
  EXPECT_EQ(out[1], 0xE0);
  EXPECT_EQ(codePageToUtf8(std::string("TRK \x8F\xE0\xA8\xA2\xA5\xE2", 10), 866), "TRK Привет");
}

}  // namespace
