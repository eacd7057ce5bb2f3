// Settings sequences against korvane-sim: main and extra saves with the admin log-in, a
// wrong password, the configuration key off, following the board to a new side A address,
// the settings file round trip, factory presets, meter types and phases, password changes.
#include <gtest/gtest.h>

#include "protocol/board_io.h"
#include "settings/presets.h"
#include "settings/service_actions.h"
#include "settings/settings_json.h"
#include "settings/settings_sequences.h"
#include "settings/side_nozzle.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"

namespace {

class SettingsSim : public ::testing::Test {
 protected:
  bool connect(const std::vector<std::string>& args) {
    port = simtest::openSimPort(sim, args);
    if (!port) return false;
    dev = std::make_unique<UTRKDevice>(port);
    dev->address = 1;
    s.dev = dev.get();
    s.op = &op;
    s.pumpAddress = 1;
    return identifyAndRefresh(s, st, 1) == 1 && st.tabsEnabled;
  }
  void TearDown() override {
    if (port) portClose(port);
  }
  MainSettingsForm shownMain() {
    MainSettingsForm f;
    displayMainSettings(st.readCopy, &f);
    return f;
  }
  MainSettings boardMain() {
    MainSettings m;
    EXPECT_EQ(
        readBlockPolled(s, kMainSettingsAddress, kBankData, kMainSettingsSize, m.data(), kCheckCrc),
        1);
    return m;
  }
  ExtraSettings boardExtra() {
    ExtraSettings e;
    EXPECT_EQ(readBlockPolled(s, kExtraSettingsAddress, kBankData, kExtraSettingsSize, e.data(),
                              kCheckCrc),
              1);
    return e;
  }

