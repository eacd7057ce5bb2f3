// The simulator seen through the tool's own device handle over TCP and over a pseudo-terminal:
// identification, text, block reads and writes with their checks, passwords, the configuration
// key, the last-error query, the fault options, line pacing and connecting out.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstring>

#include "protocol/board.h"
#include "protocol/board_io.h"
#include "support/sim_process.h"

namespace {

using simtest::SimProcess;
using Bytes = std::vector<uint8_t>;

// CPU time this process has used, in milliseconds.
double cpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

class SimDevice : public ::testing::Test {
 protected:
  void TearDown() override {
    portTableShutdownForTests();
    EXPECT_EQ(sim.stop(), 0) << "the simulator ends cleanly on SIGTERM";
  }
  void run(const std::vector<std::string>& args) {
    portTableShutdownForTests();
    sim.stop();
    port = simtest::openSimPort(sim, args);
    ASSERT_NE(port, 0) << sim.readyLine << sim.stderrText();
    dev = std::make_unique<UTRKDevice>(port);
    dev->address = 1;
  }
  int identify(uint8_t address, uint8_t out[3]) {
    return pollRequest(*dev, [&] { return dev->identify(out, address); });
  }
  int identify(uint8_t address) {
    uint8_t out[3];
    return identify(address, out);
  }
  int read(uint32_t address, uint8_t bank, uint8_t count, uint8_t* dst, uint8_t check = kCheckCrc) {
    return pollRequest(*dev, [&] { return dev->readBlock(address, bank, count, dst, check, 0); });
  }
  Bytes read(uint32_t address, uint8_t bank, uint8_t count, uint8_t check = kCheckCrc) {
    Bytes out(count, 0xEE);
    if (read(address, bank, count, out.data(), check) != kResultDone) out.clear();
    return out;
  }
  int write(uint32_t address, uint8_t bank, const Bytes& data) {
    return pollRequest(*dev, [&] {
      return dev->writeBlock(address, bank, data.data(), static_cast<uint8_t>(data.size()));
    });
  }
  int restart() { return write(0x88FFFF, kBankData, {0x55}); }
  int lastError() {
    BoardSession s;
    s.dev = dev.get();
    return readLastStatus(s);
  }
  std::string text() {
    char t[129] = {};
    return pollRequest(*dev, [&] { return dev->readTextId(t); }) == kResultDone ? t : "<failed>";
  }

  SimProcess sim;
  uint16_t port = 0;
  std::unique_ptr<UTRKDevice> dev;
};

TEST_F(SimDevice, BoardsAnswerOnlyAtTheirOwnAddressesAndTheFirstTakesBroadcast) {
  run({"--board", "5:$", "--text", "second", "--board", "1", "--text", "first", "--board", "7",
       "--text", "\xD0\x9A\xD0\xA0\xD0\x9A-2 \xD1\x91"});  // "КРК-2 ё"
  std::vector<int> found;
  for (uint8_t a = 1; a <= 8; ++a) {
    uint8_t out[3] = {};
    if (identify(a, out) == kResultDone) {
      EXPECT_EQ(out[0], a);
      EXPECT_EQ(out[1], a == 5 ? '$' : '#');
      EXPECT_EQ(out[2], 0x03);
      found.push_back(a);
    }
  }
  EXPECT_EQ(found, (std::vector<int>{1, 5, 7}));
  uint8_t out[3] = {};
  dev->address = 0;
  ASSERT_EQ(identify(0, out), kResultDone);  // 240: the first board given answers with its address
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(dev->address, 5);
  EXPECT_EQ(text(), "second");
  dev->address = 1;
  EXPECT_EQ(text(), "first");
  dev->address = 7;
  EXPECT_EQ(text(), std::string("\x8A\x90\x8A-2 \xF1"));  // stored in code page 866
}

TEST_F(SimDevice, RecordsAndServiceRegistersOfADefaultBoard) {
  run({});
  const Bytes main = read(0x3101, kBankData, 68);
  ASSERT_EQ(main.size(), 68u);
  EXPECT_EQ(main[2], 0x22);  // record tag
  EXPECT_EQ(main[3], 1);     // side A address is the board's own
  EXPECT_EQ(main[9], 1);
  EXPECT_EQ(main[10], 2);
  EXPECT_EQ(read(0x04, kBankService, 4), Bytes(4, 0));       // counters
  EXPECT_EQ(read(0x02, kBankService, 2, kCheckNone)[0], 0);  // no password set

  // A record written reads back with every check mode; so do a channel record and one byte.
  Bytes rec(68);
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i * 7 + 1);
  rec[3] = 4;  // side A address: where the board answers after a restart
  ASSERT_EQ(write(0x3101, kBankData, rec), kResultDone);
  for (uint8_t check : {kCheckCrc, kCheckSum, kCheckNone})
    EXPECT_EQ(read(0x3101, kBankData, 68, check), rec) << int(check);
  Bytes ch(72, 0);
  ch[50] = 0x10;  // grand total 16
  ch[54] = 5;
  ASSERT_EQ(write(0x2900, kBankData, ch), kResultDone);
  EXPECT_EQ(read(0x2900, kBankData, 72), ch);
  ASSERT_EQ(write(0x5000, kBankData, {0x42}), kResultDone);
  EXPECT_EQ(read(0x5000, kBankData, 1), Bytes{0x42});

