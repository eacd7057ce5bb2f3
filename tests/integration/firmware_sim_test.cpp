// Whole firmware updates against korvane-sim over a pseudo-terminal and over TCP, with the
// image the simulated boot loader received compared byte for byte; an update cut off by a
// board that goes silent; and the command-line front end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware/boot_update.h"
#include "integration/sim_harness.h"
#include "support/scripted_operator.h"

namespace {

constexpr uint32_t kImageOutWaitMs = 3000;

std::vector<uint8_t> pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// What the board should hold: the records, the last one completed with 0xFF.
std::vector<uint8_t> padded(std::vector<uint8_t> image) {
  while (image.size() % kImageRecordBytes) image.push_back(0xFF);
  return image;
}

// The image file the simulator writes once the boot loader is left.
std::vector<uint8_t> waitImageOut(const std::string& path, size_t size) {
  const uint32_t until = nowMs() + kImageOutWaitMs;
  std::vector<uint8_t> got;
  do {
    got = readFile(path);
    if (got.size() >= size) break;
    tickSleepMs(20);
  } while (!deadlineReached(until));
  return got;
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
    dir = testsupport::makeTempDir();
    imagePath = dir + "/pcb_m7_test.bin";
    outPath = dir + "/received.bin";
    req.imagePath = imagePath;
    req.currentAddress = 1;
    req.prefs.baud = 9600;
    req.portBaud = 9600;
    req.maxBaud = 9600;
  }
  void TearDown() override {
    portSetTrace(nullptr);
    if (port) portClose(port);
  }

  uint16_t openPty(simtest::SimProcess& sim, const std::vector<std::string>& extra) {
    std::string pty = dir + "/pty";
    std::vector<std::string> args{"--pty", pty, "--image-out", outPath};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!sim.start(args)) return 0;
    tickStart();
    portTableShutdownForTests();
    portTableInit();
    if (portOpen(pty.c_str(), &port) != 0) return 0;
    portSetLine(port, 9600, 8, 'N', 1);
    return port;
  }

  uint16_t openTcp(simtest::SimProcess& sim, const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--image-out", outPath};
    args.insert(args.end(), extra.begin(), extra.end());
    port = simtest::openSimPort(sim, args);
    return port;
  }

  std::string dir, imagePath, outPath;
  uint16_t port = 0;
  FirmwareUpdateRequest req;
  ScriptedOperator op;
};

TEST_F(FirmwareSim, WholeImageOverPseudoTerminalArrivesByteForByte) {
  simtest::SimProcess sim;
  ASSERT_NE(openPty(sim, {"--cpu", "103/128/2048/0x00"}), 0) << sim.stderrText();
  std::vector<uint8_t> image = pattern(128 * 1024, 1);
  writeFile(imagePath, image);
  PortBootLink link(port);
  FirmwareOutcome o = updateFirmware(link, op, req);
  EXPECT_TRUE(o.ok()) << op.log;
  EXPECT_EQ(o.blocksSent, 128u * 1024 / kImageRecordBytes + 1);
  EXPECT_TRUE(op.alerts.empty());
  auto lines = op.logLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "STM32F103, flash=128K, page=2048 bytes");
  EXPECT_EQ(lines[1], "Writing data...");
  EXPECT_EQ(lines.back(), "OK");
  std::vector<uint8_t> want = padded(image);
  std::vector<uint8_t> got = waitImageOut(outPath, want.size());
  ASSERT_GE(got.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << "image differs";
}

