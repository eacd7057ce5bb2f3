// The device handle against a board stand-in on a real loopback TCP link: every request
// frame byte for byte, the reply checks, the engine's fixed and text states and its
// deadlines (on the fake clock), and the arguments refused before anything is sent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"
#include "unit/protocol_peer.h"

namespace {

class DeviceOverTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    tickStart();
    portTableInit();
    portSetTrace([this](uint16_t, bool sent, const uint8_t* d, size_t n) {
      if (sent) sentChunks.emplace_back(d, d + n);
    });
    ASSERT_EQ(portOpen(peer.portName().c_str(), &port), 0);
    portAvailable(port);  // starts the connect
    ASSERT_TRUE(peer.acceptClient(2000));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!portEntry(port)->connected && std::chrono::steady_clock::now() < until) {
      portAvailable(port);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(portEntry(port)->connected);
    dev = std::make_unique<UTRKDevice>(port);
    dev->address = 1;
    sentChunks.clear();
  }
  void TearDown() override {
    portSetTrace(nullptr);
    portClose(port);
    tickUseFakeClock(false);
  }

  // Polls until the request returns non-zero, bounded in real time so that a broken engine
  // fails the test instead of hanging it.
  template <class F>
  int drive(F f, int realLimitMs = 3000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(realLimitMs);
    for (;;) {
      int r = f();
      if (r != 0 || std::chrono::steady_clock::now() > until) return r;
      pollWait(port);
    }
  }
  // Waits (real time) until n bytes the peer sent have reached the port's ring.
  bool waitInRing(int n) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (portAvailable(port) < n) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  void startFakeClockAt(uint32_t ms) {
    tickUseFakeClock(true);
    tickSetFake(ms);
  }

  BoardPeer peer;
  uint16_t port = 0;
  std::unique_ptr<UTRKDevice> dev;
  std::vector<Bytes> sentChunks;
};

// ---------------------------------------------------------------- identification

TEST_F(DeviceOverTcp, IdentifyAtAddressZeroAsksEveryBoardAndAdoptsTheReplyAddress) {
  uint8_t out[3] = {};
  EXPECT_EQ(dev->identify(out, 0), 0);
  EXPECT_EQ(peer.receive(4), (Bytes{0x60, 0xF0, 0x21, 0x7D}));
  peer.send({0x05, 0x23, 0x07, 0x55});
  EXPECT_EQ(drive([&] { return dev->identify(out, 0); }), 1);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[1], '#');
  EXPECT_EQ(out[2], 7);
  EXPECT_EQ(dev->address, 5);
  EXPECT_EQ(dev->identExtra, 7u);
  EXPECT_FALSE(dev->isBusy());
}

TEST_F(DeviceOverTcp, IdentifyRejectsBadChecksumAndForeignAddressWithoutMovingTheHandle) {
  dev->address = 3;
  uint8_t out[3] = {};
  dev->identify(out, 5);
  EXPECT_EQ(peer.receive(4), (Bytes{0x60, 0x05, 0x21, 0xAA}));
  peer.send({0x05, 0x23, 0x07, 0x56});
  EXPECT_EQ(drive([&] { return dev->identify(out, 5); }), -4);
  EXPECT_EQ(dev->address, 3);

  // A well-formed reply from address 7 to a question for address 5 is not our board's.
  dev->identify(out, 5);
  peer.receive(4);
  peer.send({0x07, 0x23, 0x07, 0x45});
  EXPECT_EQ(drive([&] { return dev->identify(out, 5); }), -4);
  EXPECT_EQ(dev->address, 3);
}

TEST_F(DeviceOverTcp, TooLongReplyDoesNotLeakIntoTheNextExchange) {
  uint8_t out[3] = {};
  dev->identify(out, 3);
  peer.receive(4);
  peer.send({0x03, 0x23, 0x07, 0x65, 0xEE, 0xEE});  // two bytes of noise after the reply
  EXPECT_EQ(drive([&] { return dev->identify(out, 3); }), 1);
  ASSERT_TRUE(waitInRing(2));
  dev->identify(out, 3);
  peer.receive(4);
  peer.send({0x03, 0x23, 0x07, 0x65});
  EXPECT_EQ(drive([&] { return dev->identify(out, 3); }), 1);
  EXPECT_EQ(out[0], 3);
}

