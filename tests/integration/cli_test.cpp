// korvane-cli as a user runs it, against korvane-sim over TCP: identify, scan, raw reads and
// writes with their frames on the trace, the preferences' default port, the service, settings,
// fuelling and firmware commands, and the exit status of bad usage.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "firmware/boot_update.h"
#include "support/sim_process.h"
#include "util/operator.h"

namespace {

using namespace testsupport;
using simtest::CliRun;

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Cli : public ::testing::Test {
 protected:
  void start(std::vector<std::string> simArgs) {
    if (dir.empty()) dir = makeTempDir();
    simArgs.insert(simArgs.begin(), {"--listen", "127.0.0.1:0"});
    ASSERT_TRUE(sim.start(simArgs)) << sim.stderrText();
    port = "TCPC_127.0.0.1:" + std::to_string(sim.listenPort());
  }
  CliRun run(const std::string& args) {
    return simtest::runCli(dir, "--port " + port + " " + args);
  }
  simtest::SimProcess sim;
  std::string dir, port;
};

TEST_F(Cli, IdentifyReadWriteAndScanOnABusWithBoardsAtOneAndFive) {
  start({"--board", "1", "--board", "5:$", "--admin-password", "77", "--verbose"});
  CliRun r = run("--address 5 --trace identify");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "TRK controller v3.1\n");
  EXPECT_TRUE(has(r.err, " ms >> 60 05 21 aa\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms << 05 24 03 41\n")) << r.err;
  r = run("--address 0x07 identify");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No connection\n");

  r = run("--address 5 --trace read 0 0x3101 4 --check 2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "30 00 22 05\n");  // the record tag, then side A at the board's own address
  EXPECT_TRUE(has(r.err, " ms >> 60 05 48 78 02 00 31 00 01 00 04 d8\n")) << r.err;

  // Service writes need no log-in; data writes log in with --password first.
  r = run("--address 5 write 2 0x25 03");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Write result=1\n");
  r = run("--address 5 --password 78 write 0 0x5000 a1b2c3");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Wrong password")) << r.err;
  r = run("--address 5 --password 77 --trace write 0 0x5000 a1b2c3");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 05 42 6c 00 00 00 00 02 4d 02 de\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 05 40 68 00 00 50 00 00 a1 03 75\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> b2 c3 b2\n")) << r.err;
  EXPECT_EQ(run("--address 5 read 0 20480 3 --check 2").out, "a1 b2 c3\n");

  r = run("scan");
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  int n = 0;
  for (std::string line; std::getline(lines, line);) {
    ++n;
    EXPECT_EQ(line, strprintf(n == 1 || n == 5 ? "Pump %02d found" : "Pump %02d not found", n));
  }
  EXPECT_EQ(n, 32);

  // The port and line come from the preferences file when no --port is given.
  writeText(dir + "/korvane_v3.ini", port + " 9600 8 N 1 38400");
  r = simtest::runCli(dir, "identify");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "TRK controller v3.1\n");

  // Bad usage exits with 2 before anything reaches the bus.
  auto heardFrames = [&] {
    const std::string t = sim.stderrText();
    int n = 0;
    for (size_t at = t.find(" rx "); at != std::string::npos; at = t.find(" rx ", at + 1)) ++n;
    return n;
  };
  const int heard = heardFrames();
  for (const char* bad :
       {"read 0 0x3101", "read 0 0x3101 249 --check 2", "read 9 0 1", "write 0 0x10 abc",
        "write 0 0x10 zz", "--address 256 identify", "frobnicate", "--bogus identify"})
    EXPECT_EQ(run(bad).status, 2) << bad;
  EXPECT_EQ(heardFrames(), heard);
  r = simtest::runCli(dir, "--help");
  EXPECT_EQ(r.status, 0);
  for (const char* usage :
       {"identify", "scan", "read BANK ADDR COUNT [--check 0|1|2]", "write BANK ADDR HEXBYTES"})
    EXPECT_TRUE(has(r.out, std::string("  ") + usage + "\n")) << usage;
  std::remove((dir + "/korvane_v3.ini").c_str());
  r = simtest::runCli(dir, "identify");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Cannot open serial port")) << r.err;
}

