// The firmware update against a scripted board behind the boot link, on the fake clock:
// CPU information, handshakes, baud change, block frames and the finish steps.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "firmware/boot_update.h"
#include "link/port.h"
#include "link/tick.h"
#include "support/scripted_operator.h"
#include "support/test_support.h"

namespace {

// The checksum rule written out on its own, so the code under test is not its own oracle.
uint8_t sum(const std::vector<uint8_t>& b, size_t from, size_t n) {
  uint8_t s = 0xFF;
  for (size_t i = from; i < from + n; ++i) {
    s ^= b[i];
    s = static_cast<uint8_t>((s << 1) | (s >> 7));
  }
  return s;
}

std::vector<uint8_t> cpuReply(uint8_t part, uint8_t flash, uint8_t page, uint8_t flags) {
  std::vector<uint8_t> r = {part, flash, page, 0, 0, flags, 0, 0};
  r[7] = sum(r, 0, 7);
  return r;
}

struct Frame {
  uint8_t address;
  uint8_t command;
  std::vector<uint8_t> payload;  // bytes after the 4-byte command frame in the same write
};

// A board in a test: answers each command frame from its script.
class ScriptedBoard : public BootLink {
 public:
  std::vector<uint8_t> cpu = cpuReply(0x30, 4, 1, 0x00);
  bool cpuSilent = false;
  std::deque<int> enterReplies, leaveReplies;  // empty: 0x00; -1: silence
  int acksBeforeSilence = -1;                  // -1: acknowledge every block
  std::vector<Frame> frames;
  std::vector<uint32_t> lineRates;  // every setLine
  std::vector<uint8_t> rx;

  void flushInput() override { rx.clear(); }
  bool write(const uint8_t* d, size_t n) override {
    std::vector<uint8_t> w(d, d + n);
    if (n >= 4 && w[0] == 0x60) {
      EXPECT_EQ(w[3], sum(w, 0, 3)) << "command frame checksum";
      frames.push_back({w[1], w[2], std::vector<uint8_t>(w.begin() + 4, w.end())});
      answer(w[2]);
    } else if (!frames.empty()) {  // a payload written on its own (the baud payload)
      frames.back().payload.insert(frames.back().payload.end(), w.begin(), w.end());
    }
    return true;
  }
  int available() override { return static_cast<int>(rx.size()); }
  bool read(uint8_t* dst, size_t n) override {
    if (rx.size() < n) return false;
    std::copy(rx.begin(), rx.begin() + static_cast<long>(n), dst);
    rx.erase(rx.begin(), rx.begin() + static_cast<long>(n));
    return true;
  }
  bool waitInput(uint32_t ms) override {
    if (rx.empty()) tickSleepMs(ms);
    return !rx.empty();
  }
  bool txEmpty() override { return true; }
  int setLine(uint32_t baud, uint8_t, char, uint8_t) override {
    lineRates.push_back(baud);
    return baud == refusedLineRate ? kPortRateNotTaken : 0;
  }
  int probeLine(uint32_t baud, uint8_t, char, uint8_t) override {
    probedRates.push_back(baud);
    return probeResult;
  }
  int probeResult = 0;           // what the tool's line says to a rate: 0 takes it
  uint32_t refusedLineRate = 0;  // setLine at this rate fails although the probe passed
  std::vector<uint32_t> probedRates;

  std::vector<uint8_t> commands() const {
    std::vector<uint8_t> c;
    for (auto& f : frames) c.push_back(f.command);
    return c;
  }
  std::vector<const Frame*> blocks() const {
    std::vector<const Frame*> b;
    for (auto& f : frames)
      if (f.command == kBootCmdWritePaged || f.command == kBootCmdWriteSequential) b.push_back(&f);
    return b;
  }