TEST_F(DeviceOverTcp, LateReplyStillInTheSocketIsNotTakenForTheNextOne) {
  uint8_t out[3] = {};
  dev->identify(out, 3);
  peer.receive(4);
  peer.send({0x03, 0x23, 0x07, 0x65});
  EXPECT_EQ(drive([&] { return dev->identify(out, 3); }), 1);
  // A second, late answer lands in the socket after the exchange ended; nobody pumps it.
  peer.send({0x03, 0x24, 0x09, 0x65});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  dev->identify(out, 3);
  EXPECT_EQ(peer.receive(4), (Bytes{0x60, 0x03, 0x21, 0xB2}));
  peer.send({0x03, 0x23, 0x07, 0x65});
  EXPECT_EQ(drive([&] { return dev->identify(out, 3); }), 1);
  EXPECT_EQ(out[1], '#');
  EXPECT_EQ(out[2], 7);
}

// ---------------------------------------------------------------- text identifier

TEST_F(DeviceOverTcp, TextIdentifierFrameAndThreeLetterReply) {
  char text[129];
  EXPECT_EQ(dev->readTextId(text), 0);
  EXPECT_EQ(peer.receive(5), (Bytes{0x60, 0x01, 0x00, 0xF8, 0x31}));
  peer.send({'A', 'B', 'C', 0x00, 'Z'});
  EXPECT_EQ(drive([&] { return dev->readTextId(text); }), 1);
  EXPECT_STREQ(text, "ABC");
}

TEST_F(DeviceOverTcp, TextReplyEndsAtDelAndIsCutAt128Characters) {
  char text[129];
  dev->readTextId(text);
  peer.receive(5);
  peer.send({'o', 'k', 0x7F, 'x'});
  EXPECT_EQ(drive([&] { return dev->readTextId(text); }), 1);
  EXPECT_STREQ(text, "ok");

  dev->readTextId(text);
  peer.receive(5);
  Bytes longText(200);
  for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<uint8_t>('a' + i % 26);
  peer.send(longText);
  EXPECT_EQ(drive([&] { return dev->readTextId(text); }), 1);
  EXPECT_EQ(std::strlen(text), 128u);
  EXPECT_EQ(std::string(text), std::string(longText.begin(), longText.begin() + 128));
}

TEST_F(DeviceOverTcp, TextCutOffByTheDeadlineKeepsWhatArrivedAndSilenceTimesOut) {
  startFakeClockAt(1000);
  char text[129];
  dev->readTextId(text);
  peer.receive(5);
  peer.send({'H', 'E', 'L', 'L', 'O'});
  ASSERT_TRUE(waitInRing(5));
  EXPECT_EQ(dev->readTextId(text), 0);
  // The budget is 300 + 3 * (5 sent + 255 expected) = 1080 ms.
  tickSetFake(1000 + 1079);
  EXPECT_EQ(dev->readTextId(text), 0);
  tickSetFake(1000 + 1080);
  EXPECT_EQ(dev->readTextId(text), 1);
  EXPECT_STREQ(text, "HELLO");

  dev->readTextId(text);
  tickAdvanceFake(1080);
  EXPECT_EQ(dev->readTextId(text), -6);
  EXPECT_FALSE(dev->isBusy());
}

// ---------------------------------------------------------------- engine, fixed replies

