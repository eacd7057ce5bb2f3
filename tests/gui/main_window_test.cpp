// The main window under X without a board: what start-up shows for each preferences file, the
// port button's close/open cycle, the coupled controls, the lists, the settings tabs' forms and
// the port list from a sysfs tree; last, start-up against korvane-sim.
#include "gui_test.h"

#include <sys/stat.h>

#include "ui/menu_item.h"

namespace {

using namespace guitest;

class MainWindowTest : public WindowTest {
 protected:
  std::string baudText() const {
    return form->baud_choice->value() ? form->baud_choice->value() : "";
  }
};

TEST_F(MainWindowTest, WithoutPreferencesThePortStaysClosedAndTheAddressPromptDecides) {
  build();
  EXPECT_EQ(Strings{"Enter pump address"}, op->prompts);
  EXPECT_EQ(Strings{"Cannot open serial port"}, op->alerts);
  EXPECT_EQ(0, state->port);
  EXPECT_EQ("4800", baudText());
  EXPECT_STREQ("38400", form->max_baud->value());
  EXPECT_STREQ("Open port", form->port_button->label());
  EXPECT_TRUE(form->port_choice->active() && form->baud_choice->active() &&
              form->command_panel->active());
  EXPECT_TRUE(settingsTabsActive(false));
  EXPECT_FALSE(state->settingsEnabled);
  EXPECT_EQ(std::string("Korvane v3 ") + __DATE__, form->label());
  // A cancelled address prompt means address 1.
  EXPECT_EQ(1, state->session.pumpAddress);
  EXPECT_EQ(1, state->dev->address);
  EXPECT_STREQ("Pump address 1", form->address_box->label());
  // Totals need an identified board; the Load tab needs an open port.
  press(form->show_totals);
  EXPECT_EQ("Please read device id first", op->alerts.back());
  form->counters->value("");
  showTab(form->tab_load);
  EXPECT_STREQ("", form->counters->value());

  // The typed address keeps its low byte: 300 is 44.
  op->textAnswers = {"300"};
  rebuild();
  EXPECT_EQ(44, state->session.pumpAddress);
  EXPECT_EQ(44, state->dev->address);
  EXPECT_STREQ("Pump address 44", form->address_box->label());
  form->set_pump_address(7);
  EXPECT_STREQ("Pump address 7", form->address_box->label());
  EXPECT_EQ(7, state->dev->address);
}

TEST_F(MainWindowTest, FailuresToOpenThePortOrKeepThePreferencesAreExplainedInTheLog) {
  writePrefs("/nonexistent-dir/ttyUSB7 9600 8 N 1 38400");
  build();
  EXPECT_EQ(Strings{"Cannot open serial port"}, op->alerts);
  EXPECT_NE(
      std::string::npos,
      op->log.find("Cannot open port \"/nonexistent-dir/ttyUSB7\": No such file or directory"))
      << op->log;
  // A folder stands where the preferences file would be replaced: the port still opens.
  ASSERT_EQ(0, unlink(kPreferencesFile));
  ASSERT_EQ(0, mkdir(kPreferencesFile, 0755));
  form->port_choice->value("STUB");
  press(form->port_button);
  EXPECT_NE(0, state->port);
  EXPECT_NE(std::string::npos, op->log.find("Cannot save preferences to korvane_v3.ini: "))
      << op->log;
}

TEST_F(MainWindowTest, StoredBaudRatesShowAndThePortButtonClosesAndReopens) {
  writePrefs("STUB 57600 8 N 1 115200");
  op->textAnswers = {"5"};
  build();
  EXPECT_FALSE(contains(op->alerts, "Cannot open serial port"));
  ASSERT_NE(0, state->port);
  EXPECT_EQ(state->port, state->dev->port);
  EXPECT_EQ("57600", baudText());  // not in the list: shown as text
  EXPECT_STREQ("115200", form->max_baud->value());
  EXPECT_STREQ("Close Port", form->port_button->label());
  EXPECT_FALSE(form->port_choice->active() || form->baud_choice->active());
  EXPECT_STREQ("STUB", form->port_choice->value());  // shown, though not a discovered port

  press(form->port_button);
  EXPECT_EQ(0, state->port);
  EXPECT_EQ(0, state->dev->port);
  EXPECT_STREQ("Open Port", form->port_button->label());
  EXPECT_TRUE(form->port_choice->active() && form->baud_choice->active());
  EXPECT_FALSE(form->command_panel->active());
  EXPECT_TRUE(settingsTabsActive(false));

  // No name: refused, nothing changes.
  const size_t alertsBefore = op->alerts.size();
  form->port_choice->value("  ");
  press(form->port_button);
  ASSERT_EQ(alertsBefore + 1, op->alerts.size());
  EXPECT_EQ("Cannot open serial port", op->alerts.back());
  EXPECT_EQ(0, state->port);
  EXPECT_FALSE(form->command_panel->active());

  // The name in the field opens at the typed baud rate, saved with the port name.
  form->port_choice->value("STUB");
  form->baud_choice->value("38400");
  press(form->port_button);
  ASSERT_NE(0, state->port);
  EXPECT_EQ(state->port, state->dev->port);
  EXPECT_STREQ("Close Port", form->port_button->label());
  EXPECT_TRUE(form->command_panel->active());
  EXPECT_FALSE(form->port_choice->active());
  EXPECT_TRUE(settingsTabsActive(false));  // until the next successful settings read
  Preferences saved;
  ASSERT_EQ(1, loadPreferences(&saved));
  EXPECT_EQ("STUB", saved.portName);
  EXPECT_EQ(38400, saved.baud);

  // A stored rate of the list is its entry: 19200 is the third.
  writePrefs("STUB 19200 8 N 1 38400");
  rebuild();
  EXPECT_EQ("19200", baudText());
  EXPECT_EQ(2, form->baud_choice->menubutton()->value());
}

TEST_F(MainWindowTest, CoupledStartAndOverfillControlsFollowEachOther) {
  build();
  auto* slow_start = form->main_control<Fl_Int_Input>(MainControl::SlowStart);
  auto* overfill_buffer = form->main_control<Fl_Int_Input>(MainControl::OverfillBuffer);
  auto* immediate_start = form->main_control<Fl_Round_Button>(MainControl::ImmediateStart);
  auto* start_20ml = form->main_control<Fl_Round_Button>(MainControl::Start20ml);
  auto* no_counting = form->main_control<Fl_Round_Button>(MainControl::NoCounting);
  auto* count_3s = form->main_control<Fl_Round_Button>(MainControl::Count3Seconds);
  auto* modes2 = form->main_control<Fl_Check_Browser>(MainControl::ModeList2);
  EXPECT_TRUE(slow_start->when() & FL_WHEN_CHANGED);
  EXPECT_TRUE(overfill_buffer->when() & FL_WHEN_CHANGED);
  EXPECT_TRUE(modes2->when() & FL_WHEN_CHANGED);
  // A typed value sets or clears the button standing for it ...
  struct Typed {
    Fl_Input* in;
    const char* text;
    Fl_Button* button;
    int on;
  } const typed[] = {
      {slow_start, "25500", immediate_start, 1}, {slow_start, "100", immediate_start, 0},
      {slow_start, "100", start_20ml, 0},        {slow_start, "0", start_20ml, 1},
      {overfill_buffer, "2550", no_counting, 1}, {overfill_buffer, "1000", no_counting, 0},
      {overfill_buffer, "1000", count_3s, 0}};
  for (const Typed& t : typed) {
    SCOPED_TRACE(std::string(t.button->label()) + " after " + t.text);
    t.in->value(t.text);
    t.in->do_callback();
    EXPECT_EQ(t.on, t.button->value());
  }
  // ... and the button writes its value.
  const std::pair<Fl_Button*, const char*> pressed[] = {{immediate_start, "25500"},
                                                        {start_20ml, "0"}};
  for (const auto& p : pressed) {
    press(p.first);
    EXPECT_STREQ(p.second, slow_start->value()) << p.first->label();
  }
  press(no_counting);
  EXPECT_STREQ("2550", overfill_buffer->value());
  press(count_3s);
  EXPECT_STREQ("2540", overfill_buffer->value());

  // "Fast tokheim" (item 3) clears items 8 and 10; 8 and 10 alone may stay together.
  modes2->checked(8, 1);
  modes2->checked(10, 1);
  press(modes2);
  EXPECT_TRUE(modes2->checked(8) && modes2->checked(10));
  modes2->checked(3, 1);
  press(modes2);
  EXPECT_EQ(1, modes2->checked(3));
  EXPECT_EQ(0, modes2->checked(8));
  EXPECT_EQ(0, modes2->checked(10));
}

TEST_F(MainWindowTest, ListItemsTakeMenuMarkupLiterallyAndTabsShowTheirForms) {
  build();
  // Every markup character of a menu, at the start and inside: one item, whose label draws
  // the text as it is ("&&" is one '&', no shortcut).
  {
    Fl_Choice plain(0, 0, 10, 10);
    add_plain_menu_item(&plain, "_a/b&c\\d_");
    add_plain_menu_item(&plain, "/dev/ttyS0");
    ASSERT_EQ(2, plain.size() - 1);
    EXPECT_STREQ("_a/b&&c\\d_", plain.menu()[0].label());
    EXPECT_EQ(0, plain.menu()[0].flags);
    EXPECT_STREQ("/dev/ttyS0", plain.menu()[1].label());
  }
  // '/' and '&' are no submenu or shortcut markers in these items.
  ASSERT_EQ(16, form->main_control<Fl_Check_Browser>(MainControl::ModeList)->nitems());
  EXPECT_STREQ("'Sever' mode / Report nozzle down AZT2.0",
               form->main_control<Fl_Check_Browser>(MainControl::ModeList)->text(16));
  ASSERT_EQ(11, form->main_control<Fl_Check_Browser>(MainControl::ModeList2)->nitems());
  EXPECT_STREQ("Fast S&B", form->main_control<Fl_Check_Browser>(MainControl::ModeList2)->text(2));
  ASSERT_EQ(18, form->main_control<Fl_Choice>(MainControl::DisplayA)->size() - 1);
  EXPECT_STREQ("TBL-11", form->main_control<Fl_Choice>(MainControl::DisplayB)->menu()[17].label());
  EXPECT_STREQ("Phase 1+2", form->meter_phase[9]->menu()[1].label());
  EXPECT_STREQ("Meter 10 type", form->meter_type[9]->label());
  const char* names[] = {"Main", "Main settings", "Extra settings", "Side and nozzle settings",
                         "Load"};
  ASSERT_EQ(5, form->tabs->children());
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(names[i], form->tabs->child(i)->label());

  // A record shown in the widgets and collected back from them.
  MainSettings rec;
  const std::pair<int, uint8_t> bytes[] = {{0, 96},  {3, 5},    {4, 6},     {9, 2},
                                           {10, 2},  {11, 10},  {12, 11},   {13, 12},
                                           {14, 13}, {25, 255}, {30, 0x01}, {34, 6}};
  for (const auto& b : bytes) rec.bytes[b.first] = b.second;
  MainSettingsForm f;
  displayMainSettings(rec, &f);
  form->show_main_form(f);
  EXPECT_EQ(1, form->main_control<Fl_Choice>(MainControl::PrimaryChannel)->value());  // 9600
  EXPECT_STREQ("5", form->main_control<Fl_Int_Input>(MainControl::SideAAddress)->value());
  EXPECT_STREQ("25500", form->main_control<Fl_Int_Input>(MainControl::SlowStart)->value());
  EXPECT_EQ(1, form->main_control<Fl_Round_Button>(MainControl::ImmediateStart)->value());
  EXPECT_EQ(1, form->main_control<Fl_Check_Browser>(MainControl::ModeList)->checked(1));
  EXPECT_STREQ("209_17", form->main_control<Fl_Choice>(MainControl::DisplayA)->text());
  EXPECT_STREQ("10", form->main_control<Fl_StringTable>(MainControl::AztSideA)->get_cell(0, 0));
  EXPECT_STREQ("13", form->main_control<Fl_StringTable>(MainControl::AztSideB)->get_cell(1, 0));
  EXPECT_EQ(nullptr, form->main_control<Fl_StringTable>(MainControl::AztSideA)->get_cell(2, 0));
  MainSettings back;
  const CollectResult r = collectMainSettings(form->read_main_form(), &back);
  ASSERT_TRUE(r.ok) << (r.message ? r.message : "");
  for (int i : {0, 3, 11, 12, 13, 14, 25, 30}) EXPECT_EQ(rec.bytes[i], back.bytes[i]) << i;
  ExtraSettings ex;
  ex.bytes[22] = 0xA2;
  ex.bytes[23] = 0x01;
  ExtraSettingsForm ef;
  displayExtraSettings(ex, nullptr, &ef);
  form->show_extra_form(ef);
  EXPECT_STREQ(
      "0x1A2",
      static_cast<Fl_Input*>(form->extra_control(ExtraControl::PressureOffset4mA))->value());
  const ExtraSettings ex2 = collectExtraSettings(ex, form->read_extra_form());
  EXPECT_EQ(0xA2, ex2.bytes[22]);
  EXPECT_EQ(0x01, ex2.bytes[23]);
}

TEST_F(MainWindowTest, DiscoveredPortsFillThePortChoiceInOrder) {
  const std::string root = dir_ + "/sys";
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS9"})
    ASSERT_EQ(0, system(("mkdir -p '" + root + "/" + name + "/device/driver'").c_str()));
  ASSERT_EQ(0, system(("mkdir -p '" + root + "/tty0'").c_str()));  // no device driver: no port
  xMainForm::serial_sys_root = root.c_str();                       // root outlives build()
  build();
  xMainForm::serial_sys_root = "/sys/class/tty";
  Strings names;
  for (int i = 0; i < form->port_choice->menubutton()->size() - 1; ++i)
    names.push_back(form->port_choice->menubutton()->menu()[i].label());
  ASSERT_EQ(4u, names.size()) << listed(names);
  EXPECT_FALSE(contains(names, "tty0"));
  const auto pos = [&](const char* n) {
    return std::find(names.begin(), names.end(), n) - names.begin();
  };
  EXPECT_LT(pos("ttyUSB2"), pos("ttyUSB10"));
}

TEST_F(MainWindowTest, StartUpAgainstTheSimulatorIdentifiesTheBoardAndFillsMainSettings) {
  ASSERT_TRUE(startWithBoard({"--board", "3", "--text", "TRK test board"}));
  EXPECT_FALSE(contains(op->alerts, "Cannot open serial port"));
  EXPECT_EQ('#', state->session.kind);
  EXPECT_FALSE(state->session.bootMode);
  EXPECT_NE(std::string::npos, op->log.find("TRK test board")) << op->log;
  EXPECT_NE(std::string::npos, op->log.find("Factory clear count:")) << op->log;
  // The refresh read the main settings: the tabs are active and show the board's record.
  EXPECT_TRUE(settingsTabsActive(true));
  EXPECT_TRUE(state->settings.tabsEnabled);
  EXPECT_EQ(std::to_string(state->settings.readCopy.bytes[3]),
            form->main_control<Fl_Int_Input>(MainControl::SideAAddress)->value());
  EXPECT_EQ(static_cast<int>(state->settings.nozzleCount()) - 1,
            form->main_control<Fl_Choice>(MainControl::NozzleCount)->value());
  EXPECT_STREQ("Not set", form->admin_password->value());
  press(form->port_button);
  EXPECT_TRUE(settingsTabsActive(false));
}

}  // namespace
