// The side monitor and the fuelling commands over real TCP against a scripted peer that checks
// every frame byte for byte (a whole delivery against korvane-sim is followed in cli_test).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include "protocol/fuelling.h"
#include "protocol/side_monitor.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Appends the frame checksum: from 0xFF, each byte XORed in and the sum rotated left by one.
Bytes sealed(Bytes b) {
  uint8_t s = 0xFF;
  for (uint8_t x : b) s = static_cast<uint8_t>(((s ^ x) << 1) | ((s ^ x) >> 7));
  b.push_back(s);
  return b;
}
Bytes header(uint8_t address, uint8_t command) { return sealed({0x60, address, command}); }
Bytes readFrame(uint8_t address, uint32_t reg, uint8_t count, uint8_t check) {
  Bytes f = header(address, 0x4A);
  Bytes p = sealed({check, 0x00, static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg >> 16),
                    static_cast<uint8_t>(reg), 0x00, count});
  f.insert(f.end(), p.begin(), p.end());
  return f;
}
Bytes statusReply(uint8_t nozzle, uint8_t flags, uint8_t q3, uint8_t q4, uint8_t q5, uint8_t code) {
  return sealed({nozzle, flags, 0x00, q3, q4, q5, code});
}

// The far end of the tool's TCP client port.
struct Peer {
  Peer() : listener(testsupport::listenOn(0)) {}
  ~Peer() {
    testsupport::closeSocket(fd);
    testsupport::closeSocket(listener);
  }
  uint16_t connectTool() {
    portTableShutdownForTests();
    portTableInit();
    return testsupport::openClientTo(listener, &fd);
  }
  Bytes readN(size_t n, int timeoutMs = 2000) { return testsupport::recvBytes(fd, n, timeoutMs); }
  void send(const Bytes& b) { ASSERT_TRUE(testsupport::sendAll(fd, b)); }
  int listener, fd = -1;
};

class CountingTimer : public MonitorTimer {
 public:
  int pending = 0;
  int arms = 0;
  void arm(uint32_t) override {
    pending = 1;
    ++arms;
  }
  void cancel() override { pending = 0; }
  bool isArmed() const override { return pending != 0; }
};

class MonitorPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    tickStart();
    port = peer.connectTool();
    ASSERT_NE(port, 0);
    dev = std::make_unique<UTRKDevice>(port);
    dev->address = 1;
    mon.dev = dev.get();
    mon.timer = &timer;
    mon.sideAAddress = 3;
    mon.sideBAddress = 4;
    mon.nozzle = 2;
    mon.view.showState = [this](const std::string& s) { states.push_back(s); };
    mon.view.showPerformance = [this](const std::string& s) { performance.push_back(s); };
    mon.view.showIndicator = [this](int i, bool on) { indicators[i] = on; };
    mon.startSideMonitor(false);
  }
  void TearDown() override {
    tickUseFakeClock(false);
    portClose(port);
  }
  // Steps until the state changes (the reply is already on its way).
  void stepUntilStateChanges() {
    int s = mon.monitorState;
    for (int i = 0; i < 400 && mon.monitorState == s; ++i) {
      lastDelay = mon.step();
      if (mon.monitorState == s) portWaitInput(port, 2);
    }
  }
  // Lets the monitor send its next frame, answers it and returns the frame.
  Bytes pollAndAnswer(const Bytes& reply) {
    EXPECT_EQ(mon.monitorState, kMonitorIdle);
    return readAndAnswer(4, reply);
  }
  Bytes readAndAnswer(size_t frameBytes, const Bytes& reply) {
    mon.step();
    Bytes f = peer.readN(frameBytes);
    peer.send(reply);
    stepUntilStateChanges();
    return f;
  }

  Peer peer;
  uint16_t port = 0;
  std::unique_ptr<UTRKDevice> dev;
  SideMonitor mon;
  CountingTimer timer;
  std::vector<std::string> states, performance;
  std::map<int, bool> indicators;
  int lastDelay = 0;
};