TEST_F(DeviceOverTcp, FixedReplyInPiecesCompletesWithTheLastByte) {
  startFakeClockAt(0);
  uint8_t req[4] = {0x60, 0x01, 0x21, 0xBA};
  std::memcpy(dev->frame, req, 4);
  EXPECT_EQ(dev->transact(dev->frame, 4, 4), 0);
  peer.receive(4);
  peer.send({0x01, 0x23});
  ASSERT_TRUE(waitInRing(2));
  EXPECT_EQ(dev->transact(dev->frame, 4, 4), 0);
  peer.send({0x00});
  ASSERT_TRUE(waitInRing(3));
  EXPECT_EQ(dev->transact(dev->frame, 4, 4), 0);
  peer.send({0x99});
  ASSERT_TRUE(waitInRing(4));
  EXPECT_EQ(dev->transact(dev->frame, 4, 4), 1);
  EXPECT_EQ(Bytes(dev->frame, dev->frame + 4), (Bytes{0x01, 0x23, 0x00, 0x99}));
  EXPECT_EQ(dev->engineState, 0);
}

TEST_F(DeviceOverTcp, ShortFixedReplyTimesOutExactlyAtTheBudget) {
  startFakeClockAt(0xFFFFFF00u);  // the deadline lies across the 32-bit wrap
  const uint8_t req[4] = {0x60, 0x01, 0x21, 0xBA};
  std::memcpy(dev->frame, req, 4);
  EXPECT_EQ(dev->transact(dev->frame, 4, 4), 0);
  peer.receive(4);
  peer.send({0x01, 0x23, 0x00});
  ASSERT_TRUE(waitInRing(3));
  tickSetFake(0xFFFFFF00u + 323);
  EXPECT_EQ(dev->transact(dev->frame, 4, 4), 0);
  tickSetFake(0xFFFFFF00u + 324);
  EXPECT_EQ(dev->transact(dev->frame, 4, 4), -6);
  EXPECT_EQ(dev->engineState, 0);
}

TEST_F(DeviceOverTcp, ExpectationsBeyondTheFrameAreRefusedUnsent) {
  dev->frame[0] = 0x60;
  EXPECT_EQ(dev->transact(dev->frame, 4, 254), -3);
  EXPECT_EQ(dev->transact(dev->frame, 4, 0), -3);
  EXPECT_EQ(dev->transact(dev->frame, 301, 1), -3);
  uint8_t buf[256];
  EXPECT_EQ(dev->readBlock(0x10, 0, 249, buf, 2, 0), -3);  // 249 + 4 + 1 = 254
  EXPECT_EQ(dev->readBlock(0x10, 0, 252, buf, 1, 0), -3);
  EXPECT_EQ(dev->readBlock(0x10, 8, 1, buf, 0, 0), -3);    // bank outside the command bits
  EXPECT_EQ(dev->readBlock(0x1000000, 0, 1, buf, 0, 0), -3);
  EXPECT_TRUE(sentChunks.empty());
  EXPECT_TRUE(peer.receiveUntilQuiet(50).empty());
  EXPECT_FALSE(dev->isBusy());
}

TEST(DeviceWithoutPort, EveryExchangeEndsInTimeOutAfterItsBudget) {
  tickStart();
  tickUseFakeClock(true);
  tickSetFake(500);
  UTRKDevice dev(0);
  uint8_t out[3];
  EXPECT_EQ(dev.identify(out, 1), 0);
  tickSetFake(500 + 323);
  EXPECT_EQ(dev.identify(out, 1), 0);
  tickSetFake(500 + 324);
  EXPECT_EQ(dev.identify(out, 1), -6);
  tickUseFakeClock(false);
}

// ---------------------------------------------------------------- block reads

