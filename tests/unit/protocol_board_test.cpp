// The shared board procedures against a scripted board on a loopback TCP link: identification
// (unsupported kinds, adopted address, boot loader, code page 866 text), the admin log-in with
// its prompts and cache, the last-error query and the display-mode switch.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/board.h"
#include "protocol/board_io.h"
#include "support/scripted_operator.h"
#include "unit/protocol_peer.h"

namespace {

class BoardProcedures : public ::testing::Test {
 protected:
  void SetUp() override {
    tickStart();
    portTableInit();
  }
  // Starts the board and connects the tool to it.
  void connect() {
    peer.serve([this](const Bytes& f) { return board.answer(f); });
    ASSERT_EQ(portOpen(peer.portName().c_str(), &port), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!portEntry(port)->connected && std::chrono::steady_clock::now() < until) {
      portAvailable(port);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(portEntry(port)->connected);
    dev.port = port;
    dev.address = 1;
    session.dev = &dev;
    session.op = &op;
    session.onForgetBoard = [this] { ++forgets; };
    session.onPumpAddress = [this](uint8_t a) { adopted.push_back(a); };
  }
  void TearDown() override {
    peer.stopServing();
    portClose(port);
  }
  size_t requestsWithCommand(uint8_t cmd) {
    size_t n = 0;
    for (const Bytes& r : peer.requests()) n += r.size() > 2 && r[2] == cmd;
    return n;
  }

  ScriptedBoard board;
  BoardPeer peer;
  uint16_t port = 0;
  UTRKDevice dev{0};
  BoardSession session;
  ScriptedOperator op;
  int forgets = 0;
  std::vector<uint8_t> adopted;
};

TEST_F(BoardProcedures, IdentificationForgetsTheOldBoardAndLogsTheTextIdentifier) {
  board.address = 3;
  connect();
  op.log = "old line\n";
  session.login.cached = true;
  session.login.password = 1234;
  session.login.status[0] = 1;
  EXPECT_EQ(identifyBoard(session, 3, false), 1);
  EXPECT_EQ(forgets, 1);
  EXPECT_FALSE(session.login.cached);
  EXPECT_EQ(session.login.status[0], 0);
  EXPECT_EQ(op.logLines(), std::vector<std::string>{"Test board"});
  EXPECT_EQ(session.kind, '#');
  EXPECT_EQ(session.textId, "Test board");
  EXPECT_FALSE(session.bootMode);
  EXPECT_TRUE(adopted.empty());  // a board asked by its own address changes no banner
  EXPECT_EQ(dev.address, 3);

  // Quiet: stops before the text and logs nothing; nobody at 6 means silence, then time-out.
  op.log = "kept\n";
  EXPECT_EQ(identifyBoard(session, 3, true), 1);
  EXPECT_EQ(identifyBoard(session, 6, true), 0);
  EXPECT_EQ(op.log, "kept\n");
  EXPECT_EQ(requestsWithCommand(0x00), 1u);
}

TEST_F(BoardProcedures, BootLoaderInCodePage866AndUnsupportedKinds) {
  board.kind = '$';
  board.text = Bytes{0x80, 0x81, 0x82, ' ', 'b', 'o', 'o', 't', ' ', 'l', 'o', 'a', 'd', 'e', 'r'};
  connect();
  EXPECT_EQ(identifyBoard(session, 1, false), 1);
  EXPECT_TRUE(session.bootMode);
  EXPECT_EQ(session.kind, '$');
  EXPECT_EQ(op.logLines(), std::vector<std::string>{"\xD0\x90\xD0\x91\xD0\x92 boot loader"});

  board.kind = '!';
  EXPECT_EQ(identifyBoard(session, 1, false), 0);
  EXPECT_EQ(op.logLines(), std::vector<std::string>{"Unsupported device"});
  EXPECT_EQ(requestsWithCommand(0x00), 1u);  // no text identifier asked this time
}

TEST_F(BoardProcedures, AnyBoardAddressAdoptsTheAnsweringBoard) {
  board.address = 5;
  connect();
  session.pumpAddress = 1;
  EXPECT_EQ(identifyBoard(session, kBroadcastAddress, false), 1);
  EXPECT_EQ(dev.address, 5);
  EXPECT_EQ(session.pumpAddress, 5);
  EXPECT_EQ(adopted, std::vector<uint8_t>{5});
  const auto reqs = peer.requests();  // the text identifier is asked at the adopted address
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0], (Bytes{0x60, 0xF0, 0x21, 0x7D}));
  EXPECT_EQ(reqs[1][1], 5);
}

