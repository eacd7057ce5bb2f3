// The device handle against a board stand-in on a real loopback TCP link: every request
// frame byte for byte, the reply checks, the engine's fixed and text states and its
// deadlines (on the fake clock), and the arguments refused before anything is sent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"
#include "unit/protocol_peer.h"

namespace {

using Call = std::function<int()>;

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
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
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
  int drive(const Call& f) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
      const int r = f();
      if (r != 0 || std::chrono::steady_clock::now() > until) return r;
      pollWait(*dev);
    }
  }
  // One whole exchange: the request goes out as `frame`, the board answers `reply`.
  int exchange(const Call& f, const Bytes& frame, const Bytes& reply) {
    EXPECT_EQ(f(), 0);
    EXPECT_EQ(peer.receive(frame.size()), frame);
    peer.send(reply);
    return drive(f);
  }
  // Waits (real time) until n bytes the peer sent have reached the port's ring.
  bool waitInRing(int n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
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

TEST_F(DeviceOverTcp, EveryRequestFrameAndHowItsReplyIsJudged) {
  uint8_t id[3], regs0[6], regs1[6], regs3[6], one = 0x03, restart = 0x55;
  const uint8_t data[4] = {0xAA, 0xBB, 0xCC, 0xDD};
  char nulText[129], delText[129];
  ClockValue clock{};
  auto identify5 = [&] { return dev->identify(id, 5); };
  auto write4 = [&] { return dev->writeBlock(0x3101, 0, data, 4); };
  auto readClock = [&] { return dev->readClock(&clock); };
  const Bytes write4Frame{0x60, 0x01, 0x40, 0x78, 0x00, 0x00, 0x31, 0x00,
                          0x01, 0xAA, 0x04, 0x73, 0xBB, 0xCC, 0xDD, 0xAA};
  struct Case {
    const char* what;
    Call call;
    Bytes frame, reply;
    int result;
  };
  // clang-format off
  const Case cases[] = {
      {"identify: bad checksum", identify5, {0x60, 0x05, 0x21, 0xAA}, {0x05, 0x23, 0x07, 0x56}, -4},
      {"identify: reply from address 7", identify5, {0x60, 0x05, 0x21, 0xAA}, {0x07, 0x23, 0x07, 0x45}, -4},
      {"text ends at NUL", [&] { return dev->readTextId(nulText); }, {0x60, 0x01, 0x00, 0xF8, 0x31}, {'A', 'B', 'C', 0x00, 'Z'}, 1},
      {"text ends at DEL", [&] { return dev->readTextId(delText); }, {0x60, 0x01, 0x00, 0xF8, 0x31}, {'o', 'k', 0x7F, 'x'}, 1},
      {"baud 9600", [&] { return dev->setBaudRate(9600); }, {0x60, 0x01, 0x30, 0x98, 0x02, 0xFB}, {0x00}, 1},
      {"baud 38400", [&] { return dev->setBaudRate(38400); }, {0x60, 0x01, 0x30, 0x98, 0x00, 0xFF}, {0x00}, 1},
      {"baud 19200", [&] { return dev->setBaudRate(19200); }, {0x60, 0x01, 0x30, 0x98, 0x01, 0xFD}, {0x00}, 1},
      {"baud 4800", [&] { return dev->setBaudRate(4800); }, {0x60, 0x01, 0x30, 0x98, 0x03, 0xF9}, {0x00}, 1},
      {"baud 1200", [&] { return dev->setBaudRate(1200); }, {0x60, 0x01, 0x30, 0x98, 0x04, 0xF7}, {0x00}, 1},
      {"clock read, bad sum", readClock, {0x60, 0x01, 0x60, 0x38}, {0x12, 0x34, 0x56, 0x03, 0x15, 0x06, 0x25, 0xFC}, -4},
      {"clock read", readClock, {0x60, 0x01, 0x60, 0x38}, {0x12, 0x34, 0x56, 0x03, 0x15, 0x06, 0x25, 0xFB}, 1},
      {"clock correction -5", [&] { return dev->writeClockCorrection(-5); },
       {0x60, 0x01, 0x62, 0x3C, 0xFF, 0x05, 0, 0, 0, 0, 0, 0x41}, {0x00}, 1},
      {"clock correction 12, refused", [&] { return dev->writeClockCorrection(12); },
       {0x60, 0x01, 0x62, 0x3C, 0x00, 0x12, 0, 0, 0, 0, 0, 0x7B}, {0xFE}, -11},
      {"read mode 1, checksum bad", [&] { return dev->readBlock(0x22, 2, 6, regs1, 1, 0); },
       {0x60, 0x01, 0x4A, 0x6C, 0x01, 0x00, 0x00, 0x00, 0x22, 0x00, 0x06, 0x62}, {9, 2, 3, 4, 5, 6, 0xF7, 0x00}, -4},
      {"read mode 1, checksum good", [&] { return dev->readBlock(0x22, 2, 6, regs1, 1, 0); },
       {0x60, 0x01, 0x4A, 0x6C, 0x01, 0x00, 0x00, 0x00, 0x22, 0x00, 0x06, 0x62}, {1, 2, 3, 4, 5, 6, 0xF7, 0x00}, 1},
      {"read mode 3: no check, whole mode byte sent", [&] { return dev->readBlock(0x22, 2, 6, regs3, 3, 0); },
       {0x60, 0x01, 0x4A, 0x6C, 0x03, 0x00, 0x00, 0x00, 0x22, 0x00, 0x06, 0x63}, {1, 1, 1, 1, 1, 1, 0x00}, 1},
      {"read mode 0: no check", [&] { return dev->readBlock(0x22, 2, 6, regs0, 0, 0); },
       {0x60, 0x01, 0x4A, 0x6C, 0x00, 0x00, 0x00, 0x00, 0x22, 0x00, 0x06, 0xE2}, {9, 8, 7, 6, 5, 4, 0x33}, 1},
      {"one-byte write: any two bytes complete it", [&] { return dev->writeBlock(0x25, 2, &one, 1); },
       {0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x25, 0x03, 0x01, 0xD8}, {0xFF, 0xFF}, 1},
      {"restart write", [&] { return dev->writeBlock(0x88FFFF, 0, &restart, 1); },
       {0x60, 0x01, 0x40, 0x78, 0x00, 0x00, 0xFF, 0x88, 0xFF, 0x55, 0x01, 0x20}, {0x00, 0x00}, 1},
      {"empty write: any one byte completes it", [&] { return dev->writeBlock(0x08, 2, nullptr, 0); },
       {0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0xBF}, {0x37}, 1},
      {"long write, status FF", write4, write4Frame, {0xFF}, -3},
      {"long write, status FE", write4, write4Frame, {0xFE}, -11},
      {"long write, any other status fails", write4, write4Frame, {0x42}, -1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dev->address = c.frame[1] == 0x05 ? 3 : 1;
    EXPECT_EQ(exchange(c.call, c.frame, c.reply), c.result);
    EXPECT_FALSE(dev->isBusy());
    if (c.frame[2] == 0x21) {
      EXPECT_EQ(dev->address, 3);  // a refused identification moves nothing
    }
  }
  EXPECT_STREQ(nulText, "ABC");
  EXPECT_STREQ(delText, "ok");
  EXPECT_EQ(Bytes(regs0, regs0 + 6), (Bytes{9, 8, 7, 6, 5, 4}));
  EXPECT_EQ(Bytes(regs1, regs1 + 6), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Bytes(regs3, regs3 + 6), (Bytes{1, 1, 1, 1, 1, 1}));
  EXPECT_EQ((std::vector<int>{clock.hour, clock.minute, clock.second, clock.weekday, clock.day,
                              clock.month, clock.year}),
            (std::vector<int>{12, 34, 56, 3, 15, 6, 2025}));
}

TEST_F(DeviceOverTcp, IdentifyAtAddressZeroAsksEveryBoardAndAdoptsTheReplyAddress) {
  uint8_t out[3] = {};
  EXPECT_EQ(exchange([&] { return dev->identify(out, 0); }, {0x60, 0xF0, 0x21, 0x7D},
                     {0x05, 0x23, 0x07, 0x55}),
            1);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{5, '#', 7}));
  EXPECT_EQ(dev->address, 5);
  EXPECT_EQ(dev->identExtra, 7u);
}

