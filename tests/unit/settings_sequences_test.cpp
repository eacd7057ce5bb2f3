// Settings sequences that decide before or without the board: password text checks, the
// meter type rule of the side and nozzle tab, the import that cannot read the board, and
// totals whose read fails. The session has no device, so every request fails as a time-out.
#include "settings/settings_sequences.h"

#include <gtest/gtest.h>

#include <fstream>

#include "settings/service_actions.h"
#include "settings/settings_json.h"
#include "settings/side_nozzle.h"
#include "support/scripted_operator.h"
#include "support/test_support.h"

namespace {

class NoBoard : public ::testing::Test {
 protected:
  void SetUp() override { s.op = &op; }
  // One side or two, with n nozzles, as the last main settings read would give.
  void counts(unsigned sides, unsigned nozzles) {
    st.readCopy.set(ms::side_count, sides);
    st.readCopy.set(ms::noz_count, nozzles);
  }
  ScriptedOperator op;
  BoardSession s;
  SettingsState st;
};

}  // namespace

TEST_F(NoBoard, PasswordTextMustBeADecimalUpTo9999) {
  const char* const refused[] = {
      "10000", "", "  ", "12a", "-1", "4294967301", "18446744073709551617"};
  for (const char* t : refused) {
    op.alerts.clear();
    EXPECT_EQ(changePassword(s, st, false, t), 0) << t;
    EXPECT_EQ(op.alerts, std::vector<std::string>{"Password must be between 0000 and 9999"}) << t;
  }
  EXPECT_TRUE(op.prompts.empty());  // refused before any log-in

  // Accepted texts go on to the write, which fails here without a board.
  for (const char* t : {"9999", "0000", " 0012 ", "0000009999"}) {
    op.alerts.clear();
    EXPECT_NE(changePassword(s, st, true, t), 1) << t;
    EXPECT_EQ(op.alerts, std::vector<std::string>{"Set password error"}) << t;
  }
}

TEST_F(NoBoard, MeterRowLeftAsShownKeepsAnOddTypeWord) {
  counts(1, 2);                     // rows 0 and 1: channels 0 (1A) and 2 (2A)
  st.records.meterRead.fill(true);  // the meter copies as read from this board
  st.records.meters[0].setTypeWord(1583);
  st.records.meters[2].setTypeWord(200);
  st.records.meters[2].setPhase(1);
  SideNozzleForm f;
  displaySideNozzle(st, &f);
  EXPECT_EQ(f.rows[0].type, "791");
  EXPECT_EQ(f.rows[1].type, "100");
  EXPECT_EQ(f.rows[1].channel, 2);
  EXPECT_EQ(f.rows[1].typeLabel, "Meter 2A type");
  EXPECT_FALSE(f.rows[2].shown);

  EXPECT_EQ(writeSideNozzle(s, st, f), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"No values changed"});
  EXPECT_EQ(st.records.meters[0].typeWord(), 1583u);

  // A typed change still counts, and is refused while the channel has a grand total (a
  // channel copy read from this board, so no fresh read is needed).
  op.alerts.clear();
  f.rows[0].type = "790";
  st.records.channels[0].set(ChannelField::f_count, 1);
  st.records.channelRead[0] = true;
  EXPECT_EQ(writeSideNozzle(s, st, f), 0);
  EXPECT_EQ(op.alerts,
            std::vector<std::string>{
                "Cannot change meter type 1A - run 'factory settings'/'controller clear'"});
  op.alerts.clear();
  st.records.channels[0].set(ChannelField::f_count, 0);
  EXPECT_EQ(writeSideNozzle(s, st, f), kResultTimeout);
  EXPECT_EQ(op.alerts,
            (std::vector<std::string>{"Meter 1A type changed - factory calibration will be set",
                                      "Write meter types error"}));
  EXPECT_EQ(st.records.meters[0].typeWord(), 1583u);  // a failed write leaves the copy
}

TEST_F(NoBoard, PhaseChoiceClearedForNoPhaseAndKeptForCodesBeyondTheList) {
  counts(2, 1);  // rows 0 (1A, channel 0) and 1 (1B, channel 1)
  st.records.meterRead.fill(true);
  st.records.meters[0].setPhase(kPhaseNone);
  st.records.meters[1].setPhase(7);
  SideNozzleForm f;
  f.rows[0].phase = 2;
  f.rows[1].phase = 2;
  displaySideNozzle(st, &f);
  EXPECT_EQ(f.rows[0].phase, -1);
  EXPECT_EQ(f.rows[1].phase, 2);
  EXPECT_EQ(f.rows[1].typeLabel, "Meter 1B type");
  EXPECT_EQ(f.rows[1].calibrationLabel, "Calibration 1B count");

  // Saving as shown: row 0 stays "none"; row 1 carries the choice it kept, which is a change.
  EXPECT_EQ(writeSideNozzle(s, st, f), kResultTimeout);
  EXPECT_EQ(op.alerts,
            std::vector<std::string>{"Write meter phase error\n(all fillings must be finished)"});
}

TEST_F(NoBoard, ImportStopsWhenTheBoardRecordCannotBeRead) {
  const std::string dir = testsupport::makeTempDir();
  const std::string path = dir + "/board.json";
  ASSERT_EQ(saveSettingsFile(path, MainSettings{}, ExtraSettings{}), kJsonOk);
  st.writeCopy.set(ms::side_addr0, 9);
  EXPECT_EQ(importSettings(s, st, path), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Read error"});
  EXPECT_TRUE(op.questions.empty());  // nothing asked, nothing written
  EXPECT_EQ(st.writeCopy.get(ms::side_addr0), 9u);
}

TEST_F(NoBoard, TotalsNeedCountsAndAFailedReadKeepsTheCopy) {
  EXPECT_FALSE(showTotals(s, st));
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Please read device id first"});
  EXPECT_TRUE(op.log.empty());

  counts(2, 1);
  st.readCopy.set(ms::side_addr0, 5);
  st.readCopy.set(ms::side_addr1, 6);
  st.records.channels[1].set(ChannelField::f_count, 77);
  EXPECT_TRUE(showTotals(s, st));
  EXPECT_EQ(op.logLines(), (std::vector<std::string>{"address 5, nozzle 1: error read",
                                                     "address 6, nozzle 1: error read"}));
  EXPECT_EQ(st.records.channels[1].get(ChannelField::f_count), 77u);
}

TEST_F(NoBoard, SerialTextIsCheckedBeforeTheQuestion) {
  for (const char* t : {"1234567", "123456789", "00000999", "1234 678"}) {
    op.alerts.clear();
    EXPECT_EQ(writeSerialNumber(s, t), 0) << t;
    EXPECT_EQ(op.alerts, std::vector<std::string>{"Please enter correct serial number"}) << t;
  }
  EXPECT_TRUE(op.questions.empty());
  op.confirmAnswers = {false};
  EXPECT_EQ(writeSerialNumber(s, "00001000"), 0);
  EXPECT_EQ(op.questions, std::vector<std::string>{"Writing cannot be reverted. Are you sure?"});
  EXPECT_TRUE(op.log.empty());  // "No": nothing written
}
