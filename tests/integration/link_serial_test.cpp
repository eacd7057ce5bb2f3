// The serial port over a real pseudo-terminal pair: the port opens the slave side as a
// serial device, the test plays the board on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/tick.h"

namespace {

constexpr int kPeerTimeoutMs = 3000;

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    portTableShutdownForTests();
    portTableInit();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slavePath_ = ptsname(master_);
    ASSERT_EQ(portOpen(slavePath_.c_str(), &port_), 0) << slavePath_;
  }
  void TearDown() override {
    portTableShutdownForTests();
    tickUseFakeClock(false);
    if (master_ >= 0) close(master_);
  }
  void boardSends(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::vector<uint8_t> boardReceives(size_t n) {
    std::vector<uint8_t> out;
    while (out.size() < n) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, kPeerTimeoutMs) != 1) break;
      uint8_t buf[256];
      ssize_t r = read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  termios lineOf() {
    termios t{};
    EXPECT_EQ(tcgetattr(static_cast<int>(portEntry(port_)->handle), &t), 0);
    return t;
  }
  int master_ = -1;
  std::string slavePath_;
  uint16_t port_ = 0;
};

TEST_F(SerialPortTest, CarriesBytesBothWaysUnchanged) {
  const PortEntry* e = portEntry(port_);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->kind, PortKind::Serial);
  EXPECT_EQ(e->baud, 4800u);  // opened at 4800 8N1
  const termios opened = lineOf();
  EXPECT_EQ(cfgetospeed(&opened), B4800);
  // Raw mode: CR, LF, XON/XOFF and NUL bytes pass as they are.
  const std::vector<uint8_t> frame = {0x60, 0x0D, 0x0A, 0x11, 0x13, 0x00, 0x7F, 0xFF};
  ASSERT_EQ(portWrite(port_, frame.data(), frame.size()), 1);
  EXPECT_EQ(boardReceives(frame.size()), frame);
  boardSends(frame);
  std::vector<uint8_t> got(frame.size());
  ASSERT_EQ(portReadWait(port_, got.data(), got.size(), kPeerTimeoutMs), 1);
  EXPECT_EQ(got, frame);
  EXPECT_EQ(portTxEmpty(port_), 1);
}

TEST_F(SerialPortTest, ANameWithoutSlashIsLookedUpUnderDev) {
  ASSERT_EQ(slavePath_.rfind("/dev/", 0), 0u);
  portClose(port_);
  const std::string shortName = slavePath_.substr(5);  // "pts/N"
  ASSERT_EQ(portOpen(shortName.c_str(), &port_), 0);
  EXPECT_STREQ(portEntry(port_)->name, shortName.c_str());
  const uint8_t b = 0x5A;
  ASSERT_EQ(portWrite(port_, &b, 1), 1);
  EXPECT_EQ(boardReceives(1), std::vector<uint8_t>{0x5A});
}

// A pseudo-terminal keeps the rate and stop bits but always reports 8 bits without parity;
// the parity and size bits themselves are checked in link_serial_line_test.
TEST_F(SerialPortTest, LineSettingsAreAppliedAndStored) {
  ASSERT_EQ(portSetLine(port_, 9600, 7, 'E', 2), 0);
  termios t = lineOf();
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(cfgetispeed(&t), B9600);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  const PortEntry* e = portEntry(port_);
  EXPECT_EQ(e->baud, 9600u);
  EXPECT_EQ(e->dataBits, 7);
  EXPECT_EQ(e->parity, 'E');
  EXPECT_EQ(e->stopBits, 2);

  ASSERT_EQ(portSetLine(port_, 0, 8, 'N', 0), 0);  // rate 0 means 4800; stop code 0 keeps two
  t = lineOf();
  EXPECT_EQ(cfgetospeed(&t), B4800);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_EQ(e->baud, 4800u);

  ASSERT_EQ(portSetLine(port_, 115200, 8, 'M', 1), 0);
  t = lineOf();
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_EQ(e->parity, 'M');

  // The line still carries bytes after the changes.
  const uint8_t b = 0xA5;
  ASSERT_EQ(portWrite(port_, &b, 1), 1);
  EXPECT_EQ(boardReceives(1), std::vector<uint8_t>{0xA5});
}

TEST_F(SerialPortTest, RatesAndSizesTheLineCannotTakeAreRefusedAndChangeNothing) {
  ASSERT_EQ(portSetLine(port_, 19200, 8, 'N', 1), 0);
  EXPECT_EQ(portSetLine(port_, 12345, 8, 'N', 1), EINVAL);
  EXPECT_EQ(portSetLine(port_, 19201, 8, 'N', 1), EINVAL);
  EXPECT_EQ(portSetLine(port_, 9600, 9, 'N', 1), EINVAL);
  EXPECT_EQ(portSetLine(port_, 9600, 4, 'N', 1), EINVAL);
  const termios kept = lineOf();
  EXPECT_EQ(cfgetospeed(&kept), B19200);
  EXPECT_EQ(portEntry(port_)->baud, 19200u);
  EXPECT_EQ(portEntry(port_)->dataBits, 8);
  EXPECT_STRNE(portErrorText(EINVAL), "");
}

TEST_F(SerialPortTest, ReadsTakeOnlyWhatArrivedAndTimeOutsKeepIt) {
  boardSends({1, 2, 3});
  uint8_t got[5] = {};
  EXPECT_EQ(portReadWait(port_, got, 5, 50), 0);
  EXPECT_EQ(portAvailable(port_), 3);  // nothing taken by the failed wait
  EXPECT_EQ(portRead(port_, got, 4), 0);
  std::thread board([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    boardSends({4, 5});
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(portReadWait(port_, got, 5, kPeerTimeoutMs), 1);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  board.join();
  EXPECT_LT(ms, 1000);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  uint8_t b = 0;
  EXPECT_EQ(portReadByte(port_, &b, 30), 0);
  boardSends({0x99});
  EXPECT_EQ(portReadByte(port_, &b, 2000), 1);
  EXPECT_EQ(b, 0x99);
}

TEST_F(SerialPortTest, FlushDropsBothTheRingAndTheDriversPendingInput) {
  boardSends({1, 2, 3});
  ASSERT_EQ(portWaitInput(port_, kPeerTimeoutMs), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  boardSends({4, 5});  // still in the driver when the flush comes
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  portFlushInput(port_);
  EXPECT_EQ(portAvailable(port_), 0);
  boardSends({6});
  uint8_t b = 0;
  ASSERT_EQ(portReadByte(port_, &b, 2000), 1);
  EXPECT_EQ(b, 6);
}

TEST_F(SerialPortTest, WaitInputWakesOnBytesAndDoesNotSpinOnAHungUpLine) {
  std::thread board([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    boardSends({0x42});
  });
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(portWaitInput(port_, 5000), 1);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  board.join();
  EXPECT_LT(ms, 1000);
  EXPECT_EQ(portAvailable(port_), 1);
  portFlushInput(port_);

  close(master_);  // the adapter goes away: the line reports hang-up forever
  master_ = -1;
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(portWaitInput(port_, 100), 0);
  ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 90);  // slept out the wait rather than returning at once to a spinning caller
  const uint8_t b = 1;
  EXPECT_EQ(portWrite(port_, &b, 1), 1);  // a serial write failure is not reported
  EXPECT_EQ(portAvailable(port_), 0);
}

}  // namespace
