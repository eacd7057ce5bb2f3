// The main window's actions driven as the engineer would (the controls' callbacks), against
// the board simulator over TCP, with the scripted operator answering every dialog.
#include "settings/settings_form.h"

#include <FL/Fl.H>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "integration/sim_harness.h"
#include "support/scripted_operator.h"
#include "support/test_support.h"
#include "ui/catalog.h"
#include "ui/main_form.h"

namespace {

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class MainActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalog_unload();
    char buf[4096];
    oldDir_ = getcwd(buf, sizeof buf);
    dir_ = testsupport::makeTempDir();
    ASSERT_EQ(0, chdir(dir_.c_str()));
    state = std::make_unique<AppState>();
    state->op = &op;
  }
  void TearDown() override {
    form.reset();
    state.reset();
    sim.stop();
    ASSERT_EQ(0, chdir(oldDir_.c_str()));
  }
  // Starts a simulated board at address 3 and builds the window identifying it.
  bool startWithBoard(const std::vector<std::string>& extra = {}) {
    if (access((testsupport::buildDir() + "/korvane-sim").c_str(), X_OK) != 0) return false;
    std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--board", "3"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!sim.start(args)) return false;
    std::ofstream(kPreferencesFile) << "TCPC_127.0.0.1:" << sim.listenPort() << " 19200 8 N 1 38400\n";
    op.textAnswers = {"3"};
    form = std::make_unique<xMainForm>(kMainWindowW, kMainWindowH, nullptr, state.get());
    return state->port != 0 && state->session.kind != 0;
  }
  void press(Fl_Widget* w) { w->do_callback(); }

  ScriptedOperator op;
  simtest::SimProcess sim;
  std::unique_ptr<AppState> state;
  std::unique_ptr<xMainForm> form;
  std::string dir_, oldDir_;
};

TEST_F(MainActionsTest, ActionsWithoutABoardReportAndSendNothing) {
  form = std::make_unique<xMainForm>(kMainWindowW, kMainWindowH, nullptr, state.get());
  op.alerts.clear();
  press(form->show_totals);
  ASSERT_EQ(1u, op.alerts.size());
  EXPECT_EQ("Please read device id first", op.alerts[0]);

  // The tab change needs an open port.
  form->counters->value("");
  form->tabs->value(form->tab_load);
  press(form->tabs);
  EXPECT_STREQ("", form->counters->value());

  // Serial numbers: 7 characters, or a value below 1000, are refused before any question.
  op.alerts.clear();
  form->serial_input->value("0001234");
  press(form->enter_serial);
  form->serial_input->value("00000999");
  press(form->enter_serial);
  EXPECT_EQ(2u, op.alerts.size());
  EXPECT_EQ("Please enter correct serial number", op.alerts[0]);
  EXPECT_TRUE(op.questions.empty());
}

TEST_F(MainActionsTest, CommandsOfTheMainTabReachTheBoard) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  op.log.clear();
  press(form->restart);
  EXPECT_NE(std::string::npos, op.log.find("Reset result=1")) << op.log;
  press(form->disp_totals);
  EXPECT_NE(std::string::npos, op.log.find("Display mode result=1")) << op.log;
  op.log.clear();
  press(form->read_diagnostics);
  EXPECT_NE(std::string::npos, op.log.find("[11]: A=")) << op.log;
  // The board's read copy is current: saving it unchanged sends nothing.
  op.alerts.clear();
  press(form->ms_save);
  EXPECT_TRUE(contains(op.alerts, "Settings did not change")) << (op.alerts.empty() ? "" : op.alerts[0]);
  // Get identifier identifies the board again and refreshes the tabs.
  op.log.clear();
  press(form->get_identifier);
  EXPECT_NE(std::string::npos, op.log.find("TRK controller")) << op.log;
  EXPECT_TRUE(form->tab_main_settings->active());
}

TEST_F(MainActionsTest, SearchFindsTheBoardAndKeepsTheBanner) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  op.log.clear();
  press(form->search_pumps);
  EXPECT_NE(std::string::npos, op.log.find("Pump 03 found")) << op.log;
  EXPECT_NE(std::string::npos, op.log.find("Pump 01 not found"));
  EXPECT_NE(std::string::npos, op.log.find("Pump 32 not found"));
  EXPECT_EQ(3, state->session.pumpAddress);
  EXPECT_STREQ("Pump address 3", form->address_box->label());
  EXPECT_TRUE(form->search_pumps->active());
}

TEST_F(MainActionsTest, TabChangesReadTheirRecords) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  form->tabs->value(form->tab_sides);
  press(form->tabs);
  const int shown = shownMeterRows(state->settings);
  ASSERT_GT(shown, 0);
  EXPECT_TRUE(form->meter_type[0]->visible());
  if (shown < kMeterRows) {
    EXPECT_FALSE(form->meter_type[shown]->visible());
  }
  EXPECT_STRNE("Meter 1 type", form->meter_type[0]->label());  // relabelled with the side letter

  form->tabs->value(form->tab_load);
  press(form->tabs);
  EXPECT_NE(std::string::npos, std::string(form->counters->value()).find("Side 1")) << form->counters->value();
  // The monitor follows the side A address of the board's settings.
  EXPECT_EQ(state->settings.readCopy.bytes[3], state->monitor.monitorAddress);
  // Let the monitor poll a few times: the state field shows the nozzle's state.
  for (int i = 0; i < 60 && !*form->state_field->value(); ++i) Fl::wait(0.02);
  EXPECT_STREQ("Free", form->state_field->value());
  form->tabs->value(form->tab_main);
  press(form->tabs);
}

}  // namespace
