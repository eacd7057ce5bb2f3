// How a line setting becomes termios bits: rate, size, stop bits and every parity letter,
// including the letters and codes that must leave a setting as it was.
#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>

#include "link/port_internal.h"

namespace {

termios rawLine() {
  termios t{};
  cfmakeraw(&t);
  return t;
}

tcflag_t parityBits(const termios& t) {
#ifdef CMSPAR
  return t.c_cflag & (PARENB | PARODD | CMSPAR);
#else
  return t.c_cflag & (PARENB | PARODD);
#endif
}

TEST(SerialLine, RateSizeAndStopBitsMapToTermios) {
  termios t = rawLine();
  ASSERT_TRUE(serialBuildLine(t, 38400, 7, 'N', 2));
  EXPECT_EQ(cfgetospeed(&t), B38400);
  EXPECT_EQ(cfgetispeed(&t), B38400);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  ASSERT_TRUE(serialBuildLine(t, 0, 5, 'N', 1));
  EXPECT_EQ(cfgetospeed(&t), B4800);
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
  termios t = rawLine();
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'O', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_TRUE(t.c_iflag & INPCK);
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'X', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | PARODD));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'E', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB));
#ifdef CMSPAR
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'M', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'S', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | CMSPAR));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'M', 1));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'Z', 1));
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB | CMSPAR));
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'E', 1));  // even after mark/space drops the stick bit
  EXPECT_EQ(parityBits(t), static_cast<tcflag_t>(PARENB));
#endif
  ASSERT_TRUE(serialBuildLine(t, 9600, 8, 'N', 1));
  EXPECT_EQ(parityBits(t), 0u);
  EXPECT_FALSE(t.c_iflag & INPCK);
}

TEST(SerialLine, UnrepresentableValuesAreRefusedWithEinval) {
  for (uint32_t baud : {1u, 12345u, 9601u, 250000u, 0xFFFFFFFFu}) {
    termios t = rawLine();
    errno = 0;
    EXPECT_FALSE(serialBuildLine(t, baud, 8, 'N', 1)) << baud;
    EXPECT_EQ(errno, EINVAL);
  }
  for (uint8_t bits : {0, 4, 9, 255}) {
    termios t = rawLine();
    errno = 0;
    EXPECT_FALSE(serialBuildLine(t, 9600, bits, 'N', 1)) << int(bits);
    EXPECT_EQ(errno, EINVAL);
  }
}

}  // namespace