TEST_F(FirmwareSim, TcpUpdateWithRaisedRateAndSequentialBlocks) {
  simtest::SimProcess sim;
  ASSERT_NE(openTcp(sim, {"--cpu", "103/1024/131072/0x80", "--baud", "9600"}), 0);
  std::vector<uint8_t> image = pattern(6 * kImageRecordBytes + 100, 2);
  writeFile(imagePath, image);
  req.maxBaud = 115200;
  std::vector<std::vector<uint8_t>> sent;
  portSetTrace([&](uint16_t, bool out, const uint8_t* d, size_t n) {
    if (out) sent.emplace_back(d, d + n);
  });
  PortBootLink link(port);
  FirmwareOutcome o = updateFirmware(link, op, req);
  EXPECT_TRUE(o.ok()) << op.log << sim.stderrText();
  EXPECT_TRUE(o.baudRaised);
  EXPECT_NE(op.log.find("New baud rate is set 115200\n"), std::string::npos);
  int sequential = 0;
  for (auto& s : sent)
    if (s.size() >= 4 && s[2] == kBootCmdWriteSequential) ++sequential;
  EXPECT_EQ(sequential, 7);
  std::vector<uint8_t> want = padded(image);
  std::vector<uint8_t> got = waitImageOut(outPath, want.size());
  ASSERT_GE(got.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << "image differs";
}

TEST_F(FirmwareSim, BoardLeftInBootLoaderIsReachedAtF0) {
  simtest::SimProcess sim;
  ASSERT_NE(openTcp(sim, {"--board", "5", "--text", "TRK boot loader"}), 0);
  std::vector<uint8_t> image = pattern(3 * kImageRecordBytes, 3);
  writeFile(imagePath, image);
  req.mode = 2;
  req.currentAddress = 9;  // not the board's: mode 2 must not use it
  PortBootLink link(port);
  FirmwareOutcome o = updateFirmware(link, op, req);
  EXPECT_TRUE(o.ok()) << op.log;
  std::vector<uint8_t> got = waitImageOut(outPath, image.size());
  ASSERT_GE(got.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
}

TEST_F(FirmwareSim, SilentBoardInterruptsTheUpdateThenLeaveAndLineRestore) {
  simtest::SimProcess sim;
  ASSERT_NE(openTcp(sim, {"--cpu", "103/128/1024/0x80"}), 0);
  writeFile(imagePath, pattern(40 * kImageRecordBytes, 4));
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
  FirmwareOutcome o = updateFirmware(link, sop, req);
  EXPECT_EQ(o.result, FirmwareResult::BlockTimeout);
  // The board goes silent while the sixth block's progress is shown; that block is already
  // on the line, so the board may still have acknowledged it before it stopped.
  EXPECT_GE(o.blocksSent, 5u);
  EXPECT_LE(o.blocksSent, 6u);
  EXPECT_EQ(sop.alerts, (std::vector<std::string>{"Timeout. Operation not finished"}));
  EXPECT_EQ(o.leaveResult, kHandshakeFailed);
  auto lines = sop.logLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Finished. Returning to a normal mode");
  EXPECT_EQ(lines.back(), "Error!");
  EXPECT_EQ(link.rates, (std::vector<uint32_t>{38400, 9600}));
  // Every leave attempt was made although nobody answers.
  EXPECT_EQ(link.leaveFrames, kBootHandshakeAttempts);
}

TEST_F(FirmwareSim, CommandLineUpdateAndLeaveBoot) {
  simtest::SimProcess sim;
  std::vector<std::string> args{"--listen", "127.0.0.1:0", "--image-out", outPath};
  ASSERT_TRUE(sim.start(args));
  std::vector<uint8_t> image = pattern(20 * kImageRecordBytes, 5);
  writeFile(imagePath, image);
  // Run from the temporary folder: no catalog and no preferences file of the build tree.
  const std::string cli = "cd " + dir + " && " + testsupport::buildDir() +
                          "/korvane-cli --port TCPC_127.0.0.1:" + std::to_string(sim.listenPort()) +
                          " --baud 9600 ";
  std::string outFile = dir + "/cli.out";
  int rc =
      std::system((cli + "firmware " + imagePath + " --max-baud 0 >" + outFile + " 2>&1").c_str());
  std::string text;
  {
    std::vector<uint8_t> t = readFile(outFile);
    text.assign(t.begin(), t.end());
  }
  EXPECT_EQ(WEXITSTATUS(rc), 0) << text;
  EXPECT_NE(text.find("STM32F103, flash=128K, page=2048 bytes\nWriting data...\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Finished. Returning to a normal mode\nOK\n"), std::string::npos) << text;
  tickStart();
  std::vector<uint8_t> got = waitImageOut(outPath, image.size());
  ASSERT_GE(got.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));

  rc = std::system((cli + "leave-boot >/dev/null 2>&1").c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 0);
  rc = std::system((cli + "firmware " + dir + "/missing.bin >/dev/null 2>&1").c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  rc = std::system((cli + "firmware >/dev/null 2>&1").c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 2);
}

}  // namespace