TEST_F(DeviceOverTcp, BlockReadWithCrcExpectsDataCrcAndOneMoreByte) {
  uint8_t rec[68];
  EXPECT_EQ(dev->readBlock(0x3101, 0, 68, rec, 2, 0), 0);
  EXPECT_EQ(peer.receive(12),
            (Bytes{0x60, 0x01, 0x48, 0x68, 0x02, 0x00, 0x31, 0x00, 0x01, 0x00, 0x44, 0x58}));
  Bytes reply(68);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i + 1);
  uint32_t crc = crc32Stm(reply.data(), reply.size());
  Bytes good = reply;
  for (int i = 0; i < 4; ++i) good.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  good.push_back(0x5A);  // trailing byte, ignored

  // 72 of 73 bytes are not enough.
  peer.send(Bytes(good.begin(), good.end() - 1));
  ASSERT_TRUE(waitInRing(72));
  EXPECT_EQ(dev->readBlock(0x3101, 0, 68, rec, 2, 0), 0);
  peer.send({0x5A});
  EXPECT_EQ(drive([&] { return dev->readBlock(0x3101, 0, 68, rec, 2, 0); }), 1);
  EXPECT_EQ(Bytes(rec, rec + 68), reply);

  Bytes bad = good;
  bad[10] ^= 0x01;
  uint8_t untouched[68];
  std::memset(untouched, 0xCC, sizeof untouched);
  dev->readBlock(0x3101, 0, 68, untouched, 2, 0);
  peer.receive(12);
  peer.send(bad);
  EXPECT_EQ(drive([&] { return dev->readBlock(0x3101, 0, 68, untouched, 2, 0); }), -4);
  EXPECT_EQ(untouched[0], 0xCC);
}

TEST_F(DeviceOverTcp, BlockReadChecksumModeAndModesWithoutCheck) {
  uint8_t regs[6];
  dev->readBlock(0x22, 2, 6, regs, 1, 0);
  Bytes f = peer.receive(12);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), (Bytes{0x60, 0x01, 0x4A, 0x6C}));
  peer.send({1, 2, 3, 4, 5, 6, 0xF7, 0x00});
  EXPECT_EQ(drive([&] { return dev->readBlock(0x22, 2, 6, regs, 1, 0); }), 1);
  EXPECT_EQ(Bytes(regs, regs + 6), (Bytes{1, 2, 3, 4, 5, 6}));

  dev->readBlock(0x22, 2, 6, regs, 1, 0);
  peer.receive(12);
  peer.send({1, 2, 3, 4, 5, 6, 0xF6, 0x00});
  EXPECT_EQ(drive([&] { return dev->readBlock(0x22, 2, 6, regs, 1, 0); }), -4);

  dev->readBlock(0x22, 2, 6, regs, 0, 0);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x4A, 0x6C, 0x00, 0x00, 0x00, 0x00, 0x22, 0x00, 0x06, 0xE2}));
  peer.send({9, 8, 7, 6, 5, 4, 0x33});
  EXPECT_EQ(drive([&] { return dev->readBlock(0x22, 2, 6, regs, 0, 0); }), 1);
  EXPECT_EQ(regs[0], 9);

  // Mode 3 has no check either, but the whole mode byte goes out.
  dev->readBlock(0x22, 2, 6, regs, 3, 0);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x4A, 0x6C, 0x03, 0x00, 0x00, 0x00, 0x22, 0x00, 0x06, 0x63}));
  peer.send({1, 1, 1, 1, 1, 1, 0x00});
  EXPECT_EQ(drive([&] { return dev->readBlock(0x22, 2, 6, regs, 3, 0); }), 1);
}

// ---------------------------------------------------------------- block writes

TEST_F(DeviceOverTcp, OneByteWriteIsTwelveBytesAndWaitsForTwo) {
  const uint8_t mode = 0x03;
  EXPECT_EQ(dev->writeBlock(0x25, 2, &mode, 1), 0);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x25, 0x03, 0x01, 0xD8}));
  ASSERT_EQ(sentChunks.size(), 1u);
  peer.send({0xFF});
  ASSERT_TRUE(waitInRing(1));
  EXPECT_EQ(dev->writeBlock(0x25, 2, &mode, 1), 0);
  peer.send({0xFF});  // whatever the two bytes say, their arrival completes the write
  EXPECT_EQ(drive([&] { return dev->writeBlock(0x25, 2, &mode, 1); }), 1);

  const uint8_t restart = 0x55;
  dev->writeBlock(0x88FFFF, 0, &restart, 1);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x40, 0x78, 0x00, 0x00, 0xFF, 0x88, 0xFF, 0x55, 0x01, 0x20}));
  peer.send({0x00, 0x00});
  EXPECT_EQ(drive([&] { return dev->writeBlock(0x88FFFF, 0, &restart, 1); }), 1);
}

