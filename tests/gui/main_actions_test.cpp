// The main window's actions against korvane-sim, driven through the controls' callbacks: the
// service commands' records and log lines, settings saved and read back, validation focus, the
// Load tab with its monitor timer and a delivery, the long actions that repaint (bus scan,
// firmware update), passwords and the factory window reached from its button.
#include "gui_test.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <regex>

#include "firmware/boot_update.h"
#include "settings/settings_records.h"
#include "settings/side_nozzle.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/fltk_operator.h"
#include "ui/shortcuts.h"
#include "ui/window_links.h"

namespace {

using namespace guitest;

class MainActions : public WindowTest {
 protected:
  void TearDown() override {
    set_shortcut_hooks(ShortcutHooks{});  // some tests connect them to the window
    WindowTest::TearDown();
  }
  bool logHas(const std::string& s) const { return op->log.find(s) != std::string::npos; }
};

// Looks at the window each time a long action lets it repaint.
class WatchingOperator : public WindowLogOperator {
 public:
  int inactiveButton = 0, busy = 0;
  std::function<void()> duringRepaint;
  void repaint() override {
    WindowLogOperator::repaint();
    if (!form) return;
    if (!form->search_pumps->active()) ++inactiveButton;
    if (form->busy()) ++busy;
    if (duringRepaint) duringRepaint();
  }
};

TEST_F(MainActions, SerialNumberAndImitatorWriteTheirRecords) {
  ASSERT_TRUE(startWithBoard());
  traceSent();
  form->serial_input->value("12345678");
  op->confirmAnswers = {true};
  press(form->enter_serial);
  EXPECT_EQ("Writing cannot be reverted. Are you sure?", op->questions.back());
  // Register 0x07, 14 bytes: the first in the parameter frame, the other thirteen in the data
  // frame.
  EXPECT_TRUE(sentContains({0x07, 0x4E, 0x0E}));
  EXPECT_TRUE(sentContains({0x61, 0xBC, 0x00, 0x38, 0x4E, '1', '2', '3', '4', '5', '6', '7', '8'}));
  EXPECT_TRUE(logHas("Serial write result=1")) << op->log;
  // Refused texts ask nothing and write nothing; nor does answering "No".
  for (const char* text : {"0001234", "00000999", "12345678"}) {
    SCOPED_TRACE(text);
    sent.clear();
    op->alerts.clear();
    op->questions.clear();
    form->serial_input->value(text);
    press(form->enter_serial);
    const bool refused = text[0] == '0';
    EXPECT_EQ(refused ? Strings{"Please enter correct serial number"} : Strings{}, op->alerts);
    EXPECT_EQ(refused, op->questions.empty());
    EXPECT_TRUE(sent.empty());
  }

  // The imitator flips bit 0x01 of the known byte 0x41. A failed write leaves the byte, and
  // the light the click turned off comes on again.
  state->settings.imitatorByte = 0x41;
  state->settings.imitatorActive = true;
  struct Step {
    int address;
    const char* logged;
    int byteAfter, lightAfter;
  } const steps[] = {{kNoBoardAddress, "Imit result=-6", 0x41, 1},
                     {kBoardAddress, "Imit result=1", 0x01, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.logged);
    form->set_pump_address(s.address);
    form->imitator->value(0);
    op->log.clear();
    press(form->imitator);
    EXPECT_TRUE(logHas(s.logged)) << op->log;
    EXPECT_EQ(s.byteAfter, state->settings.imitatorByte);
    EXPECT_EQ(s.lightAfter, form->imitator->value());
  }
  uint8_t onBoard = 0xEE;
  UTRKDevice& dev = *state->dev;
  ASSERT_EQ(kResultDone, pollRequest(dev, [&] {
              return dev.readBlock(kRegImitator, kBankService, 1, &onBoard, kCheckNone, 0);
            }));
  EXPECT_EQ(0x01, onBoard);
}

TEST_F(MainActions, ServiceCommandsDiagnosticsAndTotals) {
  ASSERT_TRUE(startWithBoard());
  op->log.clear();
  press(form->restart);
  press(form->disp_totals);
  EXPECT_TRUE(logHas("Reset result=1") && logHas("Display mode result=1")) << op->log;
  op->alerts.clear();
  press(form->ms_save);  // the read copy is current: nothing to send
  EXPECT_TRUE(contains(op->alerts, "Settings did not change")) << firstAlert();

  // Totals: one line per nozzle from the channel copy the settings sequences also use.
  const unsigned nozzles = state->settings.sideCount() * state->settings.nozzleCount();
  ASSERT_GT(nozzles, 0u);
  op->log.clear();
  press(form->show_totals);
  Strings lines = op->logLines();
  ASSERT_EQ(nozzles, lines.size()) << op->log;
  const ChannelRecord& rec = state->channels.channels[0];
  EXPECT_EQ(strprintf("address %u, nozzle 1: %u.%02u", state->settings.readCopy.get(ms::side_addr0),
                      rec.get(ChannelField::f_count), rec.get(ChannelField::f_c_mil)),
            lines[0]);
  EXPECT_EQ(&state->channels, &state->settings.records);

  op->log.clear();
  press(form->read_diagnostics);
  lines = op->logLines();
  ASSERT_EQ(4u + 6u + 12u, lines.size()) << op->log;
  const std::pair<size_t, const char*> shapes[] = {
      {0, R"(\$02 val=\$[0-9A-F]{2} \(\d+\))"},
      {2, R"(\$34 val=\$[0-9A-F]{2} \(\d+\))"},
      {3, R"(\$35 val=\$[0-9A-F]{2} (\$[0-9A-F]{2} ){4})"},
      {4, R"(\$22 val=\$[0-9A-F]{2} \(\d+\))"},
      {9, R"(\$27 val=\$[0-9A-F]{2} \(\d+\))"},
      {21, R"(\[11\]: A= *\d+ B= *\d+ AB= *\d+)"}};
  for (const auto& s : shapes)
    EXPECT_TRUE(std::regex_match(lines[s.first], std::regex(s.second))) << lines[s.first];
  if (std::getenv("KORVANE_SHOTS")) form->show();
  screenshot(form.get(), "main_log_after_diagnostics");
  // At an empty address each group times out; the register is printed in decimal (0x34 is $52).
  form->set_pump_address(kNoBoardAddress);
  op->log.clear();
  press(form->read_diagnostics);
  lines = op->logLines();
  ASSERT_EQ(4u + 1u + 12u, lines.size()) << op->log;
  EXPECT_EQ(
      (Strings{"$02 read error res=-6", "$03 read error res=-6", "$52 read error res=-6",
               "$53 read error res=-6", "$22-$27 read error res=-6", "[0]: A=   0 B=   0 AB=   0"}),
      Strings(lines.begin(), lines.begin() + 6));

  // Get identifier identifies the board again and refreshes the tabs.
  form->set_pump_address(kBoardAddress);
  op->log.clear();
  press(form->get_identifier);
  EXPECT_TRUE(logHas("TRK controller")) << op->log;
  EXPECT_TRUE(settingsTabsActive(true));
}

// Closes the modal alert once it is up, photographing it first (as shot.png) when screenshots
// are asked for.
struct AlertWatch {
  int seen = 0;
  const char* shot = "alert";
};
void closeAlert(void* watch) {
  Fl_Window* m = Fl::modal();
  if (!m) return Fl::repeat_timeout(0.05, closeAlert, watch);
  auto* w = static_cast<AlertWatch*>(watch);
  ++w->seen;
  if (const char* dir = std::getenv("KORVANE_SHOTS")) {
    Fl::flush();
    EXPECT_EQ(0, std::system(strprintf("import -window root '%s/%s.png'", dir, w->shot).c_str()));
  }
  m->hide();
}

TEST_F(MainActions, ValidationFocusesTheControlAtFaultThenAnEditIsSavedAndReadBack) {
  ASSERT_TRUE(startWithBoard());
  form->show();
  pump(0.2);
  traceSent();
  form->main_control<Fl_Int_Input>(MainControl::SideAAddress)->value("40");
  form->main_control<Fl_Int_Input>(MainControl::SideBAddress)->value("2");
  form->tabs->value(form->tab_main);
  op->alerts.clear();
  press(form->ms_save);
  EXPECT_EQ(Strings{"Side addresses must be 1..0x20"}, op->alerts);
  EXPECT_EQ(form->tab_main_settings, form->tabs->value());
  EXPECT_EQ(form->main_control<Fl_Int_Input>(MainControl::SideAAddress), Fl::focus());
  EXPECT_TRUE(sent.empty());

  // The same through the program's own dialog: the alert is on screen (closed by a timer that
  // photographs it first when screenshots are asked for), then the focus moves.
  FltkOperator dialogs(form.get());
  state->session.op = &dialogs;
  form->main_control<Fl_Int_Input>(MainControl::SideAAddress)->value("41");
  form->tabs->value(form->tab_main);
  AlertWatch alert{0, "validation_alert"};
  Fl::add_timeout(0.5, closeAlert, &alert);
  press(form->ms_save);
  Fl::remove_timeout(closeAlert, &alert);
  state->session.op = op;
  EXPECT_EQ(1, alert.seen);
  EXPECT_EQ(form->main_control<Fl_Int_Input>(MainControl::SideAAddress), Fl::focus());
  screenshot(form.get(), "main_settings_after_validation_alert");

  // "Slow finish" (kept in hundreds on the board) edited, saved with a restart, read back.
  form->main_control<Fl_Int_Input>(MainControl::SideAAddress)
      ->value(std::to_string(state->settings.readCopy.get(ms::side_addr0)).c_str());
  const std::string typed =
      std::string(form->main_control<Fl_Int_Input>(MainControl::SlowFinish)->value()) == "700"
          ? "800"
          : "700";
  form->main_control<Fl_Int_Input>(MainControl::SlowFinish)->value(typed.c_str());
  op->alerts.clear();
  press(form->ms_save);
  EXPECT_TRUE(contains(op->alerts, "Write ok")) << firstAlert();
  EXPECT_TRUE(logHas("Reset result=1")) << op->log;
  form->main_control<Fl_Int_Input>(MainControl::SlowFinish)->value("0");
  press(form->ms_read);
  EXPECT_EQ(typed, form->main_control<Fl_Int_Input>(MainControl::SlowFinish)->value());
  UTRKDevice& dev = *state->dev;
  uint8_t onBoard[kMainSettingsSize] = {};
  ASSERT_EQ(kResultDone, pollRequest(dev, [&] {
              return dev.readBlock(kMainSettingsAddress, kBankData, kMainSettingsSize, onBoard,
                                   kCheckCrc, 0);
            }));
  EXPECT_TRUE(std::equal(onBoard, onBoard + kMainSettingsSize, state->settings.readCopy.data()));
}

// The price commands in what the tool sent: "address/nozzle:price bytes 2..4".
Strings priceCommands(const std::vector<uint8_t>& sent) {
  Strings out;
  for (size_t i = 0; i + 12 <= sent.size(); ++i) {
    const uint8_t *h = &sent[i], *b = h + 4;
    if (h[0] != 0x60 || (h[2] & 0xF0) != 0x50 || frameChecksum(h, 3) != h[3] ||
        frameChecksum(b, 7) != b[7])
      continue;
    out.push_back(strprintf("%d/%d:%02X%02X.%02X", h[1], h[2] & 0x0F, b[2], b[3], b[4]));
  }
  return out;
}

TEST_F(MainActions, TabsReadTheirRecordsAndTheLoadTabCommandsReachBothSides) {
  ASSERT_TRUE(startWithBoard());
  showTab(form->tab_sides);
  const int shown = shownMeterRows(state->settings);
  ASSERT_GT(shown, 0);
  EXPECT_TRUE(form->meter_type[0]->visible());
  if (shown < kMeterRows) {
    EXPECT_FALSE(form->meter_type[shown]->visible());
  }
  EXPECT_STRNE("Meter 1 type", form->meter_type[0]->label());  // relabelled with the side letter

  showTab(form->tab_load);
  EXPECT_NE(std::string::npos, std::string(form->counters->value()).find("Side 1"))
      << form->counters->value();
  EXPECT_EQ(state->settings.readCopy.bytes[3], state->monitor.monitorAddress);  // follows side A
  for (int i = 0; i < 60 && !*form->state_field->value(); ++i) Fl::wait(0.02);
  EXPECT_STREQ("Free", form->state_field->value());

  // "SIP set address" with a nozzle up on each side: refused before any request.
  traceSent();
  state->monitor.ioBits[0] = 0x01;
  state->monitor.ioBits[1] = 0x04;
  op->alerts.clear();
  press(form->sip_set_address);
  EXPECT_EQ(
      (Strings{"Set the desired meter's switch to 'calibrate'.\nTake the corresponding nozzle out",
               "No nozzles (or more than 1) were taken out"}),
      op->alerts);
  EXPECT_TRUE(sent.empty());
  press(form->sip_diag);
  const std::string diag = form->sip_diag_text->value();
  if (diag != "Read error") {
    EXPECT_EQ(0u, diag.rfind("0 - ", 0)) << diag;
    EXPECT_EQ(12, std::count(diag.begin(), diag.end(), '\n')) << diag;
  }

  // "Test prices" with 3 nozzles goes to both sides of a two-sided board (side B silent: no
  // message), then the tab's own side and nozzle are followed again.
  MainSettings& rc = state->settings.readCopy;
  rc.set(ms::side_count, 2);
  rc.set(ms::noz_count, 3);
  rc.set(ms::side_addr0, kBoardAddress);
  rc.set(ms::side_addr1, kNoBoardAddress);
  form->load_side_a->setonly();
  form->load_nozzle->value(1);
  sent.clear();
  op->alerts.clear();
  press(form->test_prices);
  EXPECT_EQ((Strings{"3/1:0001.00", "3/2:0002.00", "3/3:0003.00", "9/1:0011.00", "9/2:0022.00",
                     "9/3:0033.00"}),
            priceCommands(sent));
  EXPECT_TRUE(op->alerts.empty()) << firstAlert();
  EXPECT_EQ(kBoardAddress, state->monitor.monitorAddress);
  EXPECT_EQ(2, state->monitor.nozzle);
  rc.set(ms::noz_count, 0);
  sent.clear();
  press(form->test_prices);
  EXPECT_TRUE(sent.empty());
  showTab(form->tab_main);
}

TEST_F(MainActions, MonitorTimerPendsOnlyWhileLoadIsInFront) {
  ASSERT_TRUE(startWithBoard());
  EXPECT_FALSE(form->monitor_timer_pending());
  showTab(form->tab_load);
  pump(0.3);
  EXPECT_TRUE(form->monitor_timer_pending());
  // Another action or a fuelling command: the monitor is idle for it and goes on after.
  press(form->restart);
  EXPECT_EQ(kMonitorIdle, state->monitor.monitorState);
  EXPECT_TRUE(form->monitor_timer_pending());
  form->price_input->value("12.30");
  press(form->set_price);
  EXPECT_TRUE(form->monitor_timer_pending());
  pump(0.2);
  // Leaving the tab stops it between two exchanges, without another cycle.
  showTab(form->tab_main);
  EXPECT_FALSE(form->monitor_timer_pending());
  EXPECT_EQ(kMonitorIdle, state->monitor.monitorState);
  traceSent();
  pump(0.3);
  EXPECT_TRUE(sent.empty());

  // The channel window claims the bus the same way.
  showTab(form->tab_load);
  pump(0.2);
  xChanForm chan(811, 568, "Channel settings");
  link_windows(form.get(), &chan, nullptr);
  op->alerts.clear();
  chan.open();
  for (int i = 0; i < 20; ++i) {
    Fl::wait(0.01);
    chan.load_channel();
    ASSERT_EQ(kMonitorIdle, state->monitor.monitorState);
    ASSERT_TRUE(form->monitor_timer_pending());
  }
  EXPECT_TRUE(op->alerts.empty()) << firstAlert();
  chan.hide();
  // A function key while "Load" is in front: the main tab comes up and the monitor stops.
  connect_shortcuts(form.get(), nullptr);
  EXPECT_EQ(1, handle_shortcut_key(FL_F + kBoardAddress, 0));
  EXPECT_EQ(form->tab_main, form->tabs->value());
  EXPECT_FALSE(form->monitor_timer_pending());
}

constexpr uint32_t kDeliveryTimeoutMs = 15000;  // 5 kg at the simulator's flow, with room to spare

TEST_F(MainActions, DeliveryOnAMassBoardIsFollowedFromLoadToFinished) {
  ASSERT_TRUE(startWithBoard({"--board", "3:$", "--flow", "120"}));
  ASSERT_EQ('$', state->session.kind);
  form->show();
  showTab(form->tab_load);
  const std::string counters = form->counters->value();
  EXPECT_TRUE(counters.find(" kg\n") != std::string::npos &&
              counters.find(" rub\n") != std::string::npos)
      << counters;
  form->volume_input->value("5.00");
  op->alerts.clear();
  press(form->load_volume);
  ASSERT_EQ(Strings{"Ok"}, op->alerts);
  bool sawLoading = false, shot = false;
  std::string performance;
  for (const uint32_t until = nowMs() + kDeliveryTimeoutMs; !deadlineReached(until);) {
    Fl::wait(0.02);
    const std::string s = form->state_field->value();
    if (s.find("Finished") != std::string::npos) break;
    if (s.find("Loading") == std::string::npos) continue;
    sawLoading = true;
    if (*form->performance_field->value()) performance = form->performance_field->value();
    if (!shot && !performance.empty() && s.rfind("0001", 0) == 0) {
      screenshot(form.get(), "load_tab_during_delivery");
      shot = true;
    }
  }
  EXPECT_TRUE(sawLoading);
  EXPECT_STREQ("0005.00 Finished", form->state_field->value());
  EXPECT_EQ(0u, performance.rfind("mass flow ", 0)) << performance;
  showTab(form->tab_main);
}

TEST_F(MainActions, SearchPumpsKeepsTheBusAndTheWindowAlive) {
  WatchingOperator& watch = useOperator<WatchingOperator>();
  ASSERT_TRUE(startWithBoard());
  connect_shortcuts(form.get(), nullptr);
  int repaints = 0;
  watch.duringRepaint = [&] {
    if (repaints++ != 5) return;
    // The engineer clicks "Load" and presses F5 while the scan runs: neither happens.
    showTab(form->tab_load);
    handle_shortcut_key(FL_F + 5, 0);
  };
  form->show();
  op->log.clear();
  press(form->search_pumps);
  EXPECT_EQ(33, watch.repaints);  // once before the first address, then after each one
  EXPECT_EQ(33, watch.inactiveButton);
  EXPECT_EQ(33, watch.busy);
  const Strings lines = op->logLines();
  ASSERT_EQ(32u, lines.size()) << op->log;
  EXPECT_EQ("Pump 01 not found", lines[0]);
  EXPECT_EQ("Pump 03 found", lines[2].substr(0, 13)) << lines[2];
  EXPECT_EQ("Pump 32 not found", lines[31]);
  EXPECT_TRUE(form->search_pumps->active());
  EXPECT_FALSE(form->busy());
  EXPECT_EQ(form->tab_main, form->tabs->value());
  EXPECT_FALSE(form->monitor_timer_pending());
  EXPECT_EQ(kBoardAddress, state->session.pumpAddress);
  EXPECT_STREQ("Pump address 3", form->address_box->label());
  screenshot(form.get(), "main_log_after_search_pumps");
}

TEST_F(MainActions, FirmwareUpdateFromTheWindowLogsItsProgress) {
  WatchingOperator& watch = useOperator<WatchingOperator>();
  const std::string outPath = testsupport::makeTempDir() + "/received.bin";
  ASSERT_TRUE(
      startWithBoard({"--board", "3", "--text", "TRK boot loader", "--image-out", outPath}));
  ASSERT_TRUE(state->session.bootMode);
  std::vector<uint8_t> image(3 * kImageRecordBytes);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  const std::string imagePath = dir_ + "/pcb_m7_01.bin";
  testsupport::writeBytes(imagePath, image);
  form->show();
  op->log.clear();
  op->fileAnswers = {imagePath};
  op->confirmAnswers = {true};
  press(form->firmware_update);
  EXPECT_EQ("Start updating?", op->questions.back());
  EXPECT_TRUE(logHas("Writing data...")) << op->log;
  EXPECT_TRUE(logHas("00200")) << op->log;  // the offset of the third block
  EXPECT_TRUE(logHas("Finished. Returning to a normal mode")) << op->log;
  EXPECT_EQ("OK", op->logLines().back()) << op->log;
  EXPECT_GT(watch.busy, 3);  // repainted while it ran, bus kept
  EXPECT_FALSE(form->busy());
  screenshot(form.get(), "main_log_after_firmware_update");
  std::vector<uint8_t> got;
  for (int i = 0; i < 100 && got.size() < image.size(); ++i) {
    pump(0.03);
    got = testsupport::readBytes(outPath);
  }
  ASSERT_GE(got.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
}

TEST_F(MainActions, ExtendedUpdateChangesNothingUntilTheUpdateStarts) {
  ASSERT_TRUE(startWithBoard());
  form->set_pump_address(kNoBoardAddress);
  op->textAnswers = {"5"};  // nobody there: nothing changes
  op->alerts.clear();
  press(form->ext_firmware_update);
  EXPECT_EQ(Strings{"No connection"}, op->alerts);
  EXPECT_EQ(kNoBoardAddress, state->session.pumpAddress);
  EXPECT_EQ(kNoBoardAddress, state->dev->address);
  // The board at 3: its text is logged and the chooser offers the files of a '#' board; the
  // chooser cancelled, the banner, the stored address and the handle stay where they were.
  op->textAnswers = {"3"};
  op->log.clear();
  op->prompts.clear();
  press(form->ext_firmware_update);
  EXPECT_TRUE(logHas("TRK controller")) << op->log;
  EXPECT_TRUE(contains(op->prompts, "Select a file"));
  EXPECT_EQ(kNoBoardAddress, state->session.pumpAddress);
  EXPECT_EQ(kNoBoardAddress, state->dev->address);
  EXPECT_STREQ("Pump address 9", form->address_box->label());
}

TEST_F(MainActions, PasswordChangeButtonsSetTheBoardsPasswords) {
  ASSERT_TRUE(startWithBoard());
  // No password set yet: no log-in asked; the refresh shows the password as set. The
  // calibration password then logs in with the one just set, without a prompt.
  const std::pair<Fl_Input*, Fl_Widget*> changes[] = {
      {form->admin_password, form->admin_password_change},
      {form->calib_password, form->calib_password_change}};
  for (const auto& c : changes) {
    SCOPED_TRACE(c.second->label());
    c.first->value(c.first == form->admin_password ? "4321" : "1111");
    op->alerts.clear();
    op->prompts.clear();
    press(c.second);
    EXPECT_EQ(Strings{"Ok"}, op->alerts);
    EXPECT_TRUE(op->prompts.empty());
    EXPECT_STREQ("****", c.first->value());
  }
  // A new session must log in: a wrong password is refused by the board.
  op->passwordAnswers = {"1234"};
  press(form->get_identifier);
  form->admin_password->value("5555");
  op->alerts.clear();
  press(form->admin_password_change);
  EXPECT_EQ("Wrong password", firstAlert());
}

TEST_F(MainActions, FactorySettingsButtonOpensTheLinkedWindowAndItsPresetUpdatesTheMainWindow) {
  ASSERT_TRUE(startWithBoard());
  xFactorySet factory(707, 377, "Factory settings");
  link_windows(form.get(), nullptr, &factory);
  press(form->factory_settings);
  EXPECT_TRUE(factory.shown());
  EXPECT_STREQ("1", factory.side_a_address->value());
  factory.side_a_address->value(std::to_string(kBoardAddress).c_str());
  factory.pump_type->value(kPumpShelf);
  factory.pump_type->do_callback();
  factory.nozzle_count->value(2);
  factory.nozzle_count->do_callback();
  op->alerts.clear();
  op->log.clear();
  op->confirmAnswers = {true};  // the preset clears the totals first
  factory.apply_button->do_callback();
  EXPECT_TRUE(contains(op->alerts, "All ok")) << firstAlert();
  // The preset restarted and identified the board (the log starts again with its text): the
  // main window shows the new record.
  EXPECT_EQ(0u, op->log.rfind("TRK controller", 0)) << op->log;
  EXPECT_EQ(3u, state->settings.nozzleCount());
  EXPECT_EQ(2, form->main_control<Fl_Choice>(MainControl::NozzleCount)->value());
  EXPECT_TRUE(settingsTabsActive(true));
  factory.hide();
}

// What the window writes comes from the board it serves: after a scan (the main copy
// cleared) the export writes no file; after another board is identified the Extra tab saves
// nothing until that board's record was read.
TEST_F(MainActions, ExportAndExtraSaveWriteOnlyWhatWasReadFromTheBoardServed) {
  ASSERT_TRUE(startWithBoard({"--board", "3", "--board", "5"}));
  press(form->search_pumps);
  EXPECT_EQ(kBoardAddress, state->dev->address);  // the handle is back at the banner's board
  op->alerts.clear();
  op->fileAnswers = {dir_ + "/after_scan"};
  press(form->read_image);
  EXPECT_EQ(Strings{"Please read device id first"}, op->alerts);
  EXPECT_EQ("", testsupport::readText(dir_ + "/after_scan.json"));
  press(form->get_identifier);
  op->alerts.clear();
  op->fileAnswers = {dir_ + "/board3"};
  press(form->read_image);
  EXPECT_EQ(Strings{"OK"}, op->alerts);
  EXPECT_NE(std::string::npos,
            testsupport::readText(dir_ + "/board3.json").find("\"mass_mult\":\"1\""));

  // Board 3's extra record, read and changed; then board 5 identified from the Extra tab.
  showTab(form->tab_extra);
  auto input = [this](ExtraControl c) { return static_cast<Fl_Input*>(form->extra_control(c)); };
  input(ExtraControl::MassMultiplier)->value("321");
  op->alerts.clear();
  press(form->es_save);
  EXPECT_EQ(Strings{"Write extra settings ok"}, op->alerts);
  form->set_pump_address(5);
  press(form->get_identifier);
  ASSERT_TRUE(settingsTabsActive(true));
  input(ExtraControl::FailFlowRate)->value("42");
  op->alerts.clear();
  traceSent();
  press(form->es_save);
  EXPECT_EQ(Strings{"Extra settings were not read from this board"}, op->alerts);
  EXPECT_FALSE(sentContains({0x60, 0x05, 0x40}));  // no write to board 5
  UTRKDevice& dev = *state->dev;
  uint8_t extra[68] = {};
  ASSERT_EQ(kResultDone, pollRequest(dev, [&] {
              return dev.readBlock(0x5000, kBankData, 60, extra, kCheckCrc, 0);
            }));
  EXPECT_EQ(1, extra[4]);  // board 5 keeps its own mass multiplier
  EXPECT_NE(42, extra[12]);
  // The same through the program's own dialog.
  form->show();
  FltkOperator dialogs(form.get());
  state->session.op = &dialogs;
  AlertWatch alert{0, "extra_save_refused_before_a_read"};
  Fl::add_timeout(0.5, closeAlert, &alert);
  press(form->es_save);
  Fl::remove_timeout(closeAlert, &alert);
  state->session.op = op;
  EXPECT_EQ(1, alert.seen);
  // Once read from board 5 (the tab entered again), its record is saved.
  showTab(form->tab_main);
  showTab(form->tab_extra);
  EXPECT_STREQ("1", input(ExtraControl::MassMultiplier)->value());
  input(ExtraControl::FailFlowRate)->value("42");
  op->alerts.clear();
  press(form->es_save);
  EXPECT_EQ(Strings{"Write extra settings ok"}, op->alerts);
}

// A line rate the port refuses is named in the log with the port and the reason, the port is
// not left open at another rate, and the preferences do not keep the refused rate.
TEST_F(MainActions, ARefusedLineRateIsNamedAndNotKept) {
  const std::string pty = dir_ + "/pty";
  ASSERT_TRUE(sim.start({"--pty", pty, "--board", "3", "--baud", "14400"}));
  const std::string prefs = pty + " 30000000 8 N 1 38400";
  writePrefs(prefs);
  op->textAnswers = {std::to_string(kBoardAddress)};
  build();
  const std::string why =
      "Cannot set 30000000 baud on port \"" + pty + "\": " + std::strerror(EINVAL);
  EXPECT_EQ(0, state->port);
  EXPECT_TRUE(contains(op->logLines(), why)) << op->log;
  EXPECT_TRUE(contains(op->alerts, why)) << firstAlert();
  EXPECT_STREQ("30000000", form->baud_choice->value());  // shown, for the engineer to change

  // The port button with the same rate: refused the same way, nothing saved.
  ASSERT_STREQ(pty.c_str(), form->port_choice->value());  // the stored port, shown
  op->alerts.clear();
  press(form->port_button);
  EXPECT_EQ(0, state->port);
  EXPECT_EQ(Strings{why}, op->alerts);
  EXPECT_EQ(prefs + "\n", testsupport::readText(kPreferencesFile));
  form->show();
  screenshot(form.get(), "main_log_after_refused_line_rate");

  // A rate without a code of its own is set as it is (the simulated board, paced at 14400,
  // drops what arrives at another rate), and kept.
  form->baud_choice->value("14400");
  op->alerts.clear();
  press(form->port_button);
  ASSERT_NE(0, state->port);
  EXPECT_TRUE(op->alerts.empty()) << firstAlert();
  press(form->get_identifier);
  const Strings lines = op->logLines();  // identification starts a new log
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("TRK controller v3.1", lines[0]);
  Preferences saved;
  ASSERT_EQ(1, loadPreferences(&saved));
  EXPECT_EQ(14400, saved.baud);
  EXPECT_EQ(pty, saved.portName);
}

}  // namespace