  // Clear: a wrong magic is a plain one-byte write; 0x55 clears the totals and is counted.
  EXPECT_EQ(write(0x08, kBankService, {0x54}), kResultDone);
  EXPECT_EQ(read(0x2900, kBankData, 72), ch);
  EXPECT_EQ(write(0x08, kBankService, {0x55}), kResultDone);
  EXPECT_EQ(read(0x2900, kBankData, 72), Bytes(72, 0));
  EXPECT_EQ(read(0x04, kBankService, 4)[0], 1);  // factory clear count

  // Imitation bit, serial number and clock are kept.
  const uint8_t mode = read(0x24, kBankService, 1, kCheckNone).at(0);
  EXPECT_EQ(write(0x24, kBankService, {static_cast<uint8_t>(mode ^ 0x40)}), kResultDone);
  EXPECT_EQ(read(0x24, kBankService, 1, kCheckNone), Bytes{static_cast<uint8_t>(mode ^ 0x40)});
  const Bytes serial{0x4E, 0x61, 0xBC, 0x00, 0x38, 0x4E, '1', '2', '3', '4', '5', '6', '7', '8'};
  ASSERT_EQ(write(0x07, kBankService, serial), kResultDone);
  EXPECT_EQ(read(0x07, kBankService, 14, kCheckNone), serial);
  const ClockValue in{13, 45, 10, 3, 24, 12, 2031};
  ASSERT_EQ(pollRequest(*dev, [&] { return dev->writeClock(in); }), kResultDone);
  ClockValue out{};
  ASSERT_EQ(pollRequest(*dev, [&] { return dev->readClock(&out); }), kResultDone);
  EXPECT_EQ(std::vector<int>({out.hour, out.minute, out.day, out.month, out.year}),
            std::vector<int>({13, 45, 24, 12, 2031}));

  // A restart moves the board to the side A address of its settings; set-address moves it too.
  EXPECT_EQ(identify(1), kResultDone);
  ASSERT_EQ(restart(), kResultDone);
  EXPECT_EQ(identify(1), kResultTimeout);
  EXPECT_EQ(identify(4), kResultDone);
  dev->address = 4;
  EXPECT_EQ(pollRequest(*dev, [&] { return dev->setAddress(9); }), kResultDone);
  EXPECT_EQ(dev->address, 9);
  EXPECT_EQ(identify(4), kResultTimeout);
  EXPECT_EQ(identify(9), kResultDone);

  // A new admin password takes effect after the restart.
  EXPECT_EQ(write(0x04, kBankService, {0x10, 0x27}), kResultRejected);  // 10000 > 9999
  EXPECT_EQ(write(0x04, kBankService, {0x39, 0x05}), kResultDone);      // 1337
  EXPECT_EQ(read(0x02, kBankService, 2, kCheckNone)[0] & 1, 1);
  EXPECT_EQ(restart(), kResultDone);
  EXPECT_EQ(write(0x5000, kBankData, Bytes(60, 2)), kResultRefused);
  EXPECT_EQ(write(0x02, kBankService, {0x39, 0x05}), kResultDone);
  EXPECT_EQ(write(0x5000, kBankData, Bytes(60, 2)), kResultDone);
}

TEST_F(SimDevice, KeyOffRefusesSettingsWritesWithLastErrorX) {
  run({"--key-off"});
  const Bytes rec(60, 1);
  EXPECT_EQ(write(0x5000, kBankData, rec), kResultRefused);
  EXPECT_EQ(lastError(), 'X');
  EXPECT_NE(read(0x5000, kBankData, 60), rec);  // memory kept its old record
  // Service actions that are not settings still work with the key off.
  EXPECT_EQ(write(0x25, kBankService, {0x03}), kResultDone);
  EXPECT_EQ(read(0x22, kBankService, 6, kCheckNone).at(3), 0x03);  // display mode register 0x25
}