TEST_F(DeviceOverTcp, LongWriteGoesOutAsTwelveBytesPauseAndTheRest) {
  startFakeClockAt(10000);
  const uint8_t pw[2] = {0xE1, 0x10};
  EXPECT_EQ(dev->writeBlock(0x02, 2, pw, 2), 0);
  EXPECT_EQ(nowMs(), 10000u + 50u);  // the pause sat between the two parts
  ASSERT_EQ(sentChunks.size(), 2u);
  EXPECT_EQ(sentChunks[0], (Bytes{0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x02, 0xE1, 0x02, 0x6C}));
  EXPECT_EQ(sentChunks[1], (Bytes{0x10, 0xDF}));
  EXPECT_EQ(peer.receive(14).size(), 14u);
  peer.send({0x00});
  EXPECT_EQ(drive([&] { return dev->writeBlock(0x02, 2, pw, 2); }), 1);

  sentChunks.clear();
  const uint8_t data[4] = {0xAA, 0xBB, 0xCC, 0xDD};
  dev->writeBlock(0x3101, 0, data, 4);
  EXPECT_EQ(peer.receive(16), (Bytes{0x60, 0x01, 0x40, 0x78, 0x00, 0x00, 0x31, 0x00, 0x01, 0xAA, 0x04, 0x73,
                                     0xBB, 0xCC, 0xDD, 0xAA}));
  EXPECT_EQ(sentChunks.size(), 2u);
  peer.send({0xFF});
  EXPECT_EQ(drive([&] { return dev->writeBlock(0x3101, 0, data, 4); }), -3);

  dev->writeBlock(0x3101, 0, data, 4);
  peer.receive(16);
  peer.send({0xFE});
  EXPECT_EQ(drive([&] { return dev->writeBlock(0x3101, 0, data, 4); }), -11);

  // Any other non-zero status is a failed write, never a success.
  dev->writeBlock(0x3101, 0, data, 4);
  peer.receive(16);
  peer.send({0x42});
  EXPECT_EQ(drive([&] { return dev->writeBlock(0x3101, 0, data, 4); }), -1);
}

TEST_F(DeviceOverTcp, EmptyWriteIsTwelveBytesAndAnyOneByteAnswerCompletesIt) {
  EXPECT_EQ(dev->writeBlock(0x08, 2, nullptr, 0), 0);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0xBF}));
  EXPECT_EQ(sentChunks.size(), 1u);
  peer.send({0x37});
  EXPECT_EQ(drive([&] { return dev->writeBlock(0x08, 2, nullptr, 0); }), 1);
}

// ---------------------------------------------------------------- address, baud rate, clock

TEST_F(DeviceOverTcp, SetAddressFrameStatusAndRefusal) {
  EXPECT_EQ(dev->setAddress(7), 0);
  EXPECT_EQ(peer.receive(6), (Bytes{0x60, 0x01, 0x20, 0xB8, 0x07, 0xF1}));
  peer.send({0x00});
  EXPECT_EQ(drive([&] { return dev->setAddress(7); }), 1);
  EXPECT_EQ(dev->address, 7);

  const std::pair<uint8_t, int> statuses[] = {{0xFF, -3}, {0xFE, -11}, {0x42, -1}};
  for (auto [status, expected] : statuses) {
    dev->setAddress(9);
    peer.receive(6);
    peer.send({status});
    EXPECT_EQ(drive([&] { return dev->setAddress(9); }), expected);
    EXPECT_EQ(dev->address, 7);
  }

  sentChunks.clear();
  EXPECT_EQ(dev->setAddress(240), -3);
  EXPECT_EQ(dev->setAddress(255), -3);
  EXPECT_TRUE(sentChunks.empty());
  EXPECT_FALSE(dev->isBusy());
}