 private:
  void reply(std::deque<int>& q) {
    const int r = q.empty() ? 0 : q.front();
    if (!q.empty()) q.pop_front();
    if (r >= 0) rx.push_back(static_cast<uint8_t>(r));
  }
  void answer(uint8_t command) {
    if (command == kBootCmdCpuInfo && !cpuSilent) rx.insert(rx.end(), cpu.begin(), cpu.end());
    if (command == kBootCmdEnter) reply(enterReplies);
    if (command == kBootCmdLeave) reply(leaveReplies);
    if ((command == kBootCmdWritePaged || command == kBootCmdWriteSequential) &&
        acksBeforeSilence != 0) {
      rx.push_back(0x00);
      if (acksBeforeSilence > 0) --acksBeforeSilence;
    }
  }
};

class FirmwareUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    tickStart();
    tickUseFakeClock(true);
    tickSetFake(5000);
    dir = testsupport::makeTempDir();
    req.currentAddress = 7;
    req.line.baud = 9600;
    req.portBaud = 9600;
    req.maxBaud = 9600;
  }
  void TearDown() override { tickUseFakeClock(false); }

  std::string image(const std::vector<uint8_t>& bytes) {
    std::string path = dir + "/image" + std::to_string(counter++) + ".bin";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }
  static std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 272);
    return v;
  }
  FirmwareOutcome run(const std::vector<uint8_t>& bytes) {
    req.imagePath = image(bytes);
    return updateFirmware(board, op, req);
  }

  std::string dir;
  int counter = 0;
  ScriptedBoard board;
  ScriptedOperator op;
  FirmwareUpdateRequest req;
};

TEST(FirmwareFrames, CpuInformationDecodesPartFlashPageAndFamily) {
  CpuInfo c;
  std::vector<uint8_t> r = cpuReply(0x30, 4, 1, 0x00);
  ASSERT_TRUE(decodeCpuInfo(r.data(), &c));
  EXPECT_EQ(formatCpuInfo(c), "STM32F300, flash=64K, page=1024 bytes");
  for (uint8_t flags : {0x40, 0x80}) {
    r = cpuReply(0x13, 8, 2, flags);
    ASSERT_TRUE(decodeCpuInfo(r.data(), &c));
    EXPECT_EQ(formatCpuInfo(c), flags == 0x40 ? "STM32L103, flash=128K, page=2048 bytes"
                                              : "STM32F103, flash=128K, page=2048 bytes");
    EXPECT_EQ(c.canChangeBaud, flags == 0x80);
  }
  r[7] ^= 1;
  EXPECT_FALSE(decodeCpuInfo(r.data(), &c));
}

TEST(FirmwareFrames, BaudPayloadAndBaudTexts) {
  uint8_t p[4];
  buildBaudPayload(38400, p);
  std::vector<uint8_t> v(p, p + 4);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x80, 0x01, 0x00, sum({0x80, 0x01, 0x00}, 0, 3)}));
  EXPECT_EQ(baudFromText("38400"), 38400u);
  EXPECT_EQ(baudFromText(" 115200x"), 115200u);
  EXPECT_EQ(baudFromText("-9600"), 0u);
  EXPECT_EQ(baudFromText(""), 0u);
  EXPECT_EQ(baudFromText("99999999999"), 0u);
}

TEST_F(FirmwareUpdate, WholeUpdateLogsSendsFramesPadsTheLastRecordAndRestoresLine) {
  const std::vector<uint8_t> img = pattern(2 * 272 + 100);
  FirmwareOutcome o = run(img);
  EXPECT_TRUE(o.ok());
  EXPECT_EQ(o.blocksSent, 3u);
  EXPECT_EQ(board.commands(), (std::vector<uint8_t>{0xF4, 0xFA, 0xFA, 0xF3, 0xF3, 0xF3, 0xF1}));
  for (auto& f : board.frames) EXPECT_EQ(f.address, 7);
  EXPECT_EQ(op.log,
            "STM32F300, flash=64K, page=1024 bytes\nWriting data...\n00200\n\n"
            "Finished. Returning to a normal mode\nOK\n");
  EXPECT_TRUE(op.alerts.empty());
  EXPECT_EQ(board.lineRates, (std::vector<uint32_t>{9600}));
  // Every log line and every block lets the window repaint.
  EXPECT_EQ(op.repaints, 4 + 3);
  // Block frames carry the records unchanged, each with its checksum; the short last record
  // is padded with erased bytes.
  const auto blocks = board.blocks();
  ASSERT_EQ(blocks.size(), 3u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const auto& p = blocks[i]->payload;
    ASSERT_EQ(p.size(), 276u);
    EXPECT_EQ(p[275], sum(p, 0, 275));
    std::vector<uint8_t> record(img.begin() + static_cast<long>(i * 272),
                                img.begin() + std::min(img.size(), i * 272 + 272));
    record.resize(272, 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(p.begin() + 3, p.begin() + 275), record) << i;
  }
}

