// The simulator seen through the tool's own device handle over TCP: identification, text,
// block reads and writes with their checks, passwords, the configuration key, the last-error
// query and the fault options.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "protocol/board.h"
#include "sim_harness.h"

namespace {

using simtest::SimProcess;

class SimDevice : public ::testing::Test {
 protected:
  void TearDown() override {
    portTableShutdownForTests();
    EXPECT_EQ(sim.stop(), 0) << "the simulator ends cleanly on SIGTERM";
  }
  void run(const std::vector<std::string>& args) {
    port = simtest::openSimPort(sim, args);
    ASSERT_NE(port, 0) << sim.readyLine << sim.stderrText();
    dev = std::make_unique<UTRKDevice>(port);
    dev->address = 1;
  }
  int identify(uint8_t address, uint8_t out[3]) {
    return pollRequest(*dev, [&] { return dev->identify(out, address); });
  }
  int read(uint32_t address, uint8_t bank, uint8_t count, uint8_t* dst, uint8_t check = kCheckCrc) {
    return pollRequest(*dev, [&] { return dev->readBlock(address, bank, count, dst, check, 0); });
  }
  int write(uint32_t address, uint8_t bank, const std::vector<uint8_t>& data) {
    return pollRequest(*dev, [&] {
      return dev->writeBlock(address, bank, data.data(), static_cast<uint8_t>(data.size()));
    });
  }
  int lastError() {
    BoardSession s;
    s.dev = dev.get();
    return readLastStatus(s);
  }
  std::string text() {
    char t[129] = {};
    if (pollRequest(*dev, [&] { return dev->readTextId(t); }) != kResultDone) return "<failed>";
    return t;
  }

  SimProcess sim;
  uint16_t port = 0;
  std::unique_ptr<UTRKDevice> dev;
};

TEST_F(SimDevice, IdentifiesAtItsAddressAndAtTheBroadcastAddress) {
  run({"--board", "7:$"});
  uint8_t out[3] = {};
  ASSERT_EQ(identify(7, out), kResultDone);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[1], '$');
  EXPECT_EQ(out[2], 0x03);
  dev->address = 0;
  ASSERT_EQ(identify(0, out), kResultDone);   // 240: the only board answers with its address
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(dev->address, 7);
  EXPECT_EQ(identify(8, out), kResultTimeout);
  EXPECT_EQ(text(), "TRK controller v3.1");
}

TEST_F(SimDevice, TwoBoardsAnswerOnlyAtTheirOwnAddressesAndTheFirstTakesBroadcast) {
  run({"--board", "5", "--text", "second", "--board", "1", "--text", "first"});
  std::vector<int> found;
  for (uint8_t a = 1; a <= 6; ++a) {
    uint8_t out[3] = {};
    if (identify(a, out) == kResultDone) {
      EXPECT_EQ(out[0], a);
      found.push_back(a);
    }
  }
  EXPECT_EQ(found, (std::vector<int>{1, 5}));
  uint8_t out[3] = {};
  ASSERT_EQ(identify(0, out), kResultDone);
  EXPECT_EQ(out[0], 5);   // the first board given
  dev->address = 1;
  EXPECT_EQ(text(), "first");
  dev->address = 5;
  EXPECT_EQ(text(), "second");
}

TEST_F(SimDevice, TextIsStoredInCodePage866) {
  run({"--text", "\xD0\x9A\xD0\xA0\xD0\x9A-2 \xD1\x91"});   // "КРК-2 ё"
  EXPECT_EQ(text(), std::string("\x8A\x90\x8A-2 \xF1"));
}