TEST_F(DeviceOverTcp, SurplusAndLateRepliesDoNotLeakIntoTheNextExchange) {
  uint8_t out[3] = {};
  auto identify3 = [&] { return dev->identify(out, 3); };
  const Bytes frame{0x60, 0x03, 0x21, 0xB2}, reply{0x03, 0x23, 0x07, 0x65};
  Bytes noisy = reply;
  noisy.insert(noisy.end(), {0xEE, 0xEE});  // two bytes of noise after the reply
  EXPECT_EQ(exchange(identify3, frame, noisy), 1);
  ASSERT_TRUE(waitInRing(2));
  EXPECT_EQ(exchange(identify3, frame, reply), 1);
  // A second, late answer lands in the socket after the exchange ended; nobody pumps it.
  peer.send({0x03, 0x24, 0x09, 0x65});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(exchange(identify3, frame, reply), 1);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{3, '#', 7}));
}

TEST_F(DeviceOverTcp, TextReplyIsCutAt128CharactersAndTheDeadlineKeepsWhatArrived) {
  char text[129];
  auto textId = [&] { return dev->readTextId(text); };
  Bytes longText(200);
  for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<uint8_t>('a' + i % 26);
  EXPECT_EQ(exchange(textId, {0x60, 0x01, 0x00, 0xF8, 0x31}, longText), 1);
  EXPECT_EQ(std::string(text), std::string(longText.begin(), longText.begin() + 128));

  startFakeClockAt(1000);
  EXPECT_EQ(textId(), 0);
  peer.receive(5);
  peer.send({'H', 'E', 'L', 'L', 'O'});
  ASSERT_TRUE(waitInRing(5));
  EXPECT_EQ(textId(), 0);
  tickSetFake(1000 + 1079);  // the budget is 300 + 3 * (5 sent + 255 expected) = 1080 ms
  EXPECT_EQ(textId(), 0);
  tickSetFake(1000 + 1080);
  EXPECT_EQ(textId(), 1);
  EXPECT_STREQ(text, "HELLO");
  textId();  // silence
  tickAdvanceFake(1080);
  EXPECT_EQ(textId(), -6);
  EXPECT_FALSE(dev->isBusy());
}