TEST_F(MonitorPeer, VolumeBoardShowsQuantityAndIoBitsButNeverReadsMass) {
  Bytes poll = pollAndAnswer(statusReply(2, 0x80, 0x00, 0x12, 0x34, 0x30));
  EXPECT_EQ(poll, header(3, 0x82));
  EXPECT_EQ(states, (std::vector<std::string>{"0012.34 Loading"}));
  EXPECT_EQ(mon.nozzleFlags, 0x80);
  ASSERT_EQ(mon.monitorState, kMonitorReadIo);  // a '#' board: no mass read while loading

  Bytes rd = readAndAnswer(12, {0x25, 0x3F, 0x00});
  EXPECT_EQ(rd, readFrame(3, 0x2E, 2, 0));
  EXPECT_EQ(mon.monitorState, kMonitorIdle);
  EXPECT_EQ(lastDelay, static_cast<int>(kMonitorStepMs));
  EXPECT_EQ(dev->address, 1);  // the handle's own address is back
  std::map<int, bool> want = {{0, true},  {1, false}, {2, true},  {3, false},
                              {4, false}, {5, true},  {8, true},  {9, true},
                              {10, true}, {11, true}, {12, true}, {13, true}};
  EXPECT_EQ(indicators, want);
  EXPECT_EQ(mon.ioBits[0], 0x25);
  EXPECT_TRUE(performance.empty());
}

TEST_F(MonitorPeer, MassBoardReadsFlowAndPressureOfTheMonitoredSide) {
  mon.kind = '$';
  mon.selectSide(true);
  pollAndAnswer(statusReply(2, 0x00, 0x00, 0x01, 0x00, 0x30));
  ASSERT_EQ(mon.monitorState, kMonitorReadMass);
  Bytes words(24);
  for (int i = 0; i < 12; ++i) words[2 * i] = static_cast<uint8_t>(i);
  words[2 * 11] = 123;  // flow of side B, 12.3
  words[2 * 5] = 0x2D;  // pressure of side B, 4.5 + 256 -> 30.1
  words[2 * 5 + 1] = 0x01;
  uint32_t crc = crc32Stm(words.data(), words.size());
  Bytes reply = words;
  for (int i = 0; i < 4; ++i) reply.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  reply.push_back(0x00);
  Bytes rd = readAndAnswer(12, reply);
  EXPECT_EQ(rd, readFrame(4, 0x29, 24, 2));
  EXPECT_EQ(performance, (std::vector<std::string>{"mass flow  12.3, pressure   30.1"}));
  EXPECT_EQ(mon.monitorState, kMonitorReadIo);
  readAndAnswer(12, {0x00, 0x00, 0x00});

  // A reply whose CRC does not match shows "Timeout!" and the loop goes on.
  pollAndAnswer(statusReply(2, 0x00, 0x00, 0x02, 0x00, 0x30));
  reply[3] ^= 0xFF;
  readAndAnswer(12, reply);
  EXPECT_EQ(performance.back(), "Timeout!");
  EXPECT_EQ(mon.monitorState, kMonitorReadIo);
}

TEST_F(MonitorPeer, BadRepliesAndSilence) {
  Bytes bad = statusReply(2, 0, 0, 0, 0, 0x00);
  bad[7] ^= 1;
  pollAndAnswer(bad);
  EXPECT_EQ(states, (std::vector<std::string>{"Wrong reply"}));
  EXPECT_EQ(mon.monitorState, kMonitorIdle);

  // Another nozzle's answer changes nothing on screen, the loop goes on to the bits.
  pollAndAnswer(statusReply(4, 0x80, 0, 0, 0, 0x21));
  EXPECT_EQ(states.size(), 1u);
  EXPECT_EQ(mon.nozzleFlags, 0x00);
  EXPECT_EQ(mon.monitorState, kMonitorReadIo);
  readAndAnswer(12, {0x00, 0x00, 0x00});

  // Silence: "Timeout!" exactly when 150 ms have passed.
  tickUseFakeClock(true);
  tickSetFake(65500);  // the 16-bit deadline wraps
  mon.step();
  EXPECT_EQ(peer.readN(4), header(3, 0x82));
  tickAdvanceFake(kStatusReplyTimeoutMs - 1);
  mon.step();
  EXPECT_EQ(mon.monitorState, kMonitorAwaitStatus);
  tickAdvanceFake(1);
  mon.step();
  EXPECT_EQ(states.back(), "Timeout!");
  EXPECT_EQ(mon.monitorState, kMonitorIdle);
}

TEST_F(MonitorPeer, PauseBetweenExchangesLeavesOneTimerAndSendsNothingNew) {
  tickUseFakeClock(true);
  tickSetFake(1000);
  mon.step();
  EXPECT_EQ(peer.readN(4), header(3, 0x82));
  int armsBefore = timer.arms;
  mon.pauseSideMonitor();  // the poll is unanswered: the pause waits out its 150 ms
  EXPECT_EQ(mon.monitorState, kMonitorIdle);
  EXPECT_FALSE(mon.stopRequested);
  EXPECT_EQ(timer.arms, armsBefore + 1);
  EXPECT_EQ(timer.pending, 1);
  EXPECT_EQ(states, (std::vector<std::string>{"Timeout!"}));
  EXPECT_TRUE(peer.readN(1, 50).empty());
  // Pausing an idle monitor sends nothing.
  mon.pauseSideMonitor();
  EXPECT_TRUE(peer.readN(1, 50).empty());
  EXPECT_EQ(timer.arms, armsBefore + 2);
}

