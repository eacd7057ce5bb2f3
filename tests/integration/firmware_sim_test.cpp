// Whole firmware updates against korvane-sim over a pseudo-terminal and over TCP, with the
// image the simulated boot loader received compared byte for byte; a board already in its boot
// loader; and an update cut off by a board that goes silent.
#include <gtest/gtest.h>

#include "firmware/boot_update.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"

namespace {

using namespace testsupport;
constexpr uint32_t kImageOutWaitMs = 3000;

Bytes pattern(size_t n, unsigned seed) {
  Bytes v(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

// Stops the simulator once a given number of blocks went out: from then on the board is silent.
class SilencingOperator : public ScriptedOperator {
 public:
  simtest::SimProcess* sim = nullptr;
  int blocks = 0;
  int silenceAfter = 0;
  void logReplaceTail(size_t count, const std::string& text) override {
    ScriptedOperator::logReplaceTail(count, text);
    if (++blocks == silenceAfter) sim->stop();
  }
};

class FirmwareSim : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = makeTempDir();
    req.imagePath = dir + "/pcb_m7_test.bin";
    outPath = dir + "/received.bin";
    req.currentAddress = 1;
    req.line.baud = req.portBaud = req.maxBaud = 9600;
  }
  void TearDown() override {
    portSetTrace(nullptr);
    if (port) portClose(port);
  }
  // Writes an image of the given size; returns what the board should hold (last record padded with
  // 0xFF).
  Bytes writeImage(size_t size, unsigned seed) {
    Bytes image = pattern(size, seed);
    writeBytes(req.imagePath, image);
    while (image.size() % kImageRecordBytes) image.push_back(0xFF);
    return image;
  }
  // The image file the simulator writes once the boot loader is left.
  Bytes receivedImage(size_t size) {
    const uint32_t until = nowMs() + kImageOutWaitMs;
    while (readBytes(outPath).size() < size && !deadlineReached(until)) tickSleepMs(20);
    return readBytes(outPath);
  }
  int identify() {
    UTRKDevice dev(port);
    uint8_t id[3];
    return pollRequest(dev, [&] { return dev.identify(id, 1); });
  }
  std::string dir, outPath;
  uint16_t port = 0;
  simtest::SimProcess sim;
  FirmwareUpdateRequest req;
  ScriptedOperator op;
};

TEST_F(FirmwareSim, PseudoTerminalUpdateAtARaisedRateArrivesWholeAndReturnsToTheLineRate) {
  port = simtest::openSimPty(sim, dir + "/pty", {"--baud", "4800", "--image-out", outPath}, 4800);
  ASSERT_NE(port, 0) << sim.stderrText();
  const Bytes want = writeImage(5 * kImageRecordBytes + 100, 1);
  req.line.baud = req.portBaud = 4800;
  req.maxBaud = 38400;
  PortBootLink link(port);
  const FirmwareOutcome o = updateFirmware(link, op, req);
  EXPECT_TRUE(o.ok()) << op.log;
  EXPECT_TRUE(o.baudRaised);
  EXPECT_EQ(o.blocksSent, 6u);
  EXPECT_TRUE(op.alerts.empty());
  const auto lines = op.logLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "STM32F103, flash=128K, page=2048 bytes");
  EXPECT_NE(op.log.find("New baud rate is set 38400\n"), std::string::npos) << op.log;
  EXPECT_NE(op.log.find("Writing data...\n"), std::string::npos) << op.log;
  EXPECT_EQ(lines.back(), "OK");
  EXPECT_EQ(receivedImage(want.size()), want);
  EXPECT_EQ(identify(), kResultDone);  // both ends are back at 4800
}

TEST_F(FirmwareSim, TcpUpdateUsesSequentialBlocksForLargePagesAndCountsTheReprogram) {
  port = simtest::openSimPort(
      sim, {"--image-out", outPath, "--cpu", "407/1024/131072/0xC0", "--baud", "9600"});
  ASSERT_NE(port, 0) << sim.stderrText();
  const Bytes want = writeImage(6 * kImageRecordBytes + 100, 2);
  req.maxBaud = 115200;
  int sequential = 0;
  portSetTrace([&](uint16_t, bool out, const uint8_t* d, size_t n) {
    sequential += out && n >= 4 && d[2] == kBootCmdWriteSequential;
  });
  PortBootLink link(port);
  const FirmwareOutcome o = updateFirmware(link, op, req);
  portSetTrace(nullptr);
  EXPECT_TRUE(o.ok()) << op.log << sim.stderrText();
  // The board could raise the rate, but a TCP port has no line of its own to follow it.
  EXPECT_FALSE(o.baudRaised);
  EXPECT_EQ(op.logLines().at(0), "STM32L407, flash=1024K, page=131072 bytes");
  EXPECT_NE(op.log.find("The port cannot run at 115200 baud ("), std::string::npos) << op.log;
  EXPECT_EQ(op.log.find("New baud rate is set"), std::string::npos) << op.log;
  EXPECT_EQ(sequential, 7);
  EXPECT_EQ(receivedImage(want.size()), want);
  UTRKDevice dev(port);
  dev.address = 1;
  uint8_t counters[4] = {};
  ASSERT_EQ(pollRequest(
                dev, [&] { return dev.readBlock(0x04, kBankService, 4, counters, kCheckCrc, 0); }),
            kResultDone);
  EXPECT_EQ(counters[2], 1);  // reprogram count
}

