// The real main window under X: the start-up order's visible effects (preferences, baud
// display, address prompt, port state), the port button's close/open cycle, the callback
// wiring, the coupled controls, the lists, and start-up against the board simulator.
#include "settings/settings_form.h"

#include <FL/Fl.H>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "integration/sim_harness.h"
#include "link/port.h"
#include "support/scripted_operator.h"
#include "support/test_support.h"
#include "ui/catalog.h"
#include "ui/main_form.h"

namespace {

class MainWindowTest : public ::testing::Test {
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
    ASSERT_EQ(0, chdir(oldDir_.c_str()));
  }
  void writePrefs(const std::string& line) { std::ofstream(kPreferencesFile) << line << "\n"; }
  void build() { form = std::make_unique<xMainForm>(kMainWindowW, kMainWindowH, nullptr, state.get()); }
  std::string baudText() const { return form->baud_choice->value() ? form->baud_choice->value() : ""; }
  bool settingsTabsActive() const {
    return form->tab_main_settings->active() && form->tab_extra->active() && form->tab_sides->active();
  }
  bool settingsTabsInactive() const {
    return !form->tab_main_settings->active() && !form->tab_extra->active() && !form->tab_sides->active();
  }

  ScriptedOperator op;
  std::unique_ptr<AppState> state;
  std::unique_ptr<xMainForm> form;
  std::string dir_, oldDir_;
};

TEST_F(MainWindowTest, WithoutPreferencesTheWindowComesUpWithThePortClosed) {
  build();
  ASSERT_EQ(1u, op.prompts.size());
  EXPECT_EQ("Enter pump address", op.prompts[0]);
  ASSERT_EQ(1u, op.alerts.size());
  EXPECT_EQ("Cannot open serial port", op.alerts[0]);
  EXPECT_EQ(0, state->port);
  EXPECT_EQ("4800", baudText());
  EXPECT_STREQ("38400", form->max_baud->value());
  EXPECT_STREQ("Open port", form->port_button->label());
  EXPECT_TRUE(form->port_choice->active());
  EXPECT_TRUE(form->baud_choice->active());
  EXPECT_TRUE(form->command_panel->active());
  EXPECT_TRUE(settingsTabsInactive());
  EXPECT_FALSE(state->settingsEnabled);
  // A cancelled address prompt means address 1.
  EXPECT_EQ(1, state->session.pumpAddress);
  EXPECT_EQ(1, state->dev->address);
  EXPECT_STREQ("Pump address 1", form->address_box->label());
  EXPECT_EQ(std::string("Korvane v3 ") + __DATE__, form->label());
}

TEST_F(MainWindowTest, AddressPromptKeepsTheLowByte) {
  op.textAnswers = {"300"};
  build();
  EXPECT_EQ(44, state->session.pumpAddress);
  EXPECT_EQ(44, state->dev->address);
  EXPECT_STREQ("Pump address 44", form->address_box->label());
  form->set_pump_address(7);
  EXPECT_STREQ("Pump address 7", form->address_box->label());
  EXPECT_EQ(7, state->dev->address);
}

TEST_F(MainWindowTest, FailuresToOpenThePortOrKeepThePreferencesAreExplainedInTheLog) {
  // A stored serial device that does not exist: the alert, and the OS reason in the log.
  writePrefs("/nonexistent-dir/ttyUSB7 9600 8 N 1 38400");
  build();
  ASSERT_EQ(1u, op.alerts.size());
  EXPECT_EQ("Cannot open serial port", op.alerts[0]);
  EXPECT_NE(std::string::npos,
            op.log.find("Cannot open port \"/nonexistent-dir/ttyUSB7\": No such file or directory"))
      << op.log;

  // The preferences file cannot be replaced (a folder stands in its place): the port still
  // opens and the log says why the settings are not kept.
  ASSERT_EQ(0, unlink(kPreferencesFile));
  ASSERT_EQ(0, mkdir(kPreferencesFile, 0755));
  form->port_choice->value(form->port_choice->add("STUB"));
  form->port_button->do_callback();
  EXPECT_NE(0, state->port);
  EXPECT_NE(std::string::npos, op.log.find("Cannot save preferences to korvane_v3.ini: ")) << op.log;
}