TEST_F(FirmwareUpdate, PageNumbersFollowThePageSize) {
  struct Case {
    uint8_t pageK;
    uint16_t first;
    unsigned perPage;
  };
  for (Case c : {Case{1, 4, 4}, Case{2, 2, 8}, Case{16, 0, 64}, Case{3, 0xFFFF, 12}}) {
    SCOPED_TRACE(c.pageK);
    board = ScriptedBoard();
    board.cpu = cpuReply(0x30, 4, c.pageK, 0);
    unsigned n = c.perPage + 1;
    ASSERT_EQ(run(pattern(n * 272)).blocksSent, n);
    auto blocks = board.blocks();
    ASSERT_EQ(blocks.size(), n);
    auto page = [&](unsigned i) { return blocks[i]->payload[0] | blocks[i]->payload[1] << 8; };
    EXPECT_EQ(page(0), c.first);
    EXPECT_EQ(blocks[0]->payload[2], 0);
    EXPECT_EQ(page(c.perPage - 1), c.first);
    EXPECT_EQ(blocks[c.perPage - 1]->payload[2], c.perPage - 1);
    EXPECT_EQ(page(c.perPage), static_cast<uint16_t>(c.first + 1));
    EXPECT_EQ(blocks[c.perPage]->payload[2], 0);
  }
}

TEST_F(FirmwareUpdate, LargePagesUseSequentialBlocksAndStopAt16384) {
  board.cpu = cpuReply(0x30, 64, 128, 0);  // 131072-byte pages
  std::vector<uint8_t> img = pattern(3 * 272);
  ASSERT_EQ(run(img).blocksSent, 3u);
  auto blocks = board.blocks();
  for (unsigned i = 0; i < 3; ++i) {
    const auto& p = blocks[i]->payload;
    EXPECT_EQ(board.frames[3 + i].command, 0xF2);
    ASSERT_EQ(p.size(), 275u);
    EXPECT_EQ(p[0] | p[1] << 8, static_cast<int>(i));
    EXPECT_EQ(p[274], sum(p, 0, 274));
    EXPECT_TRUE(std::equal(p.begin() + 2, p.begin() + 274, img.begin() + i * 272));
  }
  board = ScriptedBoard();
  board.cpu = cpuReply(0x30, 64, 128, 0);
  FirmwareOutcome o = run(std::vector<uint8_t>((kMaxSequentialBlocks + 2) * 272, 0x5A));
  EXPECT_EQ(o.blocksSent, kMaxSequentialBlocks);
  EXPECT_EQ(board.blocks().size(), kMaxSequentialBlocks);
  EXPECT_EQ(board.commands().back(), kBootCmdLeave);
}

