// How a line setting becomes a Win32 device-control block: rate, size, stop bits and every
// parity letter (mark and space included), the letters and codes that leave a setting as it
// was, binary mode with no flow control whatever the driver had, and the device path.
#include <gtest/gtest.h>

#include <string>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/serial_win32.h"
#include "link/tick.h"

namespace {

DCB blank() {
  DCB d{};
  d.DCBlength = sizeof d;
  return d;
}

TEST(Win32SerialLine, RateSizeAndStopBitsGoIntoTheBlock) {
  DCB d = blank();
  ASSERT_TRUE(serialBuildDcb(d, 38400, 7, 'N', 2));
  EXPECT_EQ(d.BaudRate, 38400u);
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.StopBits, TWOSTOPBITS);
  ASSERT_TRUE(serialBuildDcb(d, 0, 5, 'N', 1));  // rate 0 means 4800
  EXPECT_EQ(d.BaudRate, 4800u);
  EXPECT_EQ(d.ByteSize, 5);
  EXPECT_EQ(d.StopBits, ONESTOPBIT);
  ASSERT_TRUE(serialBuildDcb(d, 9600, 8, 'N', 2));
  ASSERT_TRUE(serialBuildDcb(d, 9600, 8, 'N', 3));  // an unknown stop code keeps two
  EXPECT_EQ(d.StopBits, TWOSTOPBITS);
  // Any rate goes to the driver as it is; the driver decides what it can do.
  for (uint32_t rate : {14400u, 250000u, 1000000u}) {
    ASSERT_TRUE(serialBuildDcb(d, rate, 8, 'N', 1));
    EXPECT_EQ(d.BaudRate, rate);
  }
}

TEST(Win32SerialLine, EveryParityLetterAndUnknownLettersKeepTheParity) {
  DCB d = blank();
  const struct {
    char letter;
    BYTE parity;
  } cases[] = {{'O', ODDPARITY},   {'X', ODDPARITY},  {'E', EVENPARITY},  {'M', MARKPARITY},
               {'S', SPACEPARITY}, {'M', MARKPARITY}, {'Z', SPACEPARITY}, {'?', SPACEPARITY},
               {'N', NOPARITY},    {'\0', NOPARITY}};
  for (const auto& c : cases) {
    ASSERT_TRUE(serialBuildDcb(d, 9600, 8, c.letter, 1)) << c.letter;
    EXPECT_EQ(d.Parity, c.parity) << "after '" << c.letter << "'";
  }
}

TEST(Win32SerialLine, BinaryWithoutFlowControlEvenFromAHandshakingDriverAndBadSizesRefused) {
  DCB d = blank();
  d.fOutxCtsFlow = d.fOutxDsrFlow = d.fOutX = d.fInX = d.fNull = d.fAbortOnError = TRUE;
  d.fDsrSensitivity = d.fErrorChar = TRUE;
  d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  d.fDtrControl = DTR_CONTROL_HANDSHAKE;
  ASSERT_TRUE(serialBuildDcb(d, 19200, 8, 'E', 1));
  EXPECT_TRUE(d.fBinary);
  EXPECT_FALSE(d.fOutxCtsFlow || d.fOutxDsrFlow || d.fOutX || d.fInX);
  EXPECT_FALSE(d.fNull || d.fAbortOnError || d.fDsrSensitivity || d.fErrorChar);
  EXPECT_NE(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_NE(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
  EXPECT_NE(d.XonChar, d.XoffChar);  // some drivers refuse equal ones even when unused
  const DCB before = d;
  for (uint8_t bits : {0, 4, 9, 16}) {
    EXPECT_FALSE(serialBuildDcb(d, 9600, bits, 'N', 1)) << int(bits);
    EXPECT_EQ(d.ByteSize, before.ByteSize);
    EXPECT_EQ(d.BaudRate, before.BaudRate);
  }
}

TEST(Win32SerialLine, PortNamesBecomeDevicePaths) {
  EXPECT_EQ(serialDevicePath("COM3"), L"\\\\.\\COM3");
  EXPECT_EQ(serialDevicePath("COM12"), L"\\\\.\\COM12");
  EXPECT_EQ(serialDevicePath("\\\\.\\COM7"), L"\\\\.\\COM7");
  EXPECT_EQ(serialDevicePath(""), L"");
  EXPECT_EQ(serialDevicePath("COM\xFF"), L"");  // not UTF-8
}

TEST(Win32SerialLine, AMissingPortGivesTheWindowsErrorInWordsNotATableCode) {
  tickStart();
  portTableShutdownForTests();
  portTableInit();
  uint16_t port = 9;
  const int rc = portOpen("COM250", &port);
  EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(port, 0);
  const std::string words = portErrorText(rc);
  EXPECT_FALSE(words.empty());
  EXPECT_EQ(words.find("Windows error"), std::string::npos) << words;  // the system's own words
  EXPECT_EQ(words.find_first_of("\r\n"), std::string::npos) << words;
  portTableShutdownForTests();
}

}  // namespace
