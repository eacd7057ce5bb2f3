// The service session both front ends drive, against korvane-sim: opening a port or saying
// why not, every request of identification, update target and side monitor at the
// board it names, serving another board from then on, and the claim on the bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/service_session.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"

namespace {

using testsupport::Bytes;

struct Frame {
  bool sent;
  Bytes bytes;
};

class ServiceSessionSim : public ::testing::Test {
 protected:
  void SetUp() override {
    tickStart();
    portTableShutdownForTests();
    portTableInit();
    portSetTrace([this](uint16_t, bool sent, const uint8_t* d, size_t n) {
      frames.push_back({sent, Bytes(d, d + n)});
    });
    ss.attach(&op);
  }
  void TearDown() override {
    ss.closePort();
    portSetTrace(nullptr);
  }
  std::vector<Bytes> sent() const {
    std::vector<Bytes> out;
    for (const Frame& f : frames)
      if (f.sent) out.push_back(f.bytes);
    return out;
  }
  // Opens the simulator's listening port through the session.
  bool openSim(const std::vector<std::string>& boards) {
    std::vector<std::string> args{"--listen", "127.0.0.1:0"};
    args.insert(args.end(), boards.begin(), boards.end());
    if (!sim.start(args)) return false;
    return ss.openPort("TCPC_127.0.0.1:" + std::to_string(sim.listenPort()), 9600, true).ok();
  }