TEST_F(Cli, ABadCrcFailsTheRead) {
  start({"--corrupt", "1", "--seed", "7"});
  const CliRun r = run("read 0 12545 4 --check 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(has(r.err, "Read result=-4")) << r.err;
}

TEST_F(Cli, ServiceCommandsPrintTheToolsTexts) {
  start({"--admin-password", "1234"});
  struct Case {
    const char* args;
    int status;
    const char* out;  // whole standard output, or nullptr
    const char* err;  // part of standard error, or nullptr
  };
  const Case cases[] = {
      {"restart", 0, "Reset result=1\n", nullptr},
      {"serial 0001234", 1, nullptr, "Please enter correct serial number"},
      {"serial 12345678", 1, nullptr, nullptr},  // not confirmed without --yes
      {"--yes serial 12345678", 0, "Serial write result=1\n", nullptr},
      {"display-mode 3", 0, "Display mode result=1\n", nullptr},
      {"display-mode 300", 2, nullptr, nullptr},
      {"--password 1234 preset shelf --sides 2", 1, nullptr, "Choose the nozzle count"},
      {"preset nosuchpump --nozzles 1", 2, nullptr, nullptr},
      {"passwd admin 12345", 1, nullptr, "Password must be between 0000 and 9999"},
      {"--password 1111 --yes clear", 1, nullptr, "Wrong password"},
      {"--password 1234 --yes clear", 0, "Controller clear result=1\nReset result=1\n", nullptr},
  };
  for (const Case& c : cases) {
    const CliRun r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    if (c.out) {
      EXPECT_EQ(r.out, c.out) << c.args;
    }
    if (c.err) {
      EXPECT_TRUE(has(r.err, c.err)) << c.args << "\n" << r.err;
    }
  }
}

TEST_F(Cli, ExportImportAndMetersWithTheKeyOff) {
  start({"--key-off"});
  ASSERT_EQ(run("export saved").status, 0);
  EXPECT_EQ(readText(dir + "/saved.json").rfind("{\"main_setts\":{\"sat_channel\":", 0), 0u);
  EXPECT_EQ(run("import saved.json").status, 1);  // "Start writing?" answered No
  CliRun r = run("--yes import saved.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Write extra settings error")) << r.err;
  EXPECT_TRUE(has(r.err, "Turn the configuration key on")) << r.err;
  r = run("meters");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "Meter 1A type ")) << r.out;
  r = run("meters --phase 1A=2");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Turn the configuration key on")) << r.err;
  EXPECT_EQ(run("meters --phase 9Z=1").status, 2);
}

TEST_F(Cli, FuelCommandsAndTheMonitorFollowADelivery) {
  start({"--board", "1:$", "--flow", "60"});
  CliRun r = run("fuel price 45.60");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "Ok\n");
  EXPECT_EQ(run("fuel volume 0.3").status, 0);
  r = run("monitor --count 15");
  EXPECT_EQ(r.status, 0) << r.err;
  // Followed in order from "Load start" through the loading quantities to "Finished".
  const size_t start = r.out.find("State: Load start\n"), loading = r.out.find(" Loading\n");
  EXPECT_LT(start, loading) << r.out;
  EXPECT_LT(loading, r.out.find("State: 0000.30 Finished\n")) << r.out;
  EXPECT_NE(r.out.find("State: 0000.30 Finished\n"), std::string::npos) << r.out;
  EXPECT_TRUE(has(r.out, "Performance: mass flow ")) << r.out;
  EXPECT_EQ(run("fuel finish").status, 0);  // takes the finished delivery
  for (const char* bad : {"fuel volume 1.234", "fuel volume -1", "fuel volume",
                          "fuel finish --nozzle 6", "fuel pour 1"})
    EXPECT_EQ(run(bad).status, 2) << bad;
  r = run("fuel finish --side B");  // the board serves one side: side B has no address
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err + r.out, "side B address unknown")) << r.err;
}