TEST_F(SimDevice, WrittenRecordsReadBackWithEveryCheckMode) {
  run({});
  std::vector<uint8_t> rec(68);
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(write(0x3101, kBankData, rec), kResultDone);
  uint8_t back[68] = {};
  ASSERT_EQ(read(0x3101, kBankData, 68, back, kCheckCrc), kResultDone);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 68), rec);
  std::memset(back, 0, sizeof back);
  ASSERT_EQ(read(0x3101, kBankData, 68, back, kCheckSum), kResultDone);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 68), rec);
  std::memset(back, 0, sizeof back);
  ASSERT_EQ(read(0x3101, kBankData, 68, back, kCheckNone), kResultDone);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 68), rec);

  // A channel record of the last channel, and a single byte (two-byte reply).
  std::vector<uint8_t> ch(72, 0xA5);
  ASSERT_EQ(write(0x2900, kBankData, ch), kResultDone);
  uint8_t chBack[72] = {};
  ASSERT_EQ(read(0x2900, kBankData, 72, chBack), kResultDone);
  EXPECT_EQ(std::vector<uint8_t>(chBack, chBack + 72), ch);
  ASSERT_EQ(write(0x5000, kBankData, {0x42}), kResultDone);
  uint8_t one = 0;
  ASSERT_EQ(read(0x5000, kBankData, 1, &one), kResultDone);
  EXPECT_EQ(one, 0x42);
}

