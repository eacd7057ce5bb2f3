// The simulator behind a pseudo-terminal that the tool opens as a serial port: line pacing,
// line-rate agreement, the set-baud command and a firmware update at a raised rate.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "firmware/boot_update.h"
#include "sim_harness.h"
#include "support/scripted_operator.h"

namespace {

class SimPty : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testsupport::makeTempDir();
    link = dir + "/ttyKORVANE";
  }
  void TearDown() override {
    portTableShutdownForTests();
    sim.stop();
  }
  void run(const std::vector<std::string>& args, uint32_t baud = 4800) {
    std::vector<std::string> all{"--pty", link};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_TRUE(sim.start(all)) << sim.readyLine << sim.stderrText();
    EXPECT_EQ(sim.readyLine.rfind("korvane-sim: pty " + link + " -> /dev/pts/", 0), 0u) << sim.readyLine;
    tickStart();
    portTableShutdownForTests();
    portTableInit();
    ASSERT_EQ(portOpen(link.c_str(), &port), 0);
    ASSERT_EQ(portSetLine(port, baud, 8, 'N', 1), 0);
    dev = std::make_unique<UTRKDevice>(port);
    dev->address = 1;
  }
  int identify(uint8_t out[3]) { return pollRequest(*dev, [&] { return dev->identify(out, 1); }); }

  simtest::SimProcess sim;
  std::string dir, link;
  uint16_t port = 0;
  std::unique_ptr<UTRKDevice> dev;
};

TEST_F(SimPty, AnswersOverThePseudoTerminalAndSurvivesAReopen) {
  run({});
  uint8_t out[3] = {};
  ASSERT_EQ(identify(out), kResultDone);
  EXPECT_EQ(out[1], '#');
  uint8_t main[68];
  ASSERT_EQ(pollRequest(*dev, [&] { return dev->readBlock(0x3101, kBankData, 68, main, kCheckCrc, 0); }),
            kResultDone);
  EXPECT_EQ(main[3], 1);
  portClose(port);
  ASSERT_EQ(portOpen(link.c_str(), &port), 0);
  ASSERT_EQ(portSetLine(port, 4800, 8, 'N', 1), 0);
  dev->port = port;
  EXPECT_EQ(identify(out), kResultDone);
}

TEST_F(SimPty, PacedRepliesTakeTheirLineTime) {
  run({"--baud", "4800"});
  uint8_t main[68];
  const uint32_t t0 = nowMs();
  ASSERT_EQ(pollRequest(*dev, [&] { return dev->readBlock(0x3101, kBankData, 68, main, kCheckCrc, 0); }),
            kResultDone);
  // 73 bytes of 10 bits at 4800 baud: about 152 ms on the line.
  EXPECT_GE(nowMs() - t0, 145u);
}

TEST_F(SimPty, BoardIgnoresALineSetToAnotherRateAndFollowsSetBaud) {
  run({"--baud", "4800"}, 9600);
  uint8_t out[3] = {};
  EXPECT_EQ(identify(out), kResultTimeout);
  ASSERT_EQ(portSetLine(port, 4800, 8, 'N', 1), 0);
  ASSERT_EQ(identify(out), kResultDone);
  // Set baud 19200 (code 1): answered at the old rate, then the board listens at the new one.
  ASSERT_EQ(pollRequest(*dev, [&] { return dev->setBaudRate(19200); }), kResultDone);
  EXPECT_EQ(identify(out), kResultTimeout);
  ASSERT_EQ(portSetLine(port, 19200, 8, 'N', 1), 0);
  EXPECT_EQ(identify(out), kResultDone);
}

TEST_F(SimPty, FirmwareUpdateAtARaisedRateReturnsToTheLineRate) {
  const std::string out = dir + "/received.bin";
  const std::string imagePath = dir + "/pcb_m7_02.bin";
  std::vector<uint8_t> image(4 * kImageRecordBytes);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i ^ (i >> 8));
  std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
  run({"--baud", "4800", "--image-out", out});

  PortBootLink bootLink(port);
  ScriptedOperator op;
  FirmwareUpdateRequest req;
  req.imagePath = imagePath;
  req.maxBaud = 38400;
  req.portBaud = 4800;
  req.prefs.baud = 4800;
  const FirmwareOutcome r = updateFirmware(bootLink, op, req);
  EXPECT_TRUE(r.ok()) << op.log;
  EXPECT_TRUE(r.baudRaised);
  EXPECT_NE(op.log.find("New baud rate is set 38400"), std::string::npos) << op.log;
  std::ifstream f(out, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {}), image);
  // Both ends are back at 4800.
  uint8_t id[3] = {};
  EXPECT_EQ(identify(id), kResultDone);
}

}  // namespace