TEST_F(Cli, SipDiagnosticsSipAddressAndCountersGoToTheSideTheMainSettingsName) {
  start({"--board", "1"});
  // The side's address comes from the main settings; then the 144-byte diagnostics read.
  CliRun r = run("--trace sip-diag");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 01 48 68 02 00 31 00 01 00 44 58\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 01 4a 6c 00 00 00 00 34 00 90 7f\n")) << r.err;
  EXPECT_EQ(0u, r.out.rfind("0 - A1 ok adr 01\n1 - B1 absent   \n", 0)) << r.out;
  EXPECT_EQ(12, std::count(r.out.begin(), r.out.end(), '\n')) << r.out;

  // No nozzle out: the input bits are read, and nothing is written.
  r = run("--trace sip-address");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, " ms >> 60 01 4a 6c 00 00 00 00 2e 00 02 8a\n")) << r.err;
  EXPECT_TRUE(has(r.err, "No nozzles (or more than 1) were taken out")) << r.err;
  EXPECT_FALSE(has(r.err, " 35 00 0c")) << r.err;

  // Nozzle 1 delivering: the meter's block is read and written back as it came.
  ASSERT_EQ(run("fuel volume 50").status, 0);
  r = run("--trace sip-address");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "OK\n");
  EXPECT_TRUE(has(r.err, " ms >> 60 01 4a 6c 00 00 00 00 35 00 0c 4e\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms << 01 01 01 30 30 34 31 30 30 30 30 30 c1\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 01 42 7c 00 00 00 00 35 01 0c 4a\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 01 01 30 30 34 31 30 30 30 30 30 d1\n")) << r.err;
  EXPECT_EQ(run("fuel finish").status, 0);

  // Counters: identify (the kind), the extra settings (litres or not), nozzle 1 of A and B.
  r = run("--trace counters");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 01 21 ba\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 01 48 68 02 00 50 00 00 00 3c 8c\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 01 48 68 02 00 20 00 00 00 48 6a\n")) << r.err;
  EXPECT_TRUE(has(r.err, " ms >> 60 01 48 68 02 00 21 00 00 00 48 4a\n")) << r.err;
  EXPECT_EQ(0u, r.out.rfind("Side 1\n", 0)) << r.out;
  EXPECT_TRUE(has(r.out, " l\n\nSide 2\n")) << r.out;

  for (const char* bad : {"sip-diag --nozzle 2", "sip-diag A", "sip-address --count 3",
                          "counters 1", "sip-diag --side C"})
    EXPECT_EQ(run(bad).status, 2) << bad;
  r = run("sip-diag --side B");  // one side: side B has no address
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "side B address unknown")) << r.err;
  r = run("--address 9 counters");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No connection\n");
}

TEST_F(Cli, FirmwareUpdateAndLeaveBoot) {
  dir = makeTempDir();
  const std::string received = dir + "/received.bin";
  start({"--image-out", received});
  Bytes image(20 * kImageRecordBytes);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + i / 251);
  writeBytes(dir + "/pcb.bin", image);
  CliRun r = run("--baud 9600 firmware pcb.bin --max-baud 0");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::string all = r.out + r.err;
  EXPECT_TRUE(has(all, "STM32F103, flash=128K, page=2048 bytes\nWriting data...\n")) << all;
  EXPECT_TRUE(has(all, "Finished. Returning to a normal mode\nOK\n")) << all;
  // The simulator writes the image once its boot loader has been left.
  tickStart();
  const uint32_t until = nowMs() + 3000;
  while (readBytes(received).size() < image.size() && !deadlineReached(until)) tickSleepMs(20);
  EXPECT_EQ(readBytes(received), image);
  EXPECT_EQ(run("leave-boot").status, 0);
  EXPECT_EQ(run("firmware missing.bin").status, 1);
  EXPECT_EQ(run("firmware").status, 2);
}

}  // namespace