TEST_F(MainWindowTest, StoredBaudRatesAreShownAsListEntryOrText) {
  writePrefs("STUB 57600 8 N 1 115200");
  op.textAnswers = {"5"};
  build();
  EXPECT_TRUE(op.alerts.empty() || op.alerts[0] != "Cannot open serial port");
  ASSERT_NE(0, state->port);
  EXPECT_EQ(state->port, state->dev->port);
  EXPECT_EQ("57600", baudText());
  EXPECT_STREQ("115200", form->max_baud->value());
  EXPECT_STREQ("Close Port", form->port_button->label());
  EXPECT_FALSE(form->port_choice->active());
  EXPECT_FALSE(form->baud_choice->active());
  // STUB is not a discovered port: the choice keeps its (empty) selection.
  EXPECT_EQ(-1, form->port_choice->value());
  form.reset();

  state = std::make_unique<AppState>();
  state->op = &op;
  writePrefs("STUB 19200 8 N 1 38400");
  build();
  EXPECT_EQ("19200", baudText());
  EXPECT_EQ(2, form->baud_choice->menubutton()->value());
}

TEST_F(MainWindowTest, PortButtonClosesAndReopensThePortFromTheList) {
  writePrefs("STUB 9600 8 N 1 38400");
  build();
  ASSERT_NE(0, state->port);
  const size_t alertsBefore = op.alerts.size();

  form->port_button->do_callback();
  EXPECT_EQ(0, state->port);
  EXPECT_EQ(0, state->dev->port);
  EXPECT_STREQ("Open Port", form->port_button->label());
  EXPECT_TRUE(form->port_choice->active());
  EXPECT_TRUE(form->baud_choice->active());
  EXPECT_FALSE(form->command_panel->active());
  EXPECT_TRUE(settingsTabsInactive());

  // No entry selected: refused, nothing changes.
  form->port_choice->value(-1);
  form->port_button->do_callback();
  ASSERT_EQ(alertsBefore + 1, op.alerts.size());
  EXPECT_EQ("Cannot open serial port", op.alerts.back());
  EXPECT_EQ(0, state->port);
  EXPECT_FALSE(form->command_panel->active());

  // The selected entry opens with the typed baud rate, which is saved with the port name.
  const int idx = form->port_choice->add("STUB");
  form->port_choice->value(idx);
  form->baud_choice->value("38400");
  form->port_button->do_callback();
  ASSERT_NE(0, state->port);
  EXPECT_EQ(state->port, state->dev->port);
  EXPECT_STREQ("Close Port", form->port_button->label());
  EXPECT_TRUE(form->command_panel->active());
  EXPECT_FALSE(form->port_choice->active());
  EXPECT_TRUE(settingsTabsInactive());  // until the next successful settings read
  Preferences saved;
  ASSERT_EQ(1, loadPreferences(&saved));
  EXPECT_EQ("STUB", saved.portName);
  EXPECT_EQ(38400, saved.baud);
  ASSERT_NE(nullptr, portEntry(state->port));
}

TEST_F(MainWindowTest, ControlsAreWiredToTheSharedCallbackAsDescribed) {
  build();
  auto shared = &xMainForm::main_action_callback;
  for (Fl_Widget* w : std::initializer_list<Fl_Widget*>{
           form->port_button, form->get_identifier, form->restart, form->imitator,
           form->admin_password, form->serial_input, form->ms_read, form->es_save, form->sn_write,
           form->load_side_a, form->load_nozzle, form->modes, form->mass_flags, form->disp_test09,
           form->immediate_start, form->count_3s, form->sides[1].clear, form->tabs,
           form->meter_phase[9], form->meter_type[0]}) {
    EXPECT_EQ(shared, w->callback()) << (w->label() ? w->label() : "(no label)");
  }
  EXPECT_EQ(nullptr, form->get_identifier->user_data());
  // Nested controls that are not listed stay unwired; read-only outputs too.
  EXPECT_NE(shared, form->dot_xxxx->callback());
  EXPECT_NE(shared, form->sides[0].active_nozzle->callback());
  EXPECT_NE(shared, form->meter_coefficient[0]->callback());
  EXPECT_NE(shared, form->satellite->callback());
  // Own callbacks.
  EXPECT_NE(shared, form->leave_bootloader->callback());
  EXPECT_NE(shared, form->modes2->callback());
  EXPECT_TRUE(form->modes2->when() & FL_WHEN_CHANGED);
  EXPECT_TRUE(form->slow_start->when() & FL_WHEN_CHANGED);
  EXPECT_TRUE(form->overfill_buffer->when() & FL_WHEN_CHANGED);
}