// A gateway whose bus runs at 4800 baud: the tool cannot raise its rate, and each 280-byte
// block takes longer on the line than the board's answer time, so the acknowledgement wait has
// to start when the block has crossed the line.
TEST_F(FirmwareSim, TcpUpdateAtALowLineRateWaitsForEachBlockToCrossTheLine) {
  port = simtest::openSimPort(sim, {"--image-out", outPath, "--baud", "4800"});
  ASSERT_NE(port, 0) << sim.stderrText();
  const Bytes want = writeImage(2 * kImageRecordBytes + 10, 3);
  req.line.baud = req.portBaud = req.maxBaud = 4800;
  EXPECT_EQ(lineTimeMs(280, 4800), 584u);
  EXPECT_EQ(lineTimeMs(280, 0), 0u);
  PortBootLink link(port);
  const FirmwareOutcome o = updateFirmware(link, op, req);
  EXPECT_TRUE(o.ok()) << op.log << sim.stderrText();
  EXPECT_EQ(o.blocksSent, 3u);
  EXPECT_TRUE(op.alerts.empty());
  EXPECT_EQ(receivedImage(want.size()), want);
}

TEST_F(FirmwareSim, BoardInItsBootLoaderAnswersOnlyBootCommandsAndIsReachedAtF0) {
  port = simtest::openSimPort(
      sim, {"--board", "5", "--text", "TRK boot loader", "--image-out", outPath});
  ASSERT_NE(port, 0);
  UTRKDevice dev(port);
  dev.address = 5;
  char text[129] = {};
  ASSERT_EQ(pollRequest(dev, [&] { return dev.readTextId(text); }), kResultDone);
  EXPECT_STREQ(text, "TRK boot loader");
  uint8_t main[68];
  auto readMain = [&] {
    return pollRequest(dev,
                       [&] { return dev.readBlock(0x3101, kBankData, 68, main, kCheckCrc, 0); });
  };
  EXPECT_EQ(readMain(), kResultTimeout);

  const Bytes want = writeImage(3 * kImageRecordBytes, 3);
  req.target = BootTarget::BootLoaderAddress;
  req.currentAddress = 9;  // not the board's: mode 2 must not use it
  PortBootLink link(port);
  EXPECT_TRUE(updateFirmware(link, op, req).ok()) << op.log;
  const Bytes got = receivedImage(want.size());
  ASSERT_GE(got.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
  // Left the boot loader: the application answers.
  ASSERT_EQ(pollRequest(dev, [&] { return dev.readTextId(text); }), kResultDone);
  EXPECT_STREQ(text, "TRK controller v3.1");
  EXPECT_EQ(readMain(), kResultDone);
}

TEST_F(FirmwareSim, SilentBoardInterruptsTheUpdateThenLeaveAndLineRestore) {
  port = simtest::openSimPort(sim, {"--image-out", outPath, "--cpu", "103/128/1024/0x80"});
  ASSERT_NE(port, 0);
  writeImage(40 * kImageRecordBytes, 4);
  req.maxBaud = 38400;
  SilencingOperator sop;
  sop.sim = &sim;
  sop.silenceAfter = 5;
  // A recording link shows the frames tried and the line settings the update leaves behind.
  struct RecordingLink : PortBootLink {
    using PortBootLink::PortBootLink;
    std::vector<uint32_t> rates;
    int leaveFrames = 0;
    bool write(const uint8_t* d, size_t n) override {
      if (n == 4 && d[2] == kBootCmdLeave) ++leaveFrames;
      return PortBootLink::write(d, n);
    }
    int setLine(uint32_t b, uint8_t d, char p, uint8_t s) override {
      rates.push_back(b);
      return PortBootLink::setLine(b, d, p, s);
    }
  } link(port);
  const FirmwareOutcome o = updateFirmware(link, sop, req);
  EXPECT_EQ(o.result, FirmwareResult::BlockTimeout);
  // The board goes silent while the sixth block's progress is shown; that block is already
  // on the line, so the board may still have acknowledged it before it stopped.
  EXPECT_GE(o.blocksSent, 5u);
  EXPECT_LE(o.blocksSent, 6u);
  EXPECT_EQ(sop.alerts, (std::vector<std::string>{"Timeout. Operation not finished"}));
  EXPECT_EQ(o.leaveResult, kHandshakeFailed);
  const auto lines = sop.logLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Finished. Returning to a normal mode");
  EXPECT_EQ(lines.back(), "Error!");
  // Over TCP the line rate is the gateway's: the rate is not raised, only put back at the end.
  EXPECT_EQ(link.rates, (std::vector<uint32_t>{9600}));
  EXPECT_EQ(link.leaveFrames,
            kBootHandshakeAttempts);  // every leave attempt although nobody answers
}

}  // namespace