Bytes command(uint8_t address, uint8_t cmd, Bytes body) {
  Bytes f = header(address, cmd);
  Bytes b = sealed(body);
  f.insert(f.end(), b.begin(), b.end());
  return f;
}

// Plays the board in a thread: for each answer reads one 12-byte command frame, then sends the
// answer byte (-1: stays silent).
std::vector<Bytes> answerCommands(Peer& peer, const std::vector<int>& answers,
                                  const std::function<void()>& act) {
  std::vector<Bytes> frames;
  std::thread board([&] {
    for (int a : answers) {
      frames.push_back(peer.readN(12, 3000));
      if (a >= 0) peer.send({static_cast<uint8_t>(a)});
    }
  });
  act();
  board.join();
  return frames;
}

TEST_F(MonitorPeer, FuellingCommandsPrepareWhenNeededAndReportTheAnswer) {
  struct Case {
    uint8_t flags;  // 0x80: the board already follows the tool, no preparation
    int button;
    int64_t value;
    bool quiet;
    std::vector<int> answers;
    std::vector<Bytes> frames;
    int result;
    const char* alert;  // nullptr: nothing shown
  };
  const Case cases[] = {
      {0x00,
       kFuelLoadVolume,
       1250,
       false,
       {0x00, 0x00},
       {command(3, 0x12, {2, 0x13, 0, 0, 0, 0, 0}),
        command(3, 0x12, {2, 0x01, 0x00, 0x00, 0x00, 0x12, 0x50})},
       kResultDone,
       "Ok"},
      {0x80,
       kFuelSetPrice,
       4560,
       false,
       {0xFF},
       {command(3, 0x52, {2, 0x00, 0x00, 0x45, 0x60, 0x01, 0x00})},
       kResultStatus,
       "Operation failed"},
      {0x80,
       kFuelFinish,
       0,
       false,
       {-1},
       {command(3, 0x12, {2, 0x0F, 0, 0, 0, 0, 0})},
       kResultTimeout,
       "Timeout!"},
      {0x80,
       kFuelSuspend,
       0,
       true,
       {0x01},
       {command(3, 0x12, {2, 0x0E, 0, 0, 0, 0, 0})},
       kResultStatus,
       nullptr},
  };
  for (const Case& c : cases) {
    ScriptedOperator op;
    mon.nozzleFlags = c.flags;
    int result = 0;
    const auto frames = answerCommands(peer, c.answers, [&] {
      result = sendFuellingCommand(mon, c.button, c.value, c.quiet, &op);
    });
    EXPECT_EQ(result, c.result) << c.button;
    EXPECT_EQ(frames, c.frames) << c.button;
    EXPECT_EQ(op.alerts, c.alert ? std::vector<std::string>{c.alert} : std::vector<std::string>{})
        << c.button;
    EXPECT_EQ(timer.pending, 1);  // the monitor runs again afterwards
  }
  // A value out of range sends nothing.
  ScriptedOperator op;
  EXPECT_EQ(sendFuellingCommand(mon, kFuelLoadVolume, -5, false, &op), kResultRefused);
  EXPECT_TRUE(peer.readN(1, 50).empty());
}

TEST_F(MonitorPeer, TestPricesGoToBothSidesThenTheTabSelectionReturns) {
  mon.nozzleFlags = 0x80;
  const auto frames =
      answerCommands(peer, {0, 0, 0, 0}, [&] { EXPECT_EQ(sendTestPrices(mon, 2, true, 3), 4); });
  EXPECT_EQ(frames,
            (std::vector<Bytes>{command(3, 0x51, {1, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}),
                                command(3, 0x52, {2, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00}),
                                command(4, 0x51, {1, 0x00, 0x00, 0x11, 0x00, 0x01, 0x00}),
                                command(4, 0x52, {2, 0x00, 0x00, 0x22, 0x00, 0x01, 0x00})}));
  EXPECT_EQ(mon.monitorAddress, 4);
  EXPECT_EQ(mon.nozzle, 3);
  EXPECT_EQ(sendTestPrices(mon, 0, false, 1), 0);
  EXPECT_TRUE(peer.readN(1, 50).empty());
}

}  // namespace