TEST_F(MainWindowTest, CoupledStartAndOverfillControlsFollowEachOther) {
  build();
  form->immediate_start->do_callback();
  EXPECT_STREQ("25500", form->slow_start->value());
  form->start_20ml->do_callback();
  EXPECT_STREQ("0", form->slow_start->value());

  form->slow_start->value("25500");
  form->slow_start->do_callback();
  EXPECT_EQ(1, form->immediate_start->value());
  form->slow_start->value("100");
  form->slow_start->do_callback();
  EXPECT_EQ(0, form->immediate_start->value());
  EXPECT_EQ(0, form->start_20ml->value());
  form->slow_start->value("0");
  form->slow_start->do_callback();
  EXPECT_EQ(1, form->start_20ml->value());

  form->no_counting->do_callback();
  EXPECT_STREQ("2550", form->overfill_buffer->value());
  form->count_3s->do_callback();
  EXPECT_STREQ("2540", form->overfill_buffer->value());
  form->overfill_buffer->value("2550");
  form->overfill_buffer->do_callback();
  EXPECT_EQ(1, form->no_counting->value());
  form->overfill_buffer->value("7");
  form->overfill_buffer->do_callback();
  EXPECT_EQ(0, form->no_counting->value());
  EXPECT_EQ(0, form->count_3s->value());

  // "Fast tokheim" (item 3) clears items 8 and 10; 8 and 10 alone may stay together.
  form->modes2->checked(8, 1);
  form->modes2->checked(10, 1);
  form->modes2->do_callback();
  EXPECT_EQ(1, form->modes2->checked(8));
  EXPECT_EQ(1, form->modes2->checked(10));
  form->modes2->checked(3, 1);
  form->modes2->do_callback();
  EXPECT_EQ(1, form->modes2->checked(3));
  EXPECT_EQ(0, form->modes2->checked(8));
  EXPECT_EQ(0, form->modes2->checked(10));
}

TEST_F(MainWindowTest, ListsHoldTheirItemsInOrderWithMenuMarkupTakenLiterally) {
  build();
  ASSERT_EQ(18, form->display_a->size() - 1);
  EXPECT_STREQ("China LCD", form->display_a->menu()[0].label());
  EXPECT_STREQ("209_17", form->display_a->menu()[6].label());
  EXPECT_STREQ("TBL-11", form->display_b->menu()[17].label());
  ASSERT_EQ(4, form->pc_baud->size() - 1);
  EXPECT_STREQ("38400", form->per_baud->menu()[3].label());
  EXPECT_EQ(5, form->nozzle_count->size() - 1);
  EXPECT_EQ(2, form->side_count->size() - 1);
  ASSERT_EQ(16, form->modes->nitems());
  EXPECT_STREQ("'Sever' mode / Report nozzle down AZT2.0", form->modes->text(16));
  ASSERT_EQ(11, form->modes2->nitems());
  EXPECT_STREQ("Fast S&B", form->modes2->text(2));
  EXPECT_EQ(8, form->mass_flags->nitems());
  EXPECT_EQ(4, form->massmeter_type->size() - 1);
  for (Fl_Choice* c : form->meter_phase) {
    ASSERT_EQ(3, c->size() - 1);
    EXPECT_STREQ("Phase 1+2", c->menu()[1].label());
  }
  EXPECT_STREQ("Meter 10 type", form->meter_type[9]->label());
  EXPECT_STREQ("Calibration 3 count", form->meter_calibration[2]->label());
  EXPECT_EQ(1, form->azt_a->rows());
  EXPECT_EQ(5, form->azt_b->cols());
  EXPECT_EQ(0, form->azt_a->row_header());
  EXPECT_STREQ("Enter here serial number", form->serial_input->tooltip());
  // The 2 x 6 indicator grid: 16 x 16 boxes on a 24 px pitch.
  EXPECT_EQ(16, form->indicators[1][5]->w());
  EXPECT_EQ(24, form->indicators[0][1]->x() - form->indicators[0][0]->x());
  EXPECT_EQ(24, form->indicators[1][0]->y() - form->indicators[0][0]->y());
  EXPECT_EQ(36, form->indicators[0][0]->y() - form->price_input->y());
  // Tabs in order.
  const char* names[] = {"Main", "Main settings", "Extra settings", "Side and nozzle settings", "Load"};
  ASSERT_EQ(5, form->tabs->children());
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(names[i], form->tabs->child(i)->label());
}