TEST_F(SimDevice, DefaultRecordsAreConsistent) {
  run({"--board", "3"});
  dev->address = 3;
  uint8_t main[68] = {};
  ASSERT_EQ(read(0x3101, kBankData, 68, main), kResultDone);
  EXPECT_EQ(main[2], 0x22);   // record tag
  EXPECT_EQ(main[3], 3);      // side A address is the board's own
  EXPECT_EQ(main[9], 1);
  EXPECT_EQ(main[10], 2);
  uint8_t counters[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(read(0x04, kBankService, 4, counters), kResultDone);
  EXPECT_EQ(std::vector<uint8_t>(counters, counters + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  uint8_t ps[2] = {0xEE, 0xEE};
  ASSERT_EQ(read(0x02, kBankService, 2, ps, kCheckNone), kResultDone);
  EXPECT_EQ(ps[0], 0);   // no password set
}

TEST_F(SimDevice, KeyOffRefusesSettingsWritesWithLastErrorX) {
  run({"--key-off"});
  std::vector<uint8_t> rec(60, 1);
  EXPECT_EQ(write(0x5000, kBankData, rec), kResultRefused);
  EXPECT_EQ(lastError(), 'X');
  uint8_t back[60] = {};
  ASSERT_EQ(read(0x5000, kBankData, 60, back), kResultDone);
  EXPECT_NE(std::vector<uint8_t>(back, back + 60), rec);   // memory kept its old record
  // Service actions that are not settings still work with the key off.
  EXPECT_EQ(write(0x25, kBankService, {0x03}), kResultDone);
  uint8_t regs[6] = {};
  ASSERT_EQ(read(0x22, kBankService, 6, regs, kCheckNone), kResultDone);
  EXPECT_EQ(regs[3], 0x03);   // display mode register 0x25
}

TEST_F(SimDevice, AdminPasswordWrongThenRightThenLockAfterThreeWrong) {
  run({"--admin-password", "1234"});
  uint8_t ps[2] = {};
  ASSERT_EQ(read(0x02, kBankService, 2, ps, kCheckNone), kResultDone);
  EXPECT_EQ(ps[0] & 1, 1);
  EXPECT_EQ(ps[1] & 7, 0);

  std::vector<uint8_t> rec(68, 9);
  rec[3] = 1;   // side A address: where the board answers after a restart
  EXPECT_EQ(write(0x3101, kBankData, rec), kResultRefused);   // not logged in
  EXPECT_EQ(lastError(), '[');
  EXPECT_EQ(write(0x02, kBankService, {0x00, 0x00}), kResultRefused);   // 0: wrong
  EXPECT_EQ(lastError(), '[');
  EXPECT_EQ(write(0x02, kBankService, {0xD2, 0x04}), kResultDone);   // 1234 low byte first
  EXPECT_EQ(write(0x3101, kBankData, rec), kResultDone);

  // Restart logs out; three wrong entries lock, and then even the right one is refused.
  EXPECT_EQ(write(0x88FFFF, kBankData, {0x55}), kResultDone);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(write(0x02, kBankService, {0x01, 0x00}), kResultRefused);
    EXPECT_EQ(lastError(), '[');
  }
  EXPECT_EQ(write(0x02, kBankService, {0x01, 0x00}), kResultRefused);
  EXPECT_EQ(lastError(), '\\');
  EXPECT_EQ(write(0x02, kBankService, {0xD2, 0x04}), kResultRefused);
  EXPECT_EQ(lastError(), '\\');
  ASSERT_EQ(read(0x02, kBankService, 2, ps, kCheckNone), kResultDone);
  EXPECT_EQ(ps[1] & 7, 7);
}

TEST_F(SimDevice, NewAdminPasswordTakesEffect) {
  run({});
  EXPECT_EQ(write(0x04, kBankService, {0x10, 0x27}), kResultRejected);   // 10000 > 9999
  EXPECT_EQ(write(0x04, kBankService, {0x39, 0x05}), kResultDone);   // 1337
  uint8_t ps[2] = {};
  ASSERT_EQ(read(0x02, kBankService, 2, ps, kCheckNone), kResultDone);
  EXPECT_EQ(ps[0] & 1, 1);
  EXPECT_EQ(write(0x88FFFF, kBankData, {0x55}), kResultDone);
  EXPECT_EQ(write(0x5000, kBankData, std::vector<uint8_t>(60, 2)), kResultRefused);
  EXPECT_EQ(write(0x02, kBankService, {0x39, 0x05}), kResultDone);
  EXPECT_EQ(write(0x5000, kBankData, std::vector<uint8_t>(60, 2)), kResultDone);
}

TEST_F(SimDevice, ClearResetsTotalsAndCountsIt) {
  run({});
  std::vector<uint8_t> ch(72, 0);
  ch[50] = 0x10;   // grand total 16
  ch[54] = 5;
  ASSERT_EQ(write(0x2000, kBankData, ch), kResultDone);
  EXPECT_EQ(write(0x08, kBankService, {0x54}), kResultDone);   // wrong magic: 1-byte write, result 1
  EXPECT_EQ(write(0x08, kBankService, {0x55}), kResultDone);
  uint8_t back[72] = {};
  ASSERT_EQ(read(0x2000, kBankData, 72, back), kResultDone);
  EXPECT_EQ(back[50], 0);
  EXPECT_EQ(back[54], 0);
  uint8_t counters[4] = {};
  ASSERT_EQ(read(0x04, kBankService, 4, counters), kResultDone);
  EXPECT_EQ(counters[0], 1);   // factory clear count
}

TEST_F(SimDevice, ImitationBitAndSerialNumberAreKept) {
  run({});
  uint8_t mode = 0;
  ASSERT_EQ(read(0x24, kBankService, 1, &mode, kCheckNone), kResultDone);
  EXPECT_EQ(write(0x24, kBankService, {static_cast<uint8_t>(mode ^ 0x40)}), kResultDone);
  uint8_t again = 0;
  ASSERT_EQ(read(0x24, kBankService, 1, &again, kCheckNone), kResultDone);
  EXPECT_EQ(again, mode ^ 0x40);
  const std::vector<uint8_t> serial{0x4E, 0x61, 0xBC, 0x00, 0x38, 0x4E, '1', '2', '3', '4', '5', '6', '7', '8'};
  ASSERT_EQ(write(0x07, kBankService, serial), kResultDone);
  uint8_t back[14] = {};
  ASSERT_EQ(read(0x07, kBankService, 14, back, kCheckNone), kResultDone);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 14), serial);
}