TEST_F(FirmwareUpdate, EachEarlyEndSendsOnlyItsFramesLogsItsTextAndLeavesTheLineAsItMust) {
  const std::string cpu = "STM32F300, flash=64K, page=1024 bytes\n";
  const std::string finish = "\nFinished. Returning to a normal mode\nOK\n";
  struct Case {
    const char* what;
    std::function<void(ScriptedBoard&)> script;
    size_t imageBytes;
    FirmwareResult result;
    std::vector<uint8_t> commands;
    std::string log;
    std::vector<uint32_t> lineRates;
  };
  const Case cases[] = {
      {"empty image",
       [](ScriptedBoard&) {},
       0,
       FirmwareResult::Finished,
       {0xF4, 0xFA, 0xFA, 0xF1},
       cpu + "Writing data...\n\n" + finish,
       {9600}},
      {"seven 0x01 answers",
       [](ScriptedBoard& b) { b.enterReplies.assign(7, 0x01); },
       272,
       FirmwareResult::EnterFailed,
       {0xF4, 0xFA, 0xFA, 0xFA, 0xFA, 0xFA, 0xFA, 0xFA},
       cpu + "Error!\n\n",
       {}},
      {"0xFF at once",
       [](ScriptedBoard& b) { b.enterReplies = {0xFF}; },
       272,
       FirmwareResult::EnterRefused,
       {0xF4, 0xFA},
       cpu + "Error!\n\nPlease finish pending\nfuel deliveries\n\n",
       {}},
      {"no CPU information",
       [](ScriptedBoard& b) { b.cpuSilent = true; },
       272,
       FirmwareResult::NoCpuInfo,
       {0xF4},
       "Error detecting CPU type\n",
       {}},
      {"CPU information checksum",
       [](ScriptedBoard& b) { b.cpu[7] ^= 0x55; },
       272,
       FirmwareResult::CpuInfoCrc,
       {0xF4},
       "CRC error\n",
       {}},
      {"page size 0",
       [](ScriptedBoard& b) { b.cpu = cpuReply(0x30, 4, 0, 0); },
       4 * 272,
       FirmwareResult::BadPageSize,
       {0xF4, 0xFA, 0xFA, 0xF1},
       "STM32F300, flash=64K, page=0 bytes\nWriting data...\nError!\n\n" + finish,
       {9600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    board = ScriptedBoard();
    op = ScriptedOperator();
    c.script(board);
    EXPECT_EQ(run(pattern(c.imageBytes)).result, c.result);
    EXPECT_EQ(board.commands(), c.commands);
    EXPECT_EQ(op.log, c.log);
    EXPECT_EQ(board.lineRates, c.lineRates);
  }
  // Silence costs 500 ms an attempt, then acceptance on the third try.
  board = ScriptedBoard();
  board.enterReplies = {-1, 0x02};
  const uint32_t t0 = nowMs();
  EXPECT_EQ(bootHandshake(board, 3, true), kHandshakeAccepted);
  EXPECT_EQ(board.frames.size(), 3u);
  EXPECT_GE(nowMs() - t0, 500u);
  EXPECT_LT(nowMs() - t0, 600u);
}

TEST_F(FirmwareUpdate, ModeTwoAddressesEveryFrameToF0) {
  req.target = BootTarget::BootLoaderAddress;
  ASSERT_TRUE(run(pattern(2 * 272)).ok());
  ASSERT_EQ(board.frames.size(), 6u);
  for (auto& f : board.frames) EXPECT_EQ(f.address, 0xF0);
}

TEST_F(FirmwareUpdate, BaudRateIsRaisedOnlyWhenAllowed) {
  board.cpu = cpuReply(0x30, 4, 1, 0x80);
  req.maxBaud = 38400;
  FirmwareOutcome o = run(pattern(272));
  EXPECT_TRUE(o.baudRaised);
  EXPECT_EQ(board.commands(), (std::vector<uint8_t>{0xF4, 0xFA, 0xFA, 0xF5, 0xF3, 0xF1}));
  EXPECT_EQ(board.frames[3].payload,
            (std::vector<uint8_t>{0x80, 0x01, 0x00, sum({0x80, 0x01, 0x00}, 0, 3)}));
  EXPECT_EQ(board.lineRates, (std::vector<uint32_t>{38400, 9600}));
  EXPECT_NE(op.log.find("Increasing baud rate temporarily...\nNew baud rate is set 38400\n"
                        "Writing data...\n"),
            std::string::npos);

  struct Case {
    uint8_t flags;
    uint32_t maxBaud;
  };
  for (Case c : {Case{0x80, 0}, Case{0x80, 9600}, Case{0x00, 38400}}) {
    board = ScriptedBoard();
    op = ScriptedOperator();
    board.cpu = cpuReply(0x30, 4, 1, c.flags);
    req.maxBaud = c.maxBaud;
    o = run(pattern(272));
    EXPECT_FALSE(o.baudRaised);
    EXPECT_EQ(board.commands(), (std::vector<uint8_t>{0xF4, 0xFA, 0xFA, 0xF3, 0xF1}));
    EXPECT_EQ(board.lineRates, (std::vector<uint32_t>{9600}));
    EXPECT_EQ(op.log.find("Increasing"), std::string::npos);
  }
}

// The board switches as soon as it has 0xF5, so the command goes only to a line that has
// shown it can follow: a TCP port (a gateway's rate is not the tool's) or a driver that
// refuses the rate keeps the transfer at the rate in use, and the log says why.
TEST_F(FirmwareUpdate, ARateTheToolsLineCannotRunIsNotAskedOfTheBoard) {
  for (int refusal : {kPortNoOwnLine, kPortRateNotTaken, EINVAL}) {
    SCOPED_TRACE(refusal);
    board = ScriptedBoard();
    op = ScriptedOperator();
    board.cpu = cpuReply(0x30, 4, 1, 0x80);
    board.probeResult = refusal;
    req.maxBaud = 38400;
    const FirmwareOutcome o = run(pattern(2 * 272));
    EXPECT_TRUE(o.ok());
    EXPECT_FALSE(o.baudRaised);
    EXPECT_EQ(board.commands(), (std::vector<uint8_t>{0xF4, 0xFA, 0xFA, 0xF3, 0xF3, 0xF1}));
    EXPECT_EQ(board.probedRates, std::vector<uint32_t>{38400});
    EXPECT_EQ(board.lineRates, std::vector<uint32_t>{9600});  // only the restore
    EXPECT_NE(
        op.log.find("Increasing baud rate temporarily...\nThe port cannot run at 38400 baud (" +
                    std::string(portErrorText(refusal)) +
                    "): the baud rate stays as it is\nWriting data...\n"),
        std::string::npos)
        << op.log;
  }
  // The line took the rate when asked, then refuses it after the command went out: said so,
  // and not counted as raised.
  board = ScriptedBoard();
  op = ScriptedOperator();
  board.cpu = cpuReply(0x30, 4, 1, 0x80);
  board.refusedLineRate = 38400;
  const FirmwareOutcome o = run(pattern(272));
  EXPECT_FALSE(o.baudRaised);
  EXPECT_EQ(board.commands(), (std::vector<uint8_t>{0xF4, 0xFA, 0xFA, 0xF5, 0xF3, 0xF1}));
  EXPECT_NE(op.log.find("Cannot set the port to 38400 baud: the driver keeps the line at another "
                        "rate\nWriting data...\n"),
            std::string::npos)
      << op.log;
  EXPECT_EQ(op.log.find("New baud rate is set"), std::string::npos);
}

// An image that cannot be read to its end (here a regular file whose first read fails with
// an I/O error) is a failure, not an empty image; the board is still taken out of its boot
// loader and the line restored.
TEST_F(FirmwareUpdate, AnImageThatCannotBeReadFailsAfterLeavingAndRestoring) {
  board.cpu = cpuReply(0x30, 4, 1, 0x80);
  req.maxBaud = 38400;
  req.imagePath = "/proc/self/mem";
  const FirmwareOutcome o = updateFirmware(board, op, req);
  EXPECT_EQ(o.result, FirmwareResult::FileReadError);
  EXPECT_FALSE(o.ok());
  EXPECT_EQ(o.blocksSent, 0u);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Cannot read file."});
  EXPECT_EQ(board.commands(), (std::vector<uint8_t>{0xF4, 0xFA, 0xFA, 0xF5, 0xF1}));
  EXPECT_EQ(board.lineRates, (std::vector<uint32_t>{38400, 9600}));
  const auto lines = op.logLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Finished. Returning to a normal mode");
  EXPECT_EQ(lines.back(), "OK");
}

TEST_F(FirmwareUpdate, SilentBoardStopsTheTransferButStillLeavesAndRestores) {
  board.cpu = cpuReply(0x30, 4, 1, 0x80);
  req.maxBaud = 38400;
  board.acksBeforeSilence = 2;
  uint32_t t0 = nowMs();
  FirmwareOutcome o = run(pattern(10 * 272));
  EXPECT_EQ(o.result, FirmwareResult::BlockTimeout);
  EXPECT_EQ(o.blocksSent, 2u);
  EXPECT_EQ(board.blocks().size(), 3u);  // no retry of the unanswered block
  EXPECT_EQ(op.alerts, (std::vector<std::string>{"Timeout. Operation not finished"}));
  EXPECT_EQ(board.commands().back(), kBootCmdLeave);
  EXPECT_EQ(board.lineRates, (std::vector<uint32_t>{38400, 9600}));
  EXPECT_NE(op.log.find("00200\n\nFinished. Returning to a normal mode\nOK\n"), std::string::npos)
      << op.log;
  EXPECT_GE(nowMs() - t0, kBlockAckTimeoutMs);
  EXPECT_FALSE(o.ok());
}

TEST_F(FirmwareUpdate, ImagePathsAreCheckedAndCountedInCharactersNotBytes) {
  // A missing file, a folder (it opens for reading) and a path beyond 1999 characters.
  for (const std::string& path : {dir + "/no-such.bin", dir, dir + "/" + std::string(2000, 'a')}) {
    req.imagePath = path;
    EXPECT_EQ(updateFirmware(board, op, req).result, FirmwareResult::CannotOpenFile);
  }
  EXPECT_EQ(op.alerts, std::vector<std::string>(3, "Cannot open file."));
  EXPECT_TRUE(board.frames.empty());
  EXPECT_EQ(board.lineRates, (std::vector<uint32_t>{9600, 9600, 9600}));

  // Cyrillic letters take two bytes: about 1100 letters are 2200 bytes but fit the limit.
  std::string path = dir;
  for (int d = 0; d < 9; ++d) {
    path += "/";
    for (int i = 0; i < 120; ++i) path += "\xD0\xAF";  // U+042F
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(path))) << d;
  }
  path += "/image.bin";
  ASSERT_GT(path.size(), 1999u);
  std::ofstream(std::filesystem::u8path(path), std::ios::binary).close();
  ASSERT_TRUE(std::filesystem::is_regular_file(std::filesystem::u8path(path)));
  req.imagePath = path;
  EXPECT_EQ(updateFirmware(board, op, req).result, FirmwareResult::Finished);
  EXPECT_EQ(op.alerts.size(), 3u);
}