TEST_F(MainWindowTest, SettingsTabsShowAndReturnTheirForms) {
  build();
  MainSettings rec;
  rec.bytes[0] = 96;  // pc_baud 9600
  rec.bytes[3] = 5;
  rec.bytes[4] = 6;
  rec.bytes[9] = 2;
  rec.bytes[10] = 2;
  rec.bytes[11] = 10;
  rec.bytes[12] = 11;
  rec.bytes[13] = 12;
  rec.bytes[14] = 13;
  rec.bytes[25] = 255;
  rec.bytes[30] = 0x01;
  rec.bytes[34] = 6;
  MainSettingsForm f;
  displayMainSettings(rec, &f);
  form->show_main_form(f);
  EXPECT_EQ(1, form->pc_baud->value());
  EXPECT_STREQ("5", form->side_a_address->value());
  EXPECT_STREQ("25500", form->slow_start->value());
  EXPECT_EQ(1, form->immediate_start->value());
  EXPECT_EQ(1, form->modes->checked(1));
  EXPECT_STREQ("209_17", form->display_a->text());
  EXPECT_STREQ("10", form->azt_a->get_cell(0, 0));
  EXPECT_STREQ("13", form->azt_b->get_cell(1, 0));
  EXPECT_EQ(nullptr, form->azt_a->get_cell(2, 0));

  MainSettings back;
  CollectResult r = collectMainSettings(form->read_main_form(), &back);
  ASSERT_TRUE(r.ok) << (r.message ? r.message : "");
  EXPECT_EQ(rec.bytes[3], back.bytes[3]);
  EXPECT_EQ(rec.bytes[0], back.bytes[0]);
  for (int i = 11; i <= 14; ++i) EXPECT_EQ(rec.bytes[i], back.bytes[i]) << i;

  ExtraSettings ex;
  ex.bytes[22] = 0xA2;
  ex.bytes[23] = 0x01;
  ExtraSettingsForm ef;
  displayExtraSettings(ex, nullptr, &ef);
  form->show_extra_form(ef);
  EXPECT_STREQ("0x1A2", static_cast<Fl_Input*>(form->extra_control(ExtraControl::PressureOffset4mA))->value());
  ExtraSettings ex2 = collectExtraSettings(ex, form->read_extra_form());
  EXPECT_EQ(0xA2, ex2.bytes[22]);
  EXPECT_EQ(0x01, ex2.bytes[23]);
}

TEST_F(MainWindowTest, DiscoveredPortsFillThePortChoiceInOrder) {
  const std::string root = dir_ + "/sys";
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS9"}) {
    const std::string d = root + "/" + name + "/device/driver";
    ASSERT_EQ(0, system(("mkdir -p '" + d + "'").c_str()));
  }
  // No device driver: not a port.
  ASSERT_EQ(0, system(("mkdir -p '" + root + "/tty0'").c_str()));
  xMainForm::serial_sys_root = root.c_str();   // root outlives build(); reset below
  build();
  xMainForm::serial_sys_root = "/sys/class/tty";
  std::vector<std::string> names;
  for (int i = 0; i < form->port_choice->size() - 1; ++i) names.push_back(form->port_choice->menu()[i].label());
  std::vector<std::string> sorted = names;
  ASSERT_EQ(4u, names.size());
  EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "tty0"));
  const auto pos = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(pos("ttyUSB2"), pos("ttyUSB10"));
}

TEST_F(MainWindowTest, StartUpAgainstTheSimulatorIdentifiesTheBoard) {
  if (access((testsupport::buildDir() + "/korvane-sim").c_str(), X_OK) != 0)
    GTEST_SKIP() << "korvane-sim not built";
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--board", "3", "--text", "TRK test board"}));
  writePrefs("TCPC_127.0.0.1:" + std::to_string(sim.listenPort()) + " 19200 8 N 1 38400");
  op.textAnswers = {"3"};
  build();
  EXPECT_TRUE(std::find(op.alerts.begin(), op.alerts.end(), "Cannot open serial port") == op.alerts.end());
  ASSERT_NE(0, state->port);
  EXPECT_EQ('#', state->session.kind);
  EXPECT_NE(std::string::npos, op.log.find("TRK test board")) << op.log;
  EXPECT_FALSE(state->session.bootMode);
  // The refresh read the main settings: the tabs are active and show the board's record.
  EXPECT_TRUE(settingsTabsActive());
  EXPECT_TRUE(state->settings.tabsEnabled);
  const unsigned sideA = state->settings.readCopy.bytes[3];
  EXPECT_EQ(std::to_string(sideA), form->side_a_address->value());
  EXPECT_EQ(static_cast<int>(state->settings.nozzleCount()) - 1, form->nozzle_count->value());
  EXPECT_NE(std::string::npos, op.log.find("Factory clear count:")) << op.log;
  // The password state is shown (no password set on the simulated board).
  EXPECT_STREQ("Not set", form->admin_password->value());

  // Closing the port with the button disables the tabs again.
  form->port_button->do_callback();
  EXPECT_TRUE(settingsTabsInactive());
}

}  // namespace
