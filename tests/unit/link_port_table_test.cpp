// Port table rules that need no peer: open result codes, name handling, the stub port,
// and port numbers that name no open row.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/tick.h"

namespace {

class PortTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    portTableShutdownForTests();
    portTableInit();
  }
  void TearDown() override {
    portTableShutdownForTests();
    tickUseFakeClock(false);
  }
};

TEST(PortTableBeforeInit, OpenAnswersNineAndLeavesPortZero) {
  portTableShutdownForTests();
  uint16_t port = 77;
  EXPECT_EQ(portOpen("STUB", &port), kPortOpenNotInitialised);
  EXPECT_EQ(port, 0);
  portTableInit();
  EXPECT_EQ(portOpen("STUB", &port), 0);
  EXPECT_EQ(port, 1);
  portTableShutdownForTests();
}

TEST_F(PortTableTest, ThirtyThirdOpenIsRefusedAndAFreedRowIsReused) {
  uint16_t port = 0;
  for (int i = 1; i <= kPortTableRows; ++i) {
    ASSERT_EQ(portOpen("STUB", &port), 0);
    ASSERT_EQ(port, i);
  }
  port = 5;
  EXPECT_EQ(portOpen("STUB", &port), kPortOpenTableFull);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(portOpen("", &port), kPortOpenTableFull);  // the free row is looked for first
  EXPECT_EQ(portClose(7), 1);
  EXPECT_EQ(portOpen("STUB", &port), 0);
  EXPECT_EQ(port, 7);
}

TEST_F(PortTableTest, NamesThatOpenNoPortAreRefusedWithoutTakingARow) {
  const std::string longest(kPortNameSize - 1, 'x');
  // Only exact "STUB" is the stub port; other names are serial device names (99 characters
  // still fit), and a path that exists but is no terminal gives the OS reason.
  std::vector<std::pair<std::string, int>> cases = {
      {"", kPortOpenEmptyName},
      {"TCPC_" + std::string(kPortNameSize, 'x'), kPortOpenBadName},
      {longest, ENOENT},
      {std::string(5000, 'S'), kPortOpenBadName},
      {"stub", ENOENT},
      {"STUB1", ENOENT},
      {"/no/such/dir/tty", ENOENT}};
#ifndef _WIN32
  cases.push_back({"/dev/null", ENOTTY});
#endif
  for (const char* bad : {"TCPC_127.0.0.1", "TCPC_", "TCPC_127.0.0.1:", "TCPC_127.0.0.1:http",
                          "TCPC_127.0.0.1:70000", "TCPC_localhost:5000", "TCPC_1.2.3:5000",
                          "TCPC_127.0.0.1:0", "TCPS_", "TCPS_12ab", "TCPS_99999"})
    cases.push_back({bad, kPortOpenBadName});
  for (const auto& [name, code] : cases) {
    uint16_t port = 9;
    EXPECT_EQ(portOpen(name.c_str(), &port), code) << name;
    EXPECT_EQ(port, 0) << name;
  }
  uint16_t port = 9;
  EXPECT_EQ(portOpen(nullptr, &port), kPortOpenEmptyName);
  EXPECT_EQ(portEntry(1), nullptr);
  ASSERT_EQ(portOpen("STUB", &port), 0);
  EXPECT_EQ(port, 1);
  const PortEntry* e = portEntry(port);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->name, "STUB");
  EXPECT_EQ(e->kind, PortKind::Stub);
  EXPECT_EQ(e->inUse, 1u);
}

TEST_F(PortTableTest, StubSwallowsWritesAndNeverDelivers) {
  uint16_t port = 0;
  ASSERT_EQ(portOpen("STUB", &port), 0);
  const uint8_t frame[] = {0x60, 0x01, 0x02, 0x03};
  EXPECT_EQ(portWrite(port, frame, sizeof frame), 1);
  EXPECT_EQ(portAvailable(port), 0);
  uint8_t b = 0;
  EXPECT_EQ(portRead(port, &b, 1), 0);
  EXPECT_EQ(portReadByte(port, &b, 10), -1);
  EXPECT_EQ(portSetLine(port, 9600, 8, 'N', 1), 0);
  EXPECT_EQ(portEntry(port)->baud, 0u);  // accepted, not stored
  EXPECT_EQ(portTxEmpty(port), 1);
  tickUseFakeClock(true);
  tickSetFake(1000);
  EXPECT_EQ(portWaitInput(port, 40), 0);
  EXPECT_EQ(nowMs(), 1040u);
  EXPECT_EQ(portReadWait(port, &b, 1, 10), 0);
}

TEST_F(PortTableTest, PortNumbersThatNameNoOpenRowDoNothing) {
  uint16_t open = 0;
  ASSERT_EQ(portOpen("STUB", &open), 0);
  tickUseFakeClock(true);
  tickSetFake(0);
  uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  const uint8_t data[] = {1, 2, 3};
  for (uint16_t p :
       {uint16_t(0), uint16_t(2), uint16_t(32), uint16_t(33), uint16_t(100), uint16_t(0xFFFF)}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(portSetLine(p, 9600, 8, 'N', 1), 2);
    EXPECT_EQ(portWrite(p, data, sizeof data), 0);
    EXPECT_EQ(portAvailable(p), 0);
    EXPECT_EQ(portRead(p, buf, 1), 0);
    EXPECT_EQ(portReadWait(p, buf, 1, 5), 0);
    EXPECT_EQ(portReadByte(p, buf, 5), -1);
    portFlushInput(p);
    EXPECT_EQ(portTxEmpty(p), 1);
    EXPECT_EQ(portEntry(p), nullptr);
    EXPECT_EQ(portWaitInput(p, 3), 0);
    EXPECT_EQ(portClose(p), 1);
  }
  EXPECT_EQ(buf[0], 0xAA);
  EXPECT_NE(portEntry(open), nullptr);  // closing the others left port 1 alone
}

TEST_F(PortTableTest, ClosedPortCanBeClosedAgainAndRowIsCleared) {
  uint16_t port = 0;
  ASSERT_EQ(portOpen("STUB", &port), 0);
  EXPECT_EQ(portClose(port), 1);
  EXPECT_EQ(portEntry(port), nullptr);
  EXPECT_EQ(portClose(port), 1);
  portTableInit();  // a second init keeps the table as it is
  ASSERT_EQ(portOpen("STUB", &port), 0);
  EXPECT_EQ(port, 1);
}

TEST(PortErrorText, NamesTableCodesAndOsErrors) {
  EXPECT_STREQ(portErrorText(kPortOpenTableFull), "all 32 ports are already open");
  EXPECT_STREQ(portErrorText(kPortOpenEmptyName), "empty port name");
  EXPECT_STREQ(portErrorText(kPortOpenNotInitialised), "port table not initialised");
#ifdef _WIN32
  // Windows error 2 (ERROR_FILE_NOT_FOUND, the same number as ENOENT) in the system's words.
  const std::string words = portErrorText(ENOENT);
  EXPECT_FALSE(words.empty());
  EXPECT_EQ(words.find("error"), std::string::npos) << words;
#else
  EXPECT_STREQ(portErrorText(ENOENT), std::strerror(ENOENT));
#endif
  EXPECT_STREQ(portErrorText(-42), "error -42");
}

}  // namespace