TEST_F(SimDevice, AdminPasswordWrongThenRightThenLockAfterThreeWrong) {
  run({"--admin-password", "1234"});
  Bytes ps = read(0x02, kBankService, 2, kCheckNone);
  EXPECT_EQ(ps.at(0) & 1, 1);
  EXPECT_EQ(ps.at(1) & 7, 0);
  Bytes rec(68, 9);
  rec[3] = 1;  // side A address: where the board answers after a restart
  EXPECT_EQ(write(0x3101, kBankData, rec), kResultRefused);  // not logged in
  EXPECT_EQ(lastError(), '[');
  EXPECT_EQ(write(0x02, kBankService, {0x00, 0x00}), kResultRefused);  // 0: wrong
  EXPECT_EQ(lastError(), '[');
  EXPECT_EQ(write(0x02, kBankService, {0xD2, 0x04}), kResultDone);  // 1234 low byte first
  EXPECT_EQ(write(0x3101, kBankData, rec), kResultDone);

  // Restart logs out; three wrong entries lock, and then even the right one is refused.
  EXPECT_EQ(restart(), kResultDone);
  for (char err : {'[', '[', '\\'}) {
    EXPECT_EQ(write(0x02, kBankService, {0x01, 0x00}), kResultRefused);
    EXPECT_EQ(lastError(), err);
  }
  EXPECT_EQ(write(0x02, kBankService, {0xD2, 0x04}), kResultRefused);
  EXPECT_EQ(lastError(), '\\');
  EXPECT_EQ(read(0x02, kBankService, 2, kCheckNone).at(1) & 7, 7);
}

TEST_F(SimDevice, FaultOptionsGiveTheirResultCodes) {
  run({"--corrupt", "1", "--seed", "7"});
  uint8_t buf[68];
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(identify(1), kResultChecksum);
    EXPECT_EQ(read(0x3101, kBankData, 68, buf), kResultChecksum);
  }
  EXPECT_EQ(dev->address, 1);
  run({"--drop", "1"});
  EXPECT_EQ(identify(1), kResultTimeout);
  run({"--board", "1", "--board", "2", "--silent", "2"});
  EXPECT_EQ(identify(2), kResultTimeout);
  EXPECT_EQ(identify(1), kResultDone);
  run({"--delay-ms", "150", "--verbose"});
  const uint32_t t0 = nowMs();
  EXPECT_EQ(identify(1), kResultDone);
  EXPECT_GE(nowMs() - t0, 140u);
  EXPECT_NE(sim.stderrText().find("rx 60 01 21"), std::string::npos);
}

