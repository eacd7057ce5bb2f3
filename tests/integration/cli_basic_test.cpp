// korvane-cli as a user runs it: the real binary against a scripted board behind a TCP
// listener, for identify, scan, raw reads and writes, the preferences' default port, the
// traffic trace and the exit status of bad usage.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"
#include "util/operator.h"
#include "unit/protocol_peer.h"

namespace {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class CliBasic : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testsupport::makeTempDir();
    ASSERT_FALSE(dir.empty());
    board.address = 3;
    board.memory[{0, 0x3101}] = Bytes{0x01, 0x02, 0x03, 0xAB};
    peer.serve([this](const Bytes& f) { return board.answer(f); });
  }
  void TearDown() override { peer.stopServing(); }

  // Runs the binary in the test's own folder (no preferences file unless the test writes
  // one, no catalog: the texts stay untranslated).
  CliRun run(const std::string& args) {
    std::string cmd = "cd '" + dir + "' && '" + testsupport::buildDir() + "/korvane-cli' " + args +
                      " >out.txt 2>err.txt </dev/null";
    int rc = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(dir + "/out.txt");
    r.err = slurp(dir + "/err.txt");
    return r;
  }
  std::string portOpt() { return "--port " + peer.portName(); }

  std::string dir;
  ScriptedBoard board;
  BoardPeer peer;
};

TEST_F(CliBasic, IdentifyPrintsTheTextIdentifierOrNoConnection) {
  CliRun r = run(portOpt() + " --address 3 identify");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Test board\n");

  r = run(portOpt() + " --address 0x07 identify");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No connection\n");

  peer.stopServing();
  board.kind = '!';
  peer.serve([this](const Bytes& f) { return board.answer(f); });
  r = run(portOpt() + " --address 3 identify");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Unsupported device\n");
}

TEST_F(CliBasic, PortAndLineComeFromThePreferencesFile) {
  std::ofstream(dir + "/korvane_v3.ini") << peer.portName() << " 9600 8 N 1 38400";
  CliRun r = run("identify --address 3");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Test board\n");
}

TEST_F(CliBasic, ReadPrintsHexBytesAndReportsABadCrc) {
  CliRun r = run(portOpt() + " --address 3 read 0 0x3101 4 --check 2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "01 02 03 ab\n");
  auto reqs = peer.requests();
  ASSERT_FALSE(reqs.empty());
  EXPECT_EQ(reqs.back(), (Bytes{0x60, 0x03, 0x48, 0x60, 0x02, 0x00, 0x31, 0x00, 0x01, 0x00, 0x04, 0xD8}));

  peer.stopServing();
  board.corruptReadCheck = true;
  peer.serve([this](const Bytes& f) { return board.answer(f); });
  r = run(portOpt() + " --address 3 read 0 12545 4 --check 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Read result=-4"), std::string::npos) << r.err;
}

TEST_F(CliBasic, WriteSendsTheBytesAndLogsInOnlyWithAPassword) {
  CliRun r = run(portOpt() + " --address 3 write 2 0x25 03");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Write result=1\n");

  peer.stopServing();
  board.adminPassword = 77;
  board.memory[{2, 0x02}] = Bytes{0x01, 0x00};  // the board reports an admin password set
  peer.serve([this](const Bytes& f) { return board.answer(f); });
  r = run(portOpt() + " --address 3 --password 77 write 0 0x5000 a1b2c3");
  EXPECT_EQ(r.status, 0) << r.err;
  auto reqs = peer.requests();
  ASSERT_GE(reqs.size(), 3u);
  const Bytes& login = reqs[reqs.size() - 2];
  EXPECT_EQ(login[2], 0x42);
  EXPECT_EQ(login[9], 77);
  EXPECT_EQ(Bytes(reqs.back().begin() + 9, reqs.back().end()), (Bytes{0xA1, 0x03, 0x75, 0xB2, 0xC3, 0xB2}));

  r = run(portOpt() + " --address 3 --password 78 write 0 0x5000 a1b2c3");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Wrong password"), std::string::npos) << r.err;
}

TEST_F(CliBasic, TraceShowsEveryFrameWithATimeStamp) {
  CliRun r = run(portOpt() + " --address 3 --trace identify");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(" ms >> 60 03 21 b2"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" ms << 03 23 07 65"), std::string::npos) << r.err;
}

TEST_F(CliBasic, ScanListsEveryAddressFromOneToThirtyTwo) {
  CliRun r = run(portOpt() + " scan");
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    ++n;
    EXPECT_EQ(line, n == 3 ? "Pump 03 found" : strprintf("Pump %02d not found", n));
  }
  EXPECT_EQ(n, 32);
}

TEST_F(CliBasic, BadUsageExitsWithTwoAndHelpListsTheCommands) {
  EXPECT_EQ(run(portOpt() + " read 0 0x3101").status, 2);
  EXPECT_EQ(run(portOpt() + " read 0 0x3101 249 --check 2").status, 2);
  EXPECT_EQ(run(portOpt() + " read 9 0 1").status, 2);
  EXPECT_EQ(run(portOpt() + " write 0 0x10 abc").status, 2);
  EXPECT_EQ(run(portOpt() + " write 0 0x10 zz").status, 2);
  EXPECT_EQ(run(portOpt() + " --address 256 identify").status, 2);
  EXPECT_EQ(run(portOpt() + " frobnicate").status, 2);
  EXPECT_EQ(run("--bogus identify").status, 2);
  EXPECT_TRUE(peer.requests().empty());

  CliRun help = run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* usage : {"identify", "scan", "read BANK ADDR COUNT [--check 0|1|2]", "write BANK ADDR HEXBYTES"})
    EXPECT_NE(help.out.find(std::string("  ") + usage + "\n"), std::string::npos) << usage;

  CliRun noPort = run("identify");
  EXPECT_EQ(noPort.status, 1);
  EXPECT_NE(noPort.err.find("Cannot open serial port"), std::string::npos);
}

}  // namespace