  simtest::SimProcess sim;
  uint16_t port = 0;
  std::unique_ptr<UTRKDevice> dev;
  ScriptedOperator op;
  BoardSession s;
  SettingsState st;
};

TEST_F(SettingsSim, MainSaveWithWrongThenRightAdminPassword) {
  ASSERT_TRUE(connect({"--admin-password", "1234"}));
  EXPECT_NE(op.log.find("Factory clear count: "), std::string::npos);
  MainSettingsForm f = shownMain();
  f.textOf(MainControl::SlowFinish) = "700";
  op.passwordAnswers = {"1111"};
  EXPECT_EQ(saveMainSettings(s, st, f), 0);
  EXPECT_EQ(op.prompts, std::vector<std::string>{"Please enter admin password"});
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Wrong password"});
  EXPECT_NE(boardMain().get(ms::slow_load), 7u);

  op.alerts.clear();
  op.passwordAnswers = {"1234"};
  EXPECT_EQ(saveMainSettings(s, st, f), 1);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Write ok"});
  EXPECT_NE(op.log.find("Reset result=1"), std::string::npos);
  EXPECT_EQ(boardMain().get(ms::slow_load), 7u);
  EXPECT_EQ(st.readCopy.get(ms::slow_load), 7u);  // read again after the restart

  // Saving what was just read changes nothing and asks nothing.
  op.alerts.clear();
  op.prompts.clear();
  EXPECT_EQ(saveMainSettings(s, st, shownMain()), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Settings did not change"});
  EXPECT_TRUE(op.prompts.empty());

  // A validation failure names the control and sends nothing.
  f.textOf(MainControl::SideAAddress) = "40";
  MainControl focus = MainControl::NoControl;
  op.alerts.clear();
  EXPECT_EQ(saveMainSettings(s, st, f, &focus), 0);
  EXPECT_EQ(focus, MainControl::SideAAddress);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Side addresses must be 1..0x20"});
}

TEST_F(SettingsSim, ConfigurationKeyOffRefusesEveryWrite) {
  ASSERT_TRUE(connect({"--key-off"}));
  MainSettingsForm f = shownMain();
  f.textOf(MainControl::FulltankTimeout) = "77";
  EXPECT_NE(saveMainSettings(s, st, f), 1);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Turn the configuration key on"});

  readExtraSettings(s, st);
  ExtraSettingsForm e;
  displayExtraSettings(st.extra, st.rawPressure, &e);
  EXPECT_EQ(e.textOf(ExtraControl::PressureDebug), "0x123, 0x456");
  e.textOf(ExtraControl::FailFlowRate) = "42";
  op.alerts.clear();
  EXPECT_NE(saveExtraSettings(s, st, e), 1);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Write extra settings error"});
  // The collected values already replaced the extra copy, but the re-read brought the board's back.
  op.alerts.clear();
  displayExtraSettings(st.extra, nullptr, &e);
  EXPECT_EQ(saveExtraSettings(s, st, e), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"No values changed"});

  readSideNozzle(s, st);
  SideNozzleForm sn;
  displaySideNozzle(st, &sn);
  sn.rows[0].phase = 2;
  op.alerts.clear();
  EXPECT_EQ(writeSideNozzle(s, st, sn), kResultRefused);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Turn the configuration key on"});
}

TEST_F(SettingsSim, NewSideAAddressIsFollowedAfterTheRestart) {
  ASSERT_TRUE(connect({}));
  std::vector<uint8_t> seen;
  s.onPumpAddress = [&](uint8_t a) { seen.push_back(a); };
  MainSettingsForm f = shownMain();
  f.choiceOf(MainControl::SideCount) = 0;
  f.textOf(MainControl::SideAAddress) = "7";
  f.textOf(MainControl::Satellite) = "";
  EXPECT_EQ(saveMainSettings(s, st, f), 1);
  EXPECT_EQ(s.pumpAddress, 7);
  EXPECT_EQ(seen, std::vector<uint8_t>{7});
  EXPECT_TRUE(st.tabsEnabled);
  EXPECT_EQ(st.readCopy.get(ms::side_addr0), 7u);
  EXPECT_EQ(dev->address, 7);
}

TEST_F(SettingsSim, ExtraSaveThenExportImportRestoresTheBoard) {
  ASSERT_TRUE(connect({}));
  const std::string dir = testsupport::makeTempDir();
  op.fileAnswers = {dir + "/board"};
  ASSERT_EQ(exportSettings(s, st), 1);
  const MainSettings mainBefore = boardMain();
  const ExtraSettings extraBefore = boardExtra();

  // Change the board (tenths, signed heater tenths, an address), then bring the file back.
  readExtraSettings(s, st);
  ExtraSettingsForm e;
  displayExtraSettings(st.extra, st.rawPressure, &e);
  e.textOf(ExtraControl::MassMultiplier) = "321";
  e.textOf(ExtraControl::FailPressure) = "12.5";
  e.textOf(ExtraControl::HeaterOnTemp) = "-5.5";
  e.textOf(ExtraControl::TcpIp) = "10.1.2.3";
  ASSERT_EQ(saveExtraSettings(s, st, e), 1);
  EXPECT_EQ(op.alerts, (std::vector<std::string>{"OK", "Write extra settings ok"}));
  const ExtraSettings b = boardExtra();
  EXPECT_EQ(b.get(es::fail_pressure), 125u);
  EXPECT_EQ(static_cast<int16_t>(b.get(es::heat_on_temp)), -55);
  EXPECT_EQ(b.bytes[es::w_ip + 3], 3);
  EXPECT_EQ(saveExtraSettings(s, st, e), 0);
  EXPECT_EQ(op.alerts.back(), "No values changed");
  MainSettingsForm f = shownMain();
  f.textOf(MainControl::ValveOpenDelay) = "99";
  ASSERT_EQ(saveMainSettings(s, st, f), 1);

  op.alerts.clear();
  op.confirmAnswers = {false};
  EXPECT_EQ(importSettings(s, st, dir + "/board.json"), 0);
  EXPECT_EQ(op.questions, std::vector<std::string>{"Start writing?"});
  EXPECT_EQ(boardExtra().get(es::mass_mult), 321u);  // "No": nothing written

  op.confirmAnswers = {true};
  EXPECT_EQ(importSettings(s, st, dir + "/board.json"), 1);
  EXPECT_EQ(op.alerts, (std::vector<std::string>{"Write extra settings ok", "Write ok"}));
  const MainSettings mainAfter = boardMain();
  const ExtraSettings extraAfter = boardExtra();
  for (size_t i = 0; i < kMainFieldCount; ++i)
    EXPECT_EQ(mainAfter.get(kMainFields[i]), mainBefore.get(kMainFields[i])) << kMainFields[i].name;
  for (size_t i = 0; i < kExtraFieldCount; ++i) {
    if (kExtraFields[i].keyed) {
      EXPECT_EQ(extraAfter.get(kExtraFields[i]), extraBefore.get(kExtraFields[i]))
          << kExtraFields[i].name;
    }
  }

  op.alerts.clear();
  EXPECT_EQ(importSettings(s, st, dir + "/missing.json"), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"File load error"});
}

