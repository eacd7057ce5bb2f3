// The side monitor and the fuelling commands over real TCP: first against a scripted peer
// that checks every frame byte for byte, then a whole delivery against korvane-sim.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "integration/sim_harness.h"
#include "protocol/fuelling.h"
#include "protocol/side_monitor.h"
#include "support/scripted_operator.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t sum(const Bytes& b, size_t from, size_t n) {
  uint8_t s = 0xFF;
  for (size_t i = from; i < from + n; ++i) {
    s ^= b[i];
    s = static_cast<uint8_t>((s << 1) | (s >> 7));
  }
  return s;
}
Bytes sealed(Bytes b) {
  b.push_back(sum(b, 0, b.size()));
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
class Peer {
 public:
  Peer() {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listenFd_, 1);
    socklen_t len = sizeof a;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Peer() {
    if (fd_ >= 0) close(fd_);
    close(listenFd_);
  }
  // Opens the tool's port to this peer and waits until it is connected.
  uint16_t connectTool() {
    portTableShutdownForTests();
    portTableInit();
    uint16_t p = 0;
    std::string name = "TCPC_127.0.0.1:" + std::to_string(port);
    if (portOpen(name.c_str(), &p) != 0) return 0;
    portAvailable(p);
    pollfd pf{listenFd_, POLLIN, 0};
    if (poll(&pf, 1, 2000) != 1) return 0;
    fd_ = accept(listenFd_, nullptr, nullptr);
    for (int i = 0; i < 2000 && !portEntry(p)->connected; ++i) {
      portAvailable(p);
      usleep(1000);
    }
    return portEntry(p)->connected ? p : 0;
  }
  Bytes readN(size_t n, int timeoutMs = 2000) {
    Bytes out;
    while (out.size() < n) {
      pollfd pf{fd_, POLLIN, 0};
      if (poll(&pf, 1, timeoutMs) != 1) break;
      uint8_t buf[512];
      ssize_t r = read(fd_, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  void send(const Bytes& b) {
    ASSERT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }
  int port = 0;

 private:
  int listenFd_ = -1;
  int fd_ = -1;
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
  // Answers a status poll and returns the frame the monitor sent.
  Bytes pollAndAnswer(const Bytes& reply) {
    EXPECT_EQ(mon.monitorState, kMonitorIdle);
    mon.step();
    Bytes f = peer.readN(4);
    peer.send(reply);
    stepUntilStateChanges();
    return f;
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

// Runs a scripted board in a thread: for each command it reads one 12-byte frame and answers.
struct FuelScript {
  std::vector<int> answers;  // -1: no answer
  std::vector<Bytes> frames;
  std::thread run(Peer& peer) {
    return std::thread([this, &peer] {
      for (int a : answers) {
        frames.push_back(peer.readN(12, 3000));
        if (a >= 0) peer.send({static_cast<uint8_t>(a)});
      }
    });
  }
};

Bytes command(uint8_t address, uint8_t cmd, Bytes body) {
  Bytes f = header(address, cmd);
  Bytes b = sealed(body);
  f.insert(f.end(), b.begin(), b.end());
  return f;
}

TEST_F(MonitorPeer, FuellingCommandsPrepareWhenNeededAndReportTheAnswer) {
  ScriptedOperator op;
  FuelScript s;
  s.answers = {0x00, 0x00};
  std::thread t = s.run(peer);
  EXPECT_EQ(sendFuellingCommand(mon, kFuelLoadVolume, 1250, false, &op), kResultDone);
  t.join();
  ASSERT_EQ(s.frames.size(), 2u);
  EXPECT_EQ(s.frames[0], command(3, 0x12, {2, 0x13, 0, 0, 0, 0, 0}));
  EXPECT_EQ(s.frames[1], command(3, 0x12, {2, 0x01, 0x00, 0x00, 0x00, 0x12, 0x50}));
  EXPECT_EQ(op.alerts, (std::vector<std::string>{"Ok"}));
  EXPECT_EQ(timer.pending, 1);

  mon.nozzleFlags = 0x80;  // the board already follows the tool: no preparation
  s = FuelScript();
  s.answers = {0xFF};
  t = s.run(peer);
  EXPECT_EQ(sendFuellingCommand(mon, kFuelSetPrice, 4560, false, &op), kResultStatus);
  t.join();
  EXPECT_EQ(s.frames[0], command(3, 0x52, {2, 0x00, 0x00, 0x45, 0x60, 0x01, 0x00}));
  EXPECT_EQ(op.alerts.back(), "Operation failed");

  s = FuelScript();
  s.answers = {-1};
  t = s.run(peer);
  EXPECT_EQ(sendFuellingCommand(mon, kFuelFinish, 0, false, &op), kResultTimeout);
  t.join();
  EXPECT_EQ(s.frames[0], command(3, 0x12, {2, 0x0F, 0, 0, 0, 0, 0}));
  EXPECT_EQ(op.alerts.back(), "Timeout!");

  // Quiet: nothing shown whatever the answer.
  size_t shown = op.alerts.size();
  s = FuelScript();
  s.answers = {0x01};
  t = s.run(peer);
  EXPECT_EQ(sendFuellingCommand(mon, kFuelSuspend, 0, true, &op), kResultStatus);
  t.join();
  EXPECT_EQ(op.alerts.size(), shown);
  // A value out of range sends nothing.
  EXPECT_EQ(sendFuellingCommand(mon, kFuelLoadVolume, -5, false, &op), kResultRefused);
  EXPECT_TRUE(peer.readN(1, 50).empty());
}

TEST_F(MonitorPeer, TestPricesGoToBothSidesThenTheTabSelectionReturns) {
  mon.nozzleFlags = 0x80;
  FuelScript s;
  s.answers = {0, 0, 0, 0};
  std::thread t = s.run(peer);
  EXPECT_EQ(sendTestPrices(mon, 2, true, 3), 4);
  t.join();
  ASSERT_EQ(s.frames.size(), 4u);
  EXPECT_EQ(s.frames[0], command(3, 0x51, {1, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}));
  EXPECT_EQ(s.frames[1], command(3, 0x52, {2, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00}));
  EXPECT_EQ(s.frames[2], command(4, 0x51, {1, 0x00, 0x00, 0x11, 0x00, 0x01, 0x00}));
  EXPECT_EQ(s.frames[3], command(4, 0x52, {2, 0x00, 0x00, 0x22, 0x00, 0x01, 0x00}));
  EXPECT_EQ(mon.monitorAddress, 4);
  EXPECT_EQ(mon.nozzle, 3);
  EXPECT_EQ(sendTestPrices(mon, 0, false, 1), 0);
  EXPECT_TRUE(peer.readN(1, 50).empty());
}

// ---- a whole delivery against the simulator ----

class LoopTimer : public MonitorTimer {
 public:
  bool pending = false;
  uint32_t due = 0;
  void arm(uint32_t ms) override {
    pending = true;
    due = nowMs() + ms;
  }
  void cancel() override { pending = false; }
};

TEST(MonitorSim, DeliveryIsFollowedFromLoadStartToFinished) {
  simtest::SimProcess sim;
  uint16_t port = simtest::openSimPort(sim, {"--board", "1:$", "--flow", "60"});
  ASSERT_NE(port, 0);
  UTRKDevice dev(port);
  dev.address = 1;
  SideMonitor mon(&dev);
  LoopTimer timer;
  ScriptedOperator op;
  mon.timer = &timer;
  mon.kind = '$';
  mon.sideAAddress = 1;
  mon.nozzle = 1;
  std::vector<std::string> states, perf;
  mon.view.showState = [&](const std::string& s) {
    if (states.empty() || states.back() != s) states.push_back(s);
  };
  mon.view.showPerformance = [&](const std::string& s) { perf.push_back(s); };
  mon.startSideMonitor(false);

  auto runUntil = [&](auto done, uint32_t limitMs) {
    const uint32_t until = nowMs() + limitMs;
    while (timer.pending && !done() && !deadlineReached(until)) {
      int32_t left = static_cast<int32_t>(timer.due - nowMs());
      if (left > 0) tickSleepMs(static_cast<uint32_t>(left));
      timer.pending = false;
      mon.sideMonitorStep();
    }
  };
  runUntil([&] { return !states.empty(); }, 2000);
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.front(), "Free");

  EXPECT_EQ(sendFuellingCommand(mon, kFuelSetPrice, 4560, false, &op), kResultDone);
  EXPECT_EQ(sendFuellingCommand(mon, kFuelLoadVolume, 50, false, &op), kResultDone);
  EXPECT_EQ(op.alerts, (std::vector<std::string>{"Ok", "Ok"}));
  auto finished = [&] { return states.back().size() > 8 && states.back().substr(8) == "Finished"; };
  runUntil(finished, 10000);
  ASSERT_TRUE(finished()) << states.back();
  EXPECT_EQ(states.back(), "0000.50 Finished");
  auto at = [&](auto pred) {
    for (size_t i = 0; i < states.size(); ++i)
      if (pred(states[i])) return static_cast<int>(i);
    return -1;
  };
  int loadStart = at([](const std::string& s) { return s == "Load start"; });
  int loading = at([](const std::string& s) { return s.find(" Loading") == 7; });
  EXPECT_GE(loadStart, 0);
  EXPECT_GT(loading, loadStart);
  EXPECT_GT(static_cast<int>(states.size()) - 1, loading);
  // While the product flowed, the mass board's flow and pressure were shown.
  ASSERT_FALSE(perf.empty());
  EXPECT_EQ(perf.front().rfind("mass flow ", 0), 0u) << perf.front();
  portClose(port);
}

}  // namespace

namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun runCli(const std::string& dir, const std::string& port, const std::string& args) {
  const std::string outFile = dir + "/cli.out";
  const std::string cmd = "cd " + dir + " && " + testsupport::buildDir() +
                          "/korvane-cli --port TCPC_127.0.0.1:" + port + " " + args + " >" +
                          outFile + " 2>&1";
  int rc = std::system(cmd.c_str());
  std::string text;
  if (FILE* f = std::fopen(outFile.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return {WEXITSTATUS(rc), text};
}

TEST(MonitorCli, FuelCommandsAndMonitorFromTheCommandLine) {
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--board", "1:$", "--flow", "60"}));
  const std::string dir = testsupport::makeTempDir();
  const std::string p = std::to_string(sim.listenPort());

  CliRun r = runCli(dir, p, "fuel price 45.60");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Ok\n");
  r = runCli(dir, p, "fuel volume 0.3");
  EXPECT_EQ(r.status, 0) << r.out;
  r = runCli(dir, p, "monitor --count 15");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("State: Load start\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("State: 0000.30 Finished\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Performance: mass flow "), std::string::npos) << r.out;
  // Finished, then freed: a second finish frees the nozzle.
  EXPECT_EQ(runCli(dir, p, "fuel finish").status, 0);

  EXPECT_EQ(runCli(dir, p, "fuel volume 1.234").status, 2);
  EXPECT_EQ(runCli(dir, p, "fuel volume -1").status, 2);
  EXPECT_EQ(runCli(dir, p, "fuel volume").status, 2);
  EXPECT_EQ(runCli(dir, p, "fuel finish --nozzle 6").status, 2);
  EXPECT_EQ(runCli(dir, p, "fuel pour 1").status, 2);
  // The board serves one side: side B has no address.
  r = runCli(dir, p, "fuel finish --side B");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("side B address unknown"), std::string::npos) << r.out;
}

}  // namespace