TEST_F(DeviceOverTcp, FixedReplyCompletesWithItsLastPieceAndTimesOutAtTheBudgetAcrossTheWrap) {
  startFakeClockAt(0xFFFFFF00u);  // the deadline lies across the 32-bit wrap
  const uint8_t req[4] = {0x60, 0x01, 0x21, 0xBA};
  auto identify = [&] { return dev->transact(dev->frame, 4, 4); };
  std::memcpy(dev->frame, req, 4);
  EXPECT_EQ(identify(), 0);
  peer.receive(4);
  int inRing = 0;
  for (const Bytes& piece : {Bytes{0x01, 0x23}, Bytes{0x00}}) {
    peer.send(piece);
    ASSERT_TRUE(waitInRing(inRing += static_cast<int>(piece.size())));
    EXPECT_EQ(identify(), 0);
  }
  peer.send({0x99});
  ASSERT_TRUE(waitInRing(4));
  EXPECT_EQ(identify(), 1);
  EXPECT_EQ(Bytes(dev->frame, dev->frame + 4), (Bytes{0x01, 0x23, 0x00, 0x99}));
  EXPECT_EQ(dev->engineState, 0);

  // Expecting 4 with 3 bytes in: the budget of 300 + 3 * (4 + 4) ms ends at 324.
  tickSetFake(0xFFFFFF00u);
  std::memcpy(dev->frame, req, 4);
  EXPECT_EQ(identify(), 0);
  peer.receive(4);
  peer.send({0x01, 0x23, 0x00});
  ASSERT_TRUE(waitInRing(3));
  tickSetFake(0xFFFFFF00u + 323);
  EXPECT_EQ(identify(), 0);
  tickSetFake(0xFFFFFF00u + 324);
  EXPECT_EQ(identify(), -6);
  EXPECT_EQ(dev->engineState, 0);
}