  simtest::SimProcess sim;
  ScriptedOperator op;
  ServiceSession ss;
  std::vector<Frame> frames;
};

TEST_F(ServiceSessionSim, OpensTheNamedPortWithItsLinkUpOrSaysWhyAndKeepsNoPort) {
  PortOpenOutcome out = ss.openPort("", 9600, true);
  EXPECT_EQ(out.result, PortOpenResult::CannotOpen);
  EXPECT_EQ(out.code, kPortOpenEmptyName);
  EXPECT_FALSE(out.text.empty());
  EXPECT_EQ(ss.port, 0);

  out = ss.openPort("/nonexistent/korvane-tty", 9600, true);
  EXPECT_EQ(out.result, PortOpenResult::CannotOpen);
  EXPECT_NE(out.code, 0);
  EXPECT_NE(out.text.find("/nonexistent/korvane-tty"), std::string::npos) << out.text;
  EXPECT_EQ(ss.port, 0);
  EXPECT_EQ(ss.dev->port, 0);

  ASSERT_TRUE(openSim({"--board", "1"}));
  // The command line's open waits for the connection: the first request is not lost.
  EXPECT_TRUE(portLinkUp(ss.port));
  EXPECT_EQ(ss.dev->port, ss.port);
  EXPECT_EQ(ss.identifyAndRefresh(1, false), 1);
  ss.closePort();
  EXPECT_EQ(ss.port, 0);
  EXPECT_EQ(ss.dev->port, 0);
  EXPECT_EQ(ss.identifyAndRefresh(1, false), 0);  // nothing goes out on a closed port
}

TEST_F(ServiceSessionSim, EveryRequestGoesToTheBoardItNamesAndAnotherBoardStartsClean) {
  ASSERT_TRUE(openSim({"--board", "1", "--board", "5:$"}));
  int banner = -1;
  ss.session.onPumpAddress = [&](uint8_t a) { banner = a; };

  // The board at 5, a mass-metered one, answers for itself.
  ss.serveBoardAt(5);
  EXPECT_EQ(banner, 5);
  frames.clear();
  ASSERT_EQ(ss.identifyAndRefresh(5, false), 1);
  ASSERT_GE(sent().size(), 2u);
  EXPECT_EQ(sent()[0], (Bytes{0x60, 0x05, 0x21, 0xaa}));        // identify
  EXPECT_EQ(sent()[1], (Bytes{0x60, 0x05, 0x00, 0xe8, 0x31}));  // text identifier
  EXPECT_EQ(ss.session.kind, '$');
  EXPECT_NE(std::string(ss.firmwareFilter()).find("pcb_m7_v5_"), std::string::npos);

  // An update aimed at address 1 asks that board, once, without moving the handle.
  frames.clear();
  int kind = 0;
  ASSERT_EQ(ss.queryUpdateTarget(1, &kind), 1);
  EXPECT_EQ(kind, '#');
  ASSERT_NE(deviceFirmwareFilter(kind), nullptr);
  EXPECT_STREQ(deviceFirmwareFilter(kind), "Binary\tpcb_m7_*.bin\n");
  EXPECT_EQ(deviceFirmwareFilter(0x7F), nullptr);
  ASSERT_EQ(sent().size(), 2u);
  EXPECT_EQ(sent()[0], (Bytes{0x60, 0x01, 0x21, 0xba}));
  EXPECT_EQ(sent()[1], (Bytes{0x60, 0x01, 0x00, 0xf8, 0x31}));
  EXPECT_EQ(ss.dev->address, 5);
  EXPECT_NE(op.log.find("TRK controller"), std::string::npos);

  // Serving board 1 from now on: board 5's password and kind must not go with the tool.
  ss.session.login.cached = true;
  ss.session.login.password = 77;
  bool forgotten = false;
  ss.session.onForgetBoard = [&] { forgotten = true; };
  ss.serveBoardAt(5);  // the same board: nothing is forgotten
  EXPECT_TRUE(ss.session.login.cached);
  EXPECT_FALSE(forgotten);
  ss.serveBoardAt(1);
  EXPECT_TRUE(forgotten);
  EXPECT_FALSE(ss.session.login.cached);
  EXPECT_EQ(ss.session.kind, 0);
  EXPECT_EQ(ss.dev->address, 1);
  EXPECT_EQ(ss.session.pumpAddress, 1);
  EXPECT_EQ(banner, 1);

  // The side addresses come from board 1's main settings, read with CRC at its address.
  frames.clear();
  ASSERT_EQ(ss.readSideAddresses(), 1);
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(sent()[0],
            (Bytes{0x60, 0x01, 0x48, 0x68, 0x02, 0x00, 0x31, 0x00, 0x01, 0x00, 0x44, 0x58}));
  ss.aimSideMonitor(9);
  const uint8_t sideA = ss.settings.readCopy.data()[ms::side_addr0.offset];
  ASSERT_NE(sideA, 0);
  EXPECT_EQ(ss.monitor.sideAAddress, sideA);
  EXPECT_EQ(ss.monitor.kind, '#');  // not known yet: the plain kind
  EXPECT_EQ(ss.monitor.dev, ss.dev.get());
  // A copy without a side A address falls back to the address given, or to none.
  ss.settings.readCopy = MainSettings{};
  ss.aimSideMonitor(9);
  EXPECT_EQ(ss.monitor.sideAAddress, 9);
  ss.aimSideMonitor();
  EXPECT_EQ(ss.monitor.sideAAddress, 0);
  EXPECT_FALSE(ss.monitor.sideRefusal(false).empty());
}

class CountingTimer : public MonitorTimer {
 public:
  bool armed = false;
  int arms = 0;
  void arm(uint32_t) override {
    armed = true;
    ++arms;
  }
  void cancel() override { armed = false; }
  bool isArmed() const override { return armed; }
};

TEST(ServiceSession, ClaimingTheBusPausesTheMonitorAndABusySessionRefuses) {
  ServiceSession ss;
  ScriptedOperator op;
  ss.attach(&op);
  EXPECT_TRUE(ss.claimBus(false));  // a monitor that never ran

  CountingTimer t;
  ss.monitor.timer = &t;
  EXPECT_TRUE(ss.claimBus(false));  // idle and not armed: left alone
  EXPECT_EQ(t.arms, 0);

  // On "Load" the monitor keeps its one timer; elsewhere its next step is dropped.
  t.arm(kMonitorStepMs);
  EXPECT_TRUE(ss.claimBus(true));
  EXPECT_TRUE(t.armed);
  EXPECT_TRUE(ss.claimBus(false));
  EXPECT_FALSE(t.armed);

  // A monitor in the middle of an exchange is brought to idle first.
  ss.monitor.monitorState = kMonitorReadIo;
  EXPECT_TRUE(ss.claimBus(false));
  EXPECT_EQ(ss.monitor.monitorState, kMonitorIdle);
  EXPECT_FALSE(t.armed);

  {
    SessionBusy busy(ss);
    t.arm(kMonitorStepMs);
    EXPECT_FALSE(ss.claimBus(false));
    EXPECT_TRUE(t.armed);  // a refused claim touches nothing
  }
  EXPECT_FALSE(ss.busy);
  EXPECT_TRUE(ss.claimBus(false));
}

}  // namespace

#ifndef _WIN32
namespace {

using testsupport::Bytes;

TEST(ServiceSessionPty, ARateTheLineRefusesClosesThePortAndTheNextOpenWorks) {
  const std::string path = testsupport::makeTempDir() + "/bus";
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--pty", path, "--board", "1"}));
  tickStart();
  portTableShutdownForTests();
  portTableInit();
  ScriptedOperator op;
  ServiceSession ss;
  ss.attach(&op);
  PortOpenOutcome out = ss.openPort(path, 30000000, true);
  EXPECT_EQ(out.result, PortOpenResult::LineRefused);
  EXPECT_NE(out.text.find("30000000"), std::string::npos) << out.text;
  EXPECT_EQ(ss.port, 0);
  EXPECT_EQ(ss.dev->port, 0);
  // The refused open left nothing behind: the same device opens at a rate it runs at.
  out = ss.openPort(path, 9600, true);
  ASSERT_TRUE(out.ok()) << out.text;
  EXPECT_EQ(ss.identifyAndRefresh(1, false), 1);
  ss.closePort();
}

}  // namespace
#endif