TEST_F(SimDevice, SetAddressMovesTheBoard) {
  run({"--board", "2"});
  dev->address = 2;
  EXPECT_EQ(pollRequest(*dev, [&] { return dev->setAddress(9); }), kResultDone);
  EXPECT_EQ(dev->address, 9);
  uint8_t out[3] = {};
  EXPECT_EQ(identify(2, out), kResultTimeout);
  ASSERT_EQ(identify(9, out), kResultDone);
  EXPECT_EQ(out[0], 9);
}

TEST_F(SimDevice, RestartMovesTheBoardToTheSideAAddressOfItsSettings) {
  run({});
  uint8_t main[68] = {};
  ASSERT_EQ(read(0x3101, kBankData, 68, main), kResultDone);
  main[3] = 4;
  ASSERT_EQ(write(0x3101, kBankData, std::vector<uint8_t>(main, main + 68)), kResultDone);
  uint8_t out[3] = {};
  ASSERT_EQ(identify(1, out), kResultDone);   // still at 1 until it restarts
  dev->address = 1;
  ASSERT_EQ(write(0x88FFFF, kBankData, {0x55}), kResultDone);
  EXPECT_EQ(identify(1, out), kResultTimeout);
  ASSERT_EQ(identify(4, out), kResultDone);
  EXPECT_EQ(out[0], 4);
}

TEST_F(SimDevice, ClockWrittenIsReadBack) {
  run({});
  ClockValue in{13, 45, 10, 3, 24, 12, 2031};
  ASSERT_EQ(pollRequest(*dev, [&] { return dev->writeClock(in); }), kResultDone);
  ClockValue out{};
  ASSERT_EQ(pollRequest(*dev, [&] { return dev->readClock(&out); }), kResultDone);
  EXPECT_EQ(out.hour, 13);
  EXPECT_EQ(out.minute, 45);
  EXPECT_EQ(out.day, 24);
  EXPECT_EQ(out.month, 12);
  EXPECT_EQ(out.year, 2031);
}

TEST_F(SimDevice, CorruptedRepliesFailTheirChecks) {
  run({"--corrupt", "1", "--seed", "7"});
  uint8_t out[3] = {};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(identify(1, out), kResultChecksum);
  uint8_t buf[68];
  for (int i = 0; i < 5; ++i) EXPECT_EQ(read(0x3101, kBankData, 68, buf), kResultChecksum);
  EXPECT_EQ(dev->address, 1);
}

TEST_F(SimDevice, DroppedAndSilentRepliesTimeOut) {
  run({"--drop", "1"});
  uint8_t out[3] = {};
  EXPECT_EQ(identify(1, out), kResultTimeout);
  portTableShutdownForTests();
  sim.stop();
  run({"--board", "1", "--board", "2", "--silent", "2"});
  EXPECT_EQ(identify(2, out), kResultTimeout);
  EXPECT_EQ(identify(1, out), kResultDone);
}

TEST(SimOptions, BadOptionsAreUsageErrors) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--listen", "127.0.0.1:0", "--board", "0"},
        {"--listen", "127.0.0.1:0", "--board", "1:!"},
        {"--listen", "127.0.0.1:0", "--board", "3", "--board", "3"},
        {"--listen", "127.0.0.1:0", "--drop", "1.5"},
        {"--listen", "127.0.0.1:0", "--admin-password", "10000"},
        {"--listen", "127.0.0.1:0", "--cpu", "103/128/1000/0"},
        {"--listen", "nocolon"},
        {"--board", "1"}}) {
    SimProcess sim;
    EXPECT_FALSE(sim.start(args));
    EXPECT_EQ(sim.stop(), 2) << args.back();
    EXPECT_NE(sim.stderrText().find("korvane-sim: "), std::string::npos);
  }
}