// At 1200 baud a byte takes 8.33 ms. A 12-byte read of one register answered with 2 bytes
// spends 14 byte times on the line: the simulator must not answer before the request could
// have arrived, and must not add much beyond the line time either.
TEST_F(SimDevice, PacedLineDeliversRequestsAtLineRateBeforeAnswering) {
  run({"--baud", "1200"});
  constexpr double kByteMs = 10.0 * 1000.0 / 1200;
  const uint8_t p[7] = {0, 0, 0x00, 0x00, 0x24, 0, 1};  // mode byte, no check
  Bytes f{0x60, 0x01, 0x4A, 0};
  f[3] = frameChecksum(f.data(), 3);
  f.insert(f.end(), p, p + 7);
  f.push_back(frameChecksum(p, 7));
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  ASSERT_EQ(portWrite(port, f.data(), f.size()), 1);
  uint8_t r[2] = {};
  ASSERT_EQ(portReadWait(port, r, 1, 1000), 1);
  const double firstMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  ASSERT_EQ(portReadWait(port, r + 1, 1, 1000), 1);
  const double lastMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  EXPECT_EQ(r[0], 0x01);  // the default mode byte
  EXPECT_EQ(r[1], frameChecksum(r, 1));
  EXPECT_GE(firstMs, 13 * kByteMs - 1);
  EXPECT_GE(lastMs, 14 * kByteMs - 1);
  EXPECT_LT(lastMs, 14 * kByteMs + 60);  // room for a loaded machine, far below a poll tick
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

TEST(SimPty, PacedSerialLineFollowsTheRateAndSurvivesAReopen) {
  const std::string link = testsupport::makeTempDir() + "/ttyKORVANE";
  SimProcess sim;
  uint16_t port = simtest::openSimPty(sim, link, {"--baud", "4800"}, 9600);
  ASSERT_NE(port, 0) << sim.readyLine << sim.stderrText();
  EXPECT_EQ(sim.readyLine.rfind("korvane-sim: pty " + link + " -> /dev/pts/", 0), 0u)
      << sim.readyLine;
  UTRKDevice dev(port);
  dev.address = 1;
  uint8_t id[3] = {};
  auto identify = [&] { return pollRequest(dev, [&] { return dev.identify(id, 1); }); };
  EXPECT_EQ(identify(), kResultTimeout);  // the board ignores a line set to another rate
  ASSERT_EQ(portSetLine(port, 4800, 8, 'N', 1), 0);
  ASSERT_EQ(identify(), kResultDone);
  EXPECT_EQ(id[1], '#');

  // 73 bytes of 10 bits at 4800 baud: about 152 ms on the line.
  uint8_t main[68];
  const uint32_t t0 = nowMs();
  ASSERT_EQ(
      pollRequest(dev, [&] { return dev.readBlock(0x3101, kBankData, 68, main, kCheckCrc, 0); }),
      kResultDone);
  EXPECT_GE(nowMs() - t0, 145u);
  EXPECT_EQ(main[3], 1);

  portClose(port);
  ASSERT_EQ(portOpen(link.c_str(), &port), 0);
  ASSERT_EQ(portSetLine(port, 4800, 8, 'N', 1), 0);
  dev.port = port;
  ASSERT_EQ(identify(), kResultDone);
  // Set baud 19200 (code 1): answered at the old rate, then the board listens at the new one.
  ASSERT_EQ(pollRequest(dev, [&] { return dev.setBaudRate(19200); }), kResultDone);
  EXPECT_EQ(identify(), kResultTimeout);
  ASSERT_EQ(portSetLine(port, 19200, 8, 'N', 1), 0);
  EXPECT_EQ(identify(), kResultDone);
  portTableShutdownForTests();
}

TEST(SimPty, RepliesComingByteByByteAtASlowRateAreSleptOnNotPolled) {
  const std::string link = testsupport::makeTempDir() + "/ttyKORVANE";
  SimProcess sim;
  const uint16_t port = simtest::openSimPty(sim, link, {"--baud", "4800"}, 4800);
  ASSERT_NE(port, 0) << sim.readyLine << sim.stderrText();
  UTRKDevice dev(port);
  dev.address = 1;
  uint8_t main[68] = {};
  char text[129] = {};
  const double cpu0 = cpuMs();
  const uint32_t t0 = nowMs();
  for (int round = 0; round < 3; ++round) {
    // A fixed-length reply (73 bytes, about 152 ms on the line) and a text ended by its NUL.
    ASSERT_EQ(
        pollRequest(dev, [&] { return dev.readBlock(0x3101, kBankData, 68, main, kCheckCrc, 0); }),
        kResultDone);
    ASSERT_EQ(pollRequest(dev, [&] { return dev.readTextId(text); }), kResultDone);
  }
  const double wallMs = nowMs() - t0, cpu = cpuMs() - cpu0;
  EXPECT_EQ(main[3], 1);
  EXPECT_STREQ(text, "TRK controller v3.1");
  EXPECT_GE(wallMs, 3 * 145.0);
  // Polling the partial reply instead of sleeping on it burnt nearly all of the wall time.
  EXPECT_LT(cpu, wallMs * 0.1) << cpu << " ms of CPU in " << wallMs << " ms";
  portTableShutdownForTests();
}

TEST(SimConnect, ReachesTheToolsTcpServerAndReconnectsAfterItReopens) {
  tickStart();
  portTableShutdownForTests();
  portTableInit();
  const std::string at = "127.0.0.1:" + std::to_string(testsupport::freeTcpPort());
  const std::string name = "TCPS_" + at.substr(10);
  uint16_t port = 0;
  ASSERT_EQ(portOpen(name.c_str(), &port), 0);
  SimProcess sim;
  ASSERT_TRUE(sim.start({"--connect", at, "--board", "6"}));
  EXPECT_EQ(sim.readyLine, "korvane-sim: connecting to " + at);
  UTRKDevice dev(port);
  uint8_t out[3] = {};
  for (int round = 0; round < 2; ++round) {
    // The server accepts on its next use; wait until the simulator reports the connection.
    std::string line;
    for (int i = 0; i < 50 && line.empty(); ++i) {
      portAvailable(port);
      line = sim.readLine(100);
    }
    EXPECT_EQ(line, "korvane-sim: connected to " + at) << round;
    EXPECT_EQ(pollRequest(dev, [&] { return dev.identify(out, 6); }), kResultDone) << round;
    EXPECT_EQ(out[0], 6);
    portClose(port);
    ASSERT_EQ(portOpen(name.c_str(), &port), 0);
    dev.port = port;
  }
  portTableShutdownForTests();
}

}  // namespace
