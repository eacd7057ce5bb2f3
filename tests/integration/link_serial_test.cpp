// The serial port over a real pseudo-terminal pair: the port opens the slave side as a
// serial device, the test plays the board on the master side.
#include <asm/termbits.h>  // termios2: the line as the kernel holds it, rate as a number
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "support/sim_process.h"

namespace {

using namespace testsupport;
using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}
void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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
    if (master_ >= 0) close(master_);
  }
  void boardSends(const Bytes& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  Bytes boardReceives(size_t n) { return recvBytes(master_, n); }
  Bytes toolReceives(size_t n) {
    Bytes out(n);
    if (portReadWait(port_, out.data(), n, kPeerTimeoutMs) != 1) out.clear();
    return out;
  }
  termios2 lineOf() {
    termios2 t{};
    EXPECT_EQ(ioctl(static_cast<int>(portEntry(port_)->handle), TCGETS2, &t), 0);
    return t;
  }
  int master_ = -1;
  std::string slavePath_;
  uint16_t port_ = 0;
};

TEST_F(SerialPortTest, CarriesBytesBothWaysUnchangedAlsoUnderAShortName) {
  const PortEntry* e = portEntry(port_);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->kind, PortKind::Serial);
  EXPECT_EQ(e->baud, 4800u);  // opened at 4800 8N1
  const termios2 opened = lineOf();
  EXPECT_EQ(opened.c_cflag & CBAUD, static_cast<tcflag_t>(B4800));
  // Raw mode: CR, LF, XON/XOFF and NUL bytes pass as they are.
  const Bytes frame = {0x60, 0x0D, 0x0A, 0x11, 0x13, 0x00, 0x7F, 0xFF};
  ASSERT_EQ(portWrite(port_, frame.data(), frame.size()), 1);
  EXPECT_EQ(boardReceives(frame.size()), frame);
  boardSends(frame);
  EXPECT_EQ(toolReceives(frame.size()), frame);
  EXPECT_EQ(portTxEmpty(port_), 1);

  // A name without a slash is looked up under /dev.
  ASSERT_EQ(slavePath_.rfind("/dev/", 0), 0u);
  portClose(port_);
  const std::string shortName = slavePath_.substr(5);  // "pts/N"
  ASSERT_EQ(portOpen(shortName.c_str(), &port_), 0);
  EXPECT_STREQ(portEntry(port_)->name, shortName.c_str());
  ASSERT_EQ(portWrite(port_, frame.data(), 1), 1);
  EXPECT_EQ(boardReceives(1), Bytes{0x60});
}

// A pseudo-terminal keeps the rate and stop bits but always reports 8 bits without parity;
// the parity and size bits themselves are checked in link_serial_line_test.
TEST_F(SerialPortTest, LineSettingsAreAppliedAndStoredAndImpossibleOnesChangeNothing) {
  struct Case {
    uint32_t baud;
    uint8_t bits;
    char parity;
    uint8_t stop;
    tcflag_t code;
    bool twoStops;
  };
  // Rate 0 means 4800; stop code 0 keeps the two stop bits of the row before. A rate
  // without a code of its own is set as a number.
  for (const Case& c :
       {Case{9600, 7, 'E', 2, B9600, true}, Case{0, 8, 'N', 0, B4800, true},
        Case{115200, 8, 'M', 1, B115200, false}, Case{14400, 8, 'N', 1, BOTHER, false},
        Case{19200, 8, 'N', 1, B19200, false}}) {
    ASSERT_EQ(portSetLine(port_, c.baud, c.bits, c.parity, c.stop), 0) << c.baud;
    const termios2 t = lineOf();
    EXPECT_EQ(t.c_cflag & CBAUD, c.code) << c.baud;
    EXPECT_EQ(t.c_cflag & CIBAUD, 0u) << c.baud;  // the input runs at the output rate
    EXPECT_EQ(t.c_ospeed, c.baud ? c.baud : 4800u) << c.baud;
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops) << c.baud;
    const PortEntry* e = portEntry(port_);
    EXPECT_EQ(e->baud, c.baud ? c.baud : 4800u);
    EXPECT_EQ(e->dataBits, c.bits);
    EXPECT_EQ(e->parity, c.parity);
  }
  const std::pair<uint32_t, uint8_t> refused[] = {{0xFFFFFFFF, 8}, {9600, 9}, {9600, 4}};
  for (const auto& r : refused)
    EXPECT_EQ(portSetLine(port_, r.first, r.second, 'N', 1), EINVAL) << r.first;
  const termios2 kept = lineOf();
  EXPECT_EQ(kept.c_cflag & CBAUD, static_cast<tcflag_t>(B19200));
  EXPECT_EQ(portEntry(port_)->baud, 19200u);
  EXPECT_EQ(portEntry(port_)->dataBits, 8);
  EXPECT_STRNE(portErrorText(EINVAL), "");
  // The line still carries bytes after the changes.
  const uint8_t b = 0xA5;
  ASSERT_EQ(portWrite(port_, &b, 1), 1);
  EXPECT_EQ(boardReceives(1), Bytes{0xA5});
}