TEST_F(DeviceOverTcp, SetBaudRateCodesAndUnsupportedRate) {
  EXPECT_EQ(dev->setBaudRate(9600), 0);
  EXPECT_EQ(peer.receive(6), (Bytes{0x60, 0x01, 0x30, 0x98, 0x02, 0xFB}));
  peer.send({0x00});
  EXPECT_EQ(drive([&] { return dev->setBaudRate(9600); }), 1);

  const std::pair<uint32_t, uint8_t> codes[] = {{38400, 0}, {19200, 1}, {4800, 3}, {1200, 4}};
  for (auto [baud, code] : codes) {
    dev->setBaudRate(baud);
    Bytes f = peer.receive(6);
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[4], code) << baud;
    peer.send({0x00});
    EXPECT_EQ(drive([&] { return dev->setBaudRate(baud); }), 1);
  }

  sentChunks.clear();
  EXPECT_EQ(dev->setBaudRate(57600), -11);
  EXPECT_TRUE(sentChunks.empty());
}

TEST_F(DeviceOverTcp, ReadClockDecodesBcdFieldsAndChecksTheSum) {
  ClockValue c{};
  EXPECT_EQ(dev->readClock(&c), 0);
  EXPECT_EQ(peer.receive(4), (Bytes{0x60, 0x01, 0x60, 0x38}));
  peer.send({0x12, 0x34, 0x56, 0x03, 0x15, 0x06, 0x25, 0xFB});
  EXPECT_EQ(drive([&] { return dev->readClock(&c); }), 1);
  EXPECT_EQ(c.hour, 12);
  EXPECT_EQ(c.minute, 34);
  EXPECT_EQ(c.second, 56);
  EXPECT_EQ(c.weekday, 3);
  EXPECT_EQ(c.day, 15);
  EXPECT_EQ(c.month, 6);
  EXPECT_EQ(c.year, 2025);

  dev->readClock(&c);
  peer.receive(4);
  peer.send({0x12, 0x34, 0x56, 0x03, 0x15, 0x06, 0x25, 0xFC});
  EXPECT_EQ(drive([&] { return dev->readClock(&c); }), -4);
}

TEST_F(DeviceOverTcp, WriteClockWaitsHalfASecondOnItsTimerBeforeSending) {
  startFakeClockAt(2000);
  const ClockValue c{12, 34, 56, 3, 15, 6, 2025};
  EXPECT_EQ(dev->writeClock(c), 0);
  EXPECT_TRUE(dev->isBusy());
  tickSetFake(2499);
  EXPECT_EQ(dev->writeClock(c), 0);
  EXPECT_TRUE(sentChunks.empty());
  tickSetFake(2500);
  EXPECT_EQ(dev->writeClock(c), 0);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x61, 0x3A, 0x12, 0x34, 0x56, 0x03, 0x15, 0x06, 0x25, 0xFB}));
  peer.send({0x00});
  EXPECT_EQ(drive([&] { return dev->writeClock(c); }), 1);
  EXPECT_FALSE(dev->isBusy());

  const ClockValue bad{12, 34, 56, 3, 15, 6, 2100};
  EXPECT_EQ(dev->writeClock(bad), -3);
}

TEST_F(DeviceOverTcp, ClockCorrectionSignAndBcdMagnitude) {
  EXPECT_EQ(dev->writeClockCorrection(-5), 0);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x62, 0x3C, 0xFF, 0x05, 0, 0, 0, 0, 0, 0x41}));
  peer.send({0x00});
  EXPECT_EQ(drive([&] { return dev->writeClockCorrection(-5); }), 1);

  dev->writeClockCorrection(12);
  EXPECT_EQ(peer.receive(12), (Bytes{0x60, 0x01, 0x62, 0x3C, 0x00, 0x12, 0, 0, 0, 0, 0, 0x7B}));
  peer.send({0xFE});
  EXPECT_EQ(drive([&] { return dev->writeClockCorrection(12); }), -11);

  sentChunks.clear();
  EXPECT_EQ(dev->writeClockCorrection(150), -3);
  EXPECT_EQ(dev->writeClockCorrection(-100), -3);
  EXPECT_TRUE(sentChunks.empty());
}

}  // namespace