TEST_F(SimDevice, DelayedRepliesStillArriveWithinTheBudget) {
  run({"--delay-ms", "150", "--verbose"});
  uint8_t out[3] = {};
  const uint32_t t0 = nowMs();
  EXPECT_EQ(identify(1, out), kResultDone);
  EXPECT_GE(nowMs() - t0, 140u);
  EXPECT_NE(sim.stderrText().find("rx 60 01 21"), std::string::npos);
}

// At 1200 baud a byte takes 8.33 ms. A 12-byte read of one register answered with 2 bytes
// spends 14 byte times on the line: the simulator must not answer before the request could
// have arrived, and must not add much beyond the line time either.
TEST_F(SimDevice, PacedLineDeliversRequestsAtLineRateBeforeAnswering) {
  run({"--baud", "1200"});
  constexpr double kByteMs = 10.0 * 1000.0 / 1200;
  const uint8_t p[7] = {0, 0, 0x00, 0x00, 0x24, 0, 1};   // mode byte, no check
  std::vector<uint8_t> f{0x60, 0x01, 0x4A, 0};
  f[3] = frameChecksum(f.data(), 3);
  f.insert(f.end(), p, p + 7);
  f.push_back(frameChecksum(p, 7));
  using clock = std::chrono::steady_clock;
  const auto t0 = clock::now();
  ASSERT_EQ(portWrite(port, f.data(), f.size()), 1);
  uint8_t r[2] = {};
  ASSERT_EQ(portReadWait(port, r, 1, 1000), 1);
  const double firstMs = std::chrono::duration<double, std::milli>(clock::now() - t0).count();
  ASSERT_EQ(portReadWait(port, r + 1, 1, 1000), 1);
  const double lastMs = std::chrono::duration<double, std::milli>(clock::now() - t0).count();
  EXPECT_EQ(r[0], 0x01);   // the default mode byte
  EXPECT_EQ(r[1], frameChecksum(r, 1));
  EXPECT_GE(firstMs, 13 * kByteMs - 1);
  EXPECT_GE(lastMs, 14 * kByteMs - 1);
  EXPECT_LT(lastMs, 14 * kByteMs + 60);   // room for a loaded machine, far below a poll tick
}

}  // namespace

namespace {

TEST(SimConnect, ReachesTheToolsTcpServerAndReconnectsAfterItReopens) {
  tickStart();
  portTableShutdownForTests();
  portTableInit();
  const int tcpPort = testsupport::freeTcpPort();
  const std::string name = "TCPS_" + std::to_string(tcpPort);
  uint16_t port = 0;
  ASSERT_EQ(portOpen(name.c_str(), &port), 0);
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--connect", "127.0.0.1:" + std::to_string(tcpPort), "--board", "6"}));
  EXPECT_EQ(sim.readyLine, "korvane-sim: connecting to 127.0.0.1:" + std::to_string(tcpPort));
  // The server accepts on its next use; wait until the simulator reports the connection.
  std::string line;
  for (int i = 0; i < 50 && line.empty(); ++i) {
    portAvailable(port);
    line = sim.readLine(100);
  }
  EXPECT_EQ(line, "korvane-sim: connected to 127.0.0.1:" + std::to_string(tcpPort));
  UTRKDevice dev(port);
  uint8_t out[3] = {};
  ASSERT_EQ(pollRequest(dev, [&] { return dev.identify(out, 6); }), kResultDone);
  EXPECT_EQ(out[0], 6);

  portClose(port);
  ASSERT_EQ(portOpen(name.c_str(), &port), 0);
  dev.port = port;
  line.clear();
  for (int i = 0; i < 50 && line.empty(); ++i) {
    portAvailable(port);
    line = sim.readLine(100);
  }
  EXPECT_EQ(line, "korvane-sim: connected to 127.0.0.1:" + std::to_string(tcpPort));
  EXPECT_EQ(pollRequest(dev, [&] { return dev.identify(out, 6); }), kResultDone);
  portTableShutdownForTests();
}

}  // namespace