TEST_F(SerialPortTest, ReadsTakeOnlyWhatArrivedAndTimeOutsKeepIt) {
  boardSends({1, 2, 3});
  uint8_t got[5] = {};
  EXPECT_EQ(portReadWait(port_, got, 5, 50), 0);
  EXPECT_EQ(portAvailable(port_), 3);  // nothing taken by the failed wait
  EXPECT_EQ(portRead(port_, got, 4), 0);
  std::thread board([&] {
    pause(30);
    boardSends({4, 5});
  });
  const auto t0 = Clock::now();
  EXPECT_EQ(portReadWait(port_, got, 5, kPeerTimeoutMs), 1);
  const long ms = msSince(t0);
  board.join();
  EXPECT_LT(ms, 1000);
  EXPECT_EQ(Bytes(got, got + 5), (Bytes{1, 2, 3, 4, 5}));
  uint8_t b = 0;
  EXPECT_EQ(portReadByte(port_, &b, 30), 0);
  boardSends({0x99});
  EXPECT_EQ(portReadByte(port_, &b, 2000), 1);
  EXPECT_EQ(b, 0x99);
}

TEST_F(SerialPortTest, FlushAndDiscardDropTheRingAndTheDriversPendingInput) {
  for (bool discard : {false, true}) {
    boardSends({1, 2, 3});
    ASSERT_EQ(portWaitInput(port_, kPeerTimeoutMs), 1);
    pause(20);
    boardSends({4, 5});  // still in the driver when the flush comes
    pause(20);
    if (discard) {
      portDiscardInput(port_);
    } else {
      portFlushInput(port_);
    }
    EXPECT_EQ(portAvailable(port_), 0) << discard;
    boardSends({6});
    EXPECT_EQ(toolReceives(1), Bytes{6}) << discard;
  }
  // No port, a row never opened and the stub are ignored.
  portDiscardInput(0);
  portDiscardInput(kPortTableRows + 1);
  portDiscardInput(7);
  uint16_t stub = 0;
  ASSERT_EQ(portOpen("STUB", &stub), 0);
  portDiscardInput(stub);
  EXPECT_EQ(portAvailable(stub), 0);
  EXPECT_EQ(portWrite(stub, Bytes(4).data(), 4), 1);
}

TEST_F(SerialPortTest, WaitForACountTakesTheWholeReplyKeepsTheLineAndSingleBytesStillWake) {
  ASSERT_EQ(portSetLine(port_, 14400, 8, 'N', 2), 0);  // a rate without a code of its own
  const termios2 before = lineOf();
  Bytes reply(100);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 3 + 1);
  std::thread board([&] {
    // 30 bytes one by one, then the other 70 at once: more than a terminal hands over in one
    // piece.
    for (size_t i = 0; i < 30; ++i) {
      boardSends({reply[i]});
      pause(2);
    }
    boardSends(Bytes(reply.begin() + 30, reply.end()));
  });
  EXPECT_EQ(portWaitReply(port_, reply.size(), 5000), 1);
  board.join();
  EXPECT_EQ(portAvailable(port_), 100);
  EXPECT_EQ(toolReceives(100), reply);
  // Waiting changes nothing of the line the engineer set.
  const termios2 t = lineOf();
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  EXPECT_EQ(t.c_ospeed, 14400u);
  EXPECT_EQ(t.c_ispeed, before.c_ispeed);
  EXPECT_EQ(t.c_cflag, before.c_cflag);
  EXPECT_EQ(t.c_iflag, before.c_iflag);
  EXPECT_EQ(t.c_oflag, before.c_oflag);
  EXPECT_EQ(t.c_lflag, before.c_lflag);

  // After a wait for many bytes, one byte alone wakes a wait again.
  std::thread one([&] {
    pause(30);
    boardSends({0x5A});
  });
  const auto t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port_, 3000), 1);
  one.join();
  EXPECT_LT(msSince(t0), 1000);
  EXPECT_EQ(toolReceives(1), Bytes{0x5A});
  EXPECT_EQ(portWaitReply(port_, 2, 50), 0);  // nothing more: times out
}

TEST_F(SerialPortTest, WaitInputWakesOnBytesAndDoesNotSpinOnAHungUpLine) {
  std::thread board([&] {
    pause(30);
    boardSends({0x42});
  });
  auto t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port_, 5000), 1);
  const long ms = msSince(t0);
  board.join();
  EXPECT_LT(ms, 1000);
  EXPECT_EQ(portAvailable(port_), 1);
  portFlushInput(port_);

  close(master_);  // the adapter goes away: the line reports hang-up forever
  master_ = -1;
  t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port_, 100), 0);
  EXPECT_GE(msSince(t0),
            90);  // slept out the wait rather than returning at once to a spinning caller
  const uint8_t b = 1;
  EXPECT_EQ(portWrite(port_, &b, 1), 1);  // a serial write failure is not reported
  EXPECT_EQ(portAvailable(port_), 0);
}

}  // namespace