TEST_F(FirmwareUpdate, LeaveBootloaderReportsOnlyFailure) {
  board.leaveReplies = {0xFF};
  EXPECT_EQ(leaveBootloader(board, op, 9), kHandshakeRefused);
  EXPECT_EQ(op.log, "");
  board.leaveReplies.assign(7, -1);
  EXPECT_EQ(leaveBootloader(board, op, 9), kHandshakeFailed);
  EXPECT_EQ(op.log, "Error!\n\n");
  EXPECT_EQ(board.frames.size(), 8u);
  for (auto& f : board.frames) EXPECT_EQ(f.command, kBootCmdLeave);
}

// A port that cannot wait for input (no port, the stub) never passes for an acknowledging board.
TEST_F(FirmwareUpdate, PortsWithoutInputNeverAcknowledge) {
  portTableInit();
  PortBootLink none(0);
  EXPECT_EQ(bootHandshake(none, 1, true), kHandshakeFailed);
  uint16_t stub = 0;
  ASSERT_EQ(portOpen("STUB", &stub), 0);
  PortBootLink stubLink(stub);
  req.imagePath = image(pattern(272));
  EXPECT_EQ(updateFirmware(stubLink, op, req).result, FirmwareResult::NoCpuInfo);
  EXPECT_EQ(leaveBootloader(stubLink, op, 1), kHandshakeFailed);
  portClose(stub);
}

}  // namespace
