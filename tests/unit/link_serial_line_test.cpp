// How a line setting becomes termios2 bits: rate (by code, or as a number), size, stop bits
// and every parity letter, including the letters and codes that must leave a setting as it
// was, and how the rate is read back from what the kernel holds.
#include <asm/termbits.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "link/serial_posix.h"

namespace {

termios2 rawLine() {
  termios2 t{};
  t.c_cflag = CS8 | CREAD | CLOCAL | B9600;
  return t;
}

tcflag_t parityBits(const termios2& t) { return t.c_cflag & (PARENB | PARODD | CMSPAR); }
tcflag_t rateCode(const termios2& t) { return t.c_cflag & CBAUD; }
tcflag_t inputCode(const termios2& t) { return (t.c_cflag & CIBAUD) >> IBSHIFT; }

TEST(SerialLine, RateSizeAndStopBitsMapToTermios) {
  termios2 t = rawLine();
  ASSERT_TRUE(serialBuildLine(t, 38400, 7, 'N', 2));
  EXPECT_EQ(rateCode(t), static_cast<tcflag_t>(B38400));
  EXPECT_EQ(inputCode(t), 0u);  // the input runs at the output rate
  EXPECT_EQ(serialOutputRate(t), 38400u);
  EXPECT_EQ(serialInputRate(t), 38400u);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  ASSERT_TRUE(serialBuildLine(t, 0, 5, 'N', 1));
  EXPECT_EQ(rateCode(t), static_cast<tcflag_t>(B4800));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'N', 2));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'N', 3));  // an unknown stop code keeps two
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  ASSERT_TRUE(serialBuildLine(t, 9600, 6, 'N', 0));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
}

TEST(SerialLine, EveryParityLetterSetsItsBitsAndOthersKeepThem) {
  termios2 t = rawLine();
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'O', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_TRUE(t.c_iflag & INPCK);
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'X', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | PARODD));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'E', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'M', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'S', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | CMSPAR));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'M', 1));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'Z', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | CMSPAR));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'E', 1));  // even after mark/space drops the stick bit
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'N', 1));
  EXPECT_EQ(parityBits(t), 0u);
  EXPECT_FALSE(t.c_iflag & INPCK);
}

// Rates a Windows driver takes without a termios code of their own go as a number; rates
// with a code go by their code, and the number is kept beside it either way.
TEST(SerialLine, EveryRateIsAskedForByCodeOrByNumber) {
  for (uint32_t baud : {14400u, 28800u, 56000u, 128000u, 256000u, 12345u, 250000u}) {
    termios2 t = rawLine();
    t.c_cflag |= B2400 << IBSHIFT;  // an input rate of its own is dropped
    ASSERT_TRUE(serialBuildLine(t, baud, 8, 'N', 1)) << baud;
    EXPECT_EQ(rateCode(t), static_cast<tcflag_t>(BOTHER)) << baud;
    EXPECT_EQ(inputCode(t), 0u) << baud;
    EXPECT_EQ(t.c_ospeed, baud);
    EXPECT_EQ(serialOutputRate(t), baud);
    EXPECT_EQ(serialInputRate(t), baud);
  }
  termios2 t = rawLine();
  ASSERT_TRUE(serialBuildLine(t, 115200, 8, 'N', 1));
  EXPECT_EQ(rateCode(t), static_cast<tcflag_t>(B115200));
  EXPECT_EQ(t.c_ospeed, 115200u);
}

// What the kernel hands back decides: a code wins over a number left beside it (a driver
// that keeps its rate leaves the asked number in place), and an input code of its own
// gives the input its own rate.
TEST(SerialLine, RatesAreReadBackAsTheKernelRunsThem) {
  termios2 t = rawLine();
  t.c_cflag = (t.c_cflag & ~CBAUD) | B4800;
  t.c_ospeed = 14400;
  EXPECT_EQ(serialOutputRate(t), 4800u);
  t.c_cflag = (t.c_cflag & ~(CBAUD | CIBAUD)) | BOTHER | (B9600 << IBSHIFT);
  EXPECT_EQ(serialOutputRate(t), 14400u);
  EXPECT_EQ(serialInputRate(t), 9600u);
  t.c_cflag = (t.c_cflag & ~(CBAUD | CIBAUD)) | B0;
  EXPECT_EQ(serialOutputRate(t), 0u);
}

TEST(SerialLine, ImpossibleValuesAreRefusedWithEinvalAndChangeNothing) {
  for (uint32_t baud : {20000001u, 0xFFFFFFFFu}) {
    termios2 t = rawLine();
    const termios2 before = t;
    errno = 0;
    EXPECT_FALSE(serialBuildLine(t, baud, 8, 'N', 1)) << baud;
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(t.c_cflag, before.c_cflag);
  }
  for (uint8_t bits : {0, 4, 9, 255}) {
    termios2 t = rawLine();
    errno = 0;
    EXPECT_FALSE(serialBuildLine(t, 9600, bits, 'N', 1)) << int(bits);
    EXPECT_EQ(errno, EINVAL);
  }
}

}  // namespace