TEST_F(BoardProcedures, SilenceAndMissingTextEndInTheirMessages) {
  board.answersText = false;
  connect();
  EXPECT_EQ(identifyBoard(session, 9, false), 0);
  EXPECT_EQ(op.logLines(), std::vector<std::string>{"No connection"});
  EXPECT_EQ(identifyBoard(session, 1, false), 0);
  EXPECT_EQ(op.logLines(), std::vector<std::string>{"Cannot read text identifier"});
}

TEST_F(BoardProcedures, NoPasswordSetCancelAndNonNumericTextSendNothing) {
  connect();
  session.login.status[0] = 0x02;  // only the calibration password is set
  EXPECT_EQ(enterAdminPassword(session, false), 1);
  EXPECT_TRUE(op.prompts.empty());
  session.login.status[0] = 0x01;
  EXPECT_EQ(enterAdminPassword(session, true), 0);  // no answer queued: cancel
  EXPECT_EQ(op.prompts, std::vector<std::string>{"Please enter OLD password"});
  op.passwordAnswers = {"12ab"};
  EXPECT_EQ(enterAdminPassword(session, false), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Wrong password"});
  EXPECT_TRUE(peer.requests().empty());
}

TEST_F(BoardProcedures, WrongPasswordIsDroppedThenTheRightOneIsCachedForTheBoard) {
  board.adminPassword = 4321;
  connect();
  session.login.status[0] = 0x01;
  op.passwordAnswers = {"1111", "4321"};
  EXPECT_EQ(enterAdminPassword(session, false), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Wrong password"});
  EXPECT_FALSE(session.login.cached);
  EXPECT_EQ(requestsWithCommand(0xF0), 1u);  // the board was asked why

  EXPECT_EQ(enterAdminPassword(session, false), 1);
  EXPECT_EQ(enterAdminPassword(session, false), 1);  // cached: no third prompt
  EXPECT_EQ(op.prompts, (std::vector<std::string>{"Please enter admin password",
                                                  "Please enter admin password"}));
  const auto reqs = peer.requests();
  ASSERT_GE(reqs.size(), 3u);
  // 4321 = 0x10E1, low byte first: E1 in the parameter group, 10 in the data group.
  EXPECT_EQ(reqs[2], (Bytes{0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x02, 0xE1, 0x02, 0x6C,
                            0x10, 0xDF}));
}

TEST_F(BoardProcedures, LastErrorCodesTheirMessagesAndTheDisplayModeSwitch) {
  board.lastError = 'X';
  connect();
  EXPECT_EQ(readLastStatus(session), 'X');
  EXPECT_EQ(peer.requests().back(), (Bytes{0x60, 0x01, 0xF0, 0x19}));
  const std::pair<uint8_t, const char*> texts[] = {{'X', "Turn the configuration key on"},
                                                   {'[', "Wrong password"},
                                                   {'\\', "Password entry locked"},
                                                   {0, "Write error"},
                                                   {'A', "Write error"}};
  for (const auto& [code, text] : texts) EXPECT_STREQ(lastErrorMessage(code), text) << code;

  EXPECT_EQ(setDisplayMode(session, 3), 1);
  EXPECT_EQ(op.logLines(), std::vector<std::string>{"Display mode result=1"});
  EXPECT_EQ(peer.requests().back(),
            (Bytes{0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x25, 0x03, 0x01, 0xD8}));

  dev.address = 2;  // nobody answers there
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(readLastStatus(session), 0);
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_GE(waited.count(), 290);
  EXPECT_LT(waited.count(), 1000);
  EXPECT_EQ(setDisplayMode(session, 3), -6);
  EXPECT_EQ(op.logLines().back(), "Display mode result=-6");
}

}  // namespace