TEST_F(SettingsSim, FactoryPresetC4000AndTheRefusalWithoutNozzleCount) {
  ASSERT_TRUE(connect({"--admin-password", "1234"}));
  PresetForm f;
  f.nozzleChoice = 0;  // no pump type: refused before anything is asked or sent
  EXPECT_EQ(applyPreset(s, st, f), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Choose the pump type"});
  op.alerts.clear();
  f.pumpType = kPumpC4000;
  f.nozzleChoice = -1;
  EXPECT_EQ(applyPreset(s, st, f), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Choose the nozzle count"});
  EXPECT_TRUE(op.prompts.empty());  // refused before the log-in

  op.alerts.clear();
  f.nozzleChoice = 1;
  f.sideChoice = 1;
  onPresetNozzlesChosen(&f);
  op.passwordAnswers = {"1234"};
  op.confirmAnswers = {true};
  EXPECT_EQ(applyPreset(s, st, f), 1);
  EXPECT_EQ(op.questions, std::vector<std::string>{"This will set all pump totals to 0"});
  EXPECT_EQ(op.alerts, std::vector<std::string>{"All ok"});
  EXPECT_EQ(boardMain(), presetMainSettings(f));
  EXPECT_EQ(boardExtra(), presetExtraSettings());
  EXPECT_EQ(st.readCopy, presetMainSettings(f));  // identified and read again
  readSideNozzle(s, st);
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(st.records.meters[ch].typeWord(), 200u);
    EXPECT_EQ(st.records.meters[ch].phase(), 1u);
  }
}

TEST_F(SettingsSim, MeterTypeAndPhaseWriteAndTheTotalRule) {
  ASSERT_TRUE(connect({"--admin-password", "1234"}));
  readSideNozzle(s, st);
  SideNozzleForm f;
  displaySideNozzle(st, &f);
  const int rows = shownMeterRows(st);
  ASSERT_GE(rows, 1);
  EXPECT_TRUE(f.rows[0].shown);
  EXPECT_FALSE(f.rows[rows].shown);
  EXPECT_EQ(f.rows[0].typeLabel, "Meter 1A type");

  // A channel with a grand total refuses a type change before anything is sent (here a
  // copy taken as read from this board, so it is not read again).
  st.records.channels[0].set(ChannelField::f_count, 5);
  st.records.channelRead[0] = true;
  f.rows[0].type = "123";
  EXPECT_EQ(writeSideNozzle(s, st, f), 0);
  EXPECT_EQ(op.alerts,
            std::vector<std::string>{
                "Cannot change meter type 1A - run 'factory settings'/'controller clear'"});
  EXPECT_TRUE(op.prompts.empty());

  st.records.channels[0].set(ChannelField::f_count, 0);
  op.alerts.clear();
  f.rows[0].type = "791";
  f.rows[0].phase = 2;
  op.passwordAnswers = {"1234"};
  EXPECT_EQ(writeSideNozzle(s, st, f), 1);
  EXPECT_EQ(op.alerts,
            (std::vector<std::string>{"Meter 1A type changed - factory calibration will be set",
                                      "Write meter phase ok", "Write meter types ok"}));
  MeterRecord m;
  ASSERT_EQ(
      readBlockPolled(s, meterRecordAddress(0), kBankData, kMeterRecordSize, m.data(), kCheckCrc),
      1);
  EXPECT_EQ(m.typeWord(), 1582u);
  EXPECT_EQ(m.phase(), 2u);

  op.alerts.clear();
  displaySideNozzle(st, &f);
  EXPECT_EQ(f.rows[0].type, "791");
  EXPECT_EQ(writeSideNozzle(s, st, f), 0);
  EXPECT_EQ(op.alerts, std::vector<std::string>{"No values changed"});
}

TEST_F(SettingsSim, PasswordChangesAndServiceActions) {
  ASSERT_TRUE(connect({"--admin-password", "1234"}));
  op.passwordAnswers = {"1234"};
  EXPECT_EQ(changePassword(s, st, false, "4321"), 1);
  EXPECT_EQ(op.prompts, std::vector<std::string>{"Please enter OLD password"});
  EXPECT_EQ(op.alerts, std::vector<std::string>{"Ok"});

  // The next protected write logs in with the new password without asking.
  op.alerts.clear();
  MainSettingsForm f = shownMain();
  f.textOf(MainControl::ValvePwmLength) = "9";
  EXPECT_EQ(saveMainSettings(s, st, f), 1);
  EXPECT_EQ(op.prompts.size(), 1u);

  // Imitator toggles the known byte; restart and the counters are logged.
  const uint8_t before = st.imitatorByte;
  EXPECT_EQ(toggleImitator(s, st), 1);
  EXPECT_EQ(st.imitatorByte, before ^ kImitatorBit);
  uint8_t mode = 0;
  ASSERT_EQ(readBlockPolled(s, kRegImitator, kBankService, 1, &mode, kCheckNone), 1);
  EXPECT_EQ(mode, st.imitatorByte);
  EXPECT_NE(op.log.find("Imit result=1"), std::string::npos);

  op.clearLog();
  EXPECT_TRUE(showTotals(s, st));
  EXPECT_NE(op.log.find("nozzle 1: 0.00"), std::string::npos);
  op.clearLog();
  readDiagnostics(s);
  EXPECT_EQ(op.logLines().size(), 4u + 6u + 12u);
  EXPECT_EQ(op.logLines().back(), "[11]: A=   0 B=   0 AB=   0");
}

}  // namespace