TEST_F(DeviceOverTcp, ArgumentsOutsideTheFrameOrTheBoardsCodesAreRefusedUnsent) {
  dev->frame[0] = 0x60;
  uint8_t buf[256];
  EXPECT_EQ(dev->transact(dev->frame, 4, 254), -3);
  EXPECT_EQ(dev->transact(dev->frame, 4, 0), -3);
  EXPECT_EQ(dev->transact(dev->frame, 301, 1), -3);
  EXPECT_EQ(dev->readBlock(0x10, 0, 249, buf, 2, 0), -3);  // 249 + 4 + 1 = 254
  EXPECT_EQ(dev->readBlock(0x10, 0, 252, buf, 1, 0), -3);
  EXPECT_EQ(dev->readBlock(0x10, 8, 1, buf, 0, 0), -3);  // bank outside the command bits
  EXPECT_EQ(dev->readBlock(0x1000000, 0, 1, buf, 0, 0), -3);
  EXPECT_EQ(dev->setAddress(240), -3);
  EXPECT_EQ(dev->setAddress(255), -3);
  EXPECT_EQ(dev->setBaudRate(57600), -11);
  EXPECT_EQ(dev->writeClockCorrection(150), -3);
  EXPECT_EQ(dev->writeClockCorrection(-100), -3);
  EXPECT_EQ(dev->writeClock(ClockValue{12, 34, 56, 3, 15, 6, 2100}), -3);
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

TEST_F(DeviceOverTcp, BlockReadWithCrcWaitsForDataCrcAndOneMoreByteAndKeepsABadOneOut) {
  uint8_t rec[68];
  auto read = [&] { return dev->readBlock(0x3101, 0, 68, rec, 2, 0); };
  const Bytes frame{0x60, 0x01, 0x48, 0x68, 0x02, 0x00, 0x31, 0x00, 0x01, 0x00, 0x44, 0x58};
  Bytes record(68);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i + 1);
  const uint32_t crc = crc32Stm(record.data(), record.size());
  Bytes good = record;
  for (int i = 0; i < 4; ++i) good.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  good.push_back(0x5A);  // trailing byte, ignored

  EXPECT_EQ(read(), 0);
  EXPECT_EQ(peer.receive(12), frame);
  peer.send(Bytes(good.begin(), good.end() - 1));
  ASSERT_TRUE(waitInRing(72));
  EXPECT_EQ(read(), 0);  // 72 of 73 bytes are not enough
  peer.send({0x5A});
  EXPECT_EQ(drive(read), 1);
  EXPECT_EQ(Bytes(rec, rec + 68), record);

  Bytes bad = good;
  bad[10] ^= 0x01;
  std::memset(rec, 0xCC, sizeof rec);
  EXPECT_EQ(exchange(read, frame, bad), -4);
  EXPECT_EQ(rec[0], 0xCC);
}

TEST_F(DeviceOverTcp, OneByteWriteWaitsForBothAnswerBytes) {
  const uint8_t mode = 0x03;
  auto write = [&] { return dev->writeBlock(0x25, 2, &mode, 1); };
  EXPECT_EQ(write(), 0);
  peer.receive(12);
  EXPECT_EQ(sentChunks.size(), 1u);
  peer.send({0xFF});
  ASSERT_TRUE(waitInRing(1));
  EXPECT_EQ(write(), 0);
  peer.send({0xFF});
  EXPECT_EQ(drive(write), 1);
}

TEST_F(DeviceOverTcp, LongWriteGoesOutAsTwelveBytesPauseAndTheRest) {
  startFakeClockAt(10000);
  const uint8_t pw[2] = {0xE1, 0x10};
  auto write = [&] { return dev->writeBlock(0x02, 2, pw, 2); };
  EXPECT_EQ(write(), 0);
  EXPECT_EQ(nowMs(), 10000u + 50u);  // the pause sat between the two parts
  ASSERT_EQ(sentChunks.size(), 2u);
  EXPECT_EQ(sentChunks[0],
            (Bytes{0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x02, 0xE1, 0x02, 0x6C}));
  EXPECT_EQ(sentChunks[1], (Bytes{0x10, 0xDF}));
  EXPECT_EQ(peer.receive(14).size(), 14u);
  peer.send({0x00});
  EXPECT_EQ(drive(write), 1);
}

TEST_F(DeviceOverTcp, SetAddressMovesTheHandleOnlyWhenTheBoardAgrees) {
  EXPECT_EQ(
      exchange([&] { return dev->setAddress(7); }, {0x60, 0x01, 0x20, 0xB8, 0x07, 0xF1}, {0x00}),
      1);
  EXPECT_EQ(dev->address, 7);
  for (const auto& [status, expected] :
       {std::pair<uint8_t, int>{0xFF, -3}, {0xFE, -11}, {0x42, -1}}) {
    EXPECT_EQ(exchange([&] { return dev->setAddress(9); }, {0x60, 0x07, 0x20, 0xA0, 0x09, 0xED},
                       {status}),
              expected);
    EXPECT_EQ(dev->address, 7);
  }
}

TEST_F(DeviceOverTcp, WriteClockWaitsHalfASecondOnItsTimerBeforeSending) {
  startFakeClockAt(2000);
  const ClockValue c{12, 34, 56, 3, 15, 6, 2025};
  auto write = [&] { return dev->writeClock(c); };
  EXPECT_EQ(write(), 0);
  EXPECT_TRUE(dev->isBusy());
  tickSetFake(2499);
  EXPECT_EQ(write(), 0);
  EXPECT_TRUE(sentChunks.empty());
  tickSetFake(2500);
  EXPECT_EQ(
      exchange(write, {0x60, 0x01, 0x61, 0x3A, 0x12, 0x34, 0x56, 0x03, 0x15, 0x06, 0x25, 0xFB},
               {0x00}),
      1);
  EXPECT_FALSE(dev->isBusy());
}

}  // namespace
