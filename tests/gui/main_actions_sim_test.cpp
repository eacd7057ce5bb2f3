// The main window's actions against korvane-sim, driven through the controls' callbacks:
// the service commands' records and log lines, the Load tab's commands and its monitor
// timer, settings saved and read back, validation focus, long actions that repaint, the
// firmware update and the factory window reached from the "Factory settings" button.
#include <FL/Fl.H>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "firmware/boot_update.h"
#include "gui/main_sim_fixture.h"
#include "settings/settings_records.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/fltk_operator.h"
#include "ui/shortcuts.h"
#include "ui/window_links.h"

namespace {

using mainsim::contains;
using mainsim::kBoardAddress;
using mainsim::kNoBoardAddress;
using mainsim::pump;
using mainsim::screenshot;

class MainSim : public mainsim::MainSimTest {
 protected:
  uint8_t readRegister(uint32_t reg) {
    uint8_t b = 0;
    UTRKDevice& dev = *state->dev;
    dev.address = kBoardAddress;
    const int r = pollRequest(dev, [&] { return dev.readBlock(reg, kBankService, 1, &b, kCheckNone, 0); });
    return r == kResultDone ? b : 0xEE;
  }
  std::string logOf() const { return op->log; }
};

// ---- "Main": serial number, imitator, diagnostics, totals ----

TEST_F(MainSim, SerialNumberRecordCarriesTheValueItsParityDigitsAndTheText) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  traceSent();
  form->serial_input->value("12345678");
  op->confirmAnswers = {true};
  press(form->enter_serial);
  EXPECT_EQ(op->questions.back(), "Writing cannot be reverted. Are you sure?");
  // The record's first byte travels in the parameter frame (register 0x07, 14 bytes), the
  // other thirteen in the data frame.
  EXPECT_TRUE(sentContains({0x07, 0x4E, 0x0E}));
  EXPECT_TRUE(sentContains({0x61, 0xBC, 0x00, 0x38, 0x4E, '1', '2', '3', '4', '5', '6', '7', '8'}));
  EXPECT_NE(std::string::npos, logOf().find("Serial write result=1")) << logOf();

  // Refused texts: nothing is asked and nothing is written.
  for (const char* bad : {"0001234", "00000999"}) {
    sent.clear();
    op->alerts.clear();
    op->questions.clear();
    form->serial_input->value(bad);
    press(form->enter_serial);
    EXPECT_EQ((std::vector<std::string>{"Please enter correct serial number"}), op->alerts) << bad;
    EXPECT_TRUE(op->questions.empty()) << bad;
    EXPECT_TRUE(sent.empty()) << bad;
  }
  // Answering "No" writes nothing either.
  sent.clear();
  form->serial_input->value("12345678");
  press(form->enter_serial);
  EXPECT_TRUE(sent.empty());
}

TEST_F(MainSim, ImitatorFlipsBit40AndTheButtonFollowsTheKnownByte) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  state->settings.imitatorByte = 0x41;
  state->settings.imitatorActive = true;
  form->imitator->value(1);

  // A failed write: the click turned the light off, the known byte still has 0x40: on again.
  form->set_pump_address(kNoBoardAddress);
  form->imitator->value(0);
  op->log.clear();
  press(form->imitator);
  EXPECT_NE(std::string::npos, logOf().find("Imit result=-6")) << logOf();
  EXPECT_EQ(0x41, state->settings.imitatorByte);
  EXPECT_EQ(1, form->imitator->value());

  // At the board: 0x01 is written and becomes the known byte; the light goes off.
  form->set_pump_address(kBoardAddress);
  form->imitator->value(0);
  op->log.clear();
  press(form->imitator);
  EXPECT_NE(std::string::npos, logOf().find("Imit result=1")) << logOf();
  EXPECT_EQ(0x01, state->settings.imitatorByte);
  EXPECT_EQ(0, form->imitator->value());
  EXPECT_EQ(0x01, readRegister(kRegImitator));
}

TEST_F(MainSim, DiagnosticsLinesAtTheBoardAndTimeOutsAtAnEmptyAddress) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  op->log.clear();
  press(form->read_diagnostics);
  std::vector<std::string> lines = op->logLines();
  ASSERT_EQ(4u + 6u + 12u, lines.size()) << logOf();
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\$02 val=\$[0-9A-F]{2} \(\d+\))"))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\$34 val=\$[0-9A-F]{2} \(\d+\))"))) << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(\$35 val=\$[0-9A-F]{2} (\$[0-9A-F]{2} ){4})"))) << lines[3];
  EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(\$22 val=\$[0-9A-F]{2} \(\d+\))"))) << lines[4];
  EXPECT_TRUE(std::regex_match(lines[9], std::regex(R"(\$27 val=\$[0-9A-F]{2} \(\d+\))"))) << lines[9];
  EXPECT_TRUE(std::regex_match(lines[21], std::regex(R"(\[11\]: A= *\d+ B= *\d+ AB= *\d+)"))) << lines[21];
  if (const char* shots = std::getenv("KORVANE_SHOTS")) {
    (void)shots;
    form->show();
    screenshot(form.get(), "main_log_after_diagnostics");
  }

  form->set_pump_address(kNoBoardAddress);
  op->log.clear();
  press(form->read_diagnostics);
  lines = op->logLines();
  ASSERT_EQ(4u + 1u + 12u, lines.size()) << logOf();
  // The failing register's address is printed in decimal: 0x34 is $52.
  EXPECT_EQ("$02 read error res=-6", lines[0]);
  EXPECT_EQ("$03 read error res=-6", lines[1]);
  EXPECT_EQ("$52 read error res=-6", lines[2]);
  EXPECT_EQ("$53 read error res=-6", lines[3]);
  EXPECT_EQ("$22-$27 read error res=-6", lines[4]);
  EXPECT_EQ("[0]: A=   0 B=   0 AB=   0", lines[5]);
}

TEST_F(MainSim, TotalsListEveryNozzleOfTheBoardFromItsChannelRecords) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  const unsigned sides = state->settings.sideCount(), nozzles = state->settings.nozzleCount();
  ASSERT_GT(sides * nozzles, 0u);
  op->log.clear();
  press(form->show_totals);
  const std::vector<std::string> lines = op->logLines();
  ASSERT_EQ(sides * nozzles, lines.size()) << logOf();
  const unsigned sideA = state->settings.readCopy.get(ms::side_addr0);
  const ChannelRecord& rec = state->channels.channels[0];
  EXPECT_EQ(strprintf("address %u, nozzle 1: %u.%02u", sideA, rec.get(ChannelField::f_count),
                      rec.get(ChannelField::f_c_mil)),
            lines[0]);
  // The totals went into the one channel copy the settings sequences use.
  EXPECT_EQ(&state->channels, &state->settings.records);
}

// ---- "Main settings" ----

TEST_F(MainSim, EditedSettingIsWrittenRestartedAndReadBack) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  // "Slow finish" is kept in hundreds on the board.
  const std::string old = form->slow_finish->value();
  const std::string typed = old == "700" ? "800" : "700";
  form->slow_finish->value(typed.c_str());
  op->alerts.clear();
  press(form->ms_save);
  EXPECT_TRUE(contains(op->alerts, "Write ok")) << (op->alerts.empty() ? "" : op->alerts[0]);
  EXPECT_NE(std::string::npos, logOf().find("Reset result=1")) << logOf();

  form->slow_finish->value("0");
  press(form->ms_read);
  EXPECT_EQ(typed, form->slow_finish->value());
  // What the window shows is the board's record.
  UTRKDevice& dev = *state->dev;
  uint8_t onBoard[kMainSettingsSize] = {};
  ASSERT_EQ(kResultDone, pollRequest(dev, [&] {
              return dev.readBlock(kMainSettingsAddress, kBankData, kMainSettingsSize, onBoard, kCheckCrc, 0);
            }));
  EXPECT_TRUE(std::equal(onBoard, onBoard + kMainSettingsSize, state->settings.readCopy.data()));
}

TEST_F(MainSim, ValidationFailureAlertsAndFocusesTheControlAtFault) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  form->show();
  pump(0.2);
  traceSent();
  form->side_a_address->value("40");
  form->side_b_address->value("2");
  form->tabs->value(form->tab_main);
  op->alerts.clear();
  press(form->ms_save);
  ASSERT_EQ((std::vector<std::string>{"Side addresses must be 1..0x20"}), op->alerts);
  EXPECT_EQ(form->tab_main_settings, form->tabs->value());
  EXPECT_EQ(form->side_a_address, Fl::focus());
  EXPECT_TRUE(sent.empty());

  // The same through the program's own dialogs: the alert is on screen (and closed by a
  // timer that first photographs it when screenshots are asked for), then the focus moves.
  FltkOperator dialogs(form.get());
  state->session.op = &dialogs;
  form->side_a_address->value("41");
  form->tabs->value(form->tab_main);
  int alertsSeen = 0;
  struct Closer {
    int* seen;
    static void fire(void* self) {
      auto* c = static_cast<Closer*>(self);
      if (Fl_Window* m = Fl::modal()) {
        ++*c->seen;
        if (const char* dir = std::getenv("KORVANE_SHOTS")) {
          Fl::flush();
          const std::string cmd = strprintf("import -window root '%s/validation_alert.png'", dir);
          EXPECT_EQ(0, std::system(cmd.c_str()));
        }
        m->hide();
      } else {
        Fl::repeat_timeout(0.05, fire, self);
      }
    }
  } closer{&alertsSeen};
  Fl::add_timeout(0.5, Closer::fire, &closer);
  press(form->ms_save);
  Fl::remove_timeout(Closer::fire, &closer);
  state->session.op = op;
  EXPECT_EQ(1, alertsSeen);
  EXPECT_EQ(form->side_a_address, Fl::focus());
  screenshot(form.get(), "main_settings_after_validation_alert");
}

TEST(MainCoupledValues, StartAndOverfillPairsFollowTheirFields) {
  catalog_unload();
  AppState app;
  ScriptedOperator op;
  app.op = &op;
  xMainForm form(kMainWindowW, kMainWindowH, nullptr, &app);
  auto edit = [&](Fl_Input* in, const char* text) {
    in->value(text);
    in->do_callback();
  };
  edit(form.slow_start, "25500");
  EXPECT_EQ(1, form.immediate_start->value());
  edit(form.slow_start, "100");
  EXPECT_EQ(0, form.immediate_start->value());
  EXPECT_EQ(0, form.start_20ml->value());
  edit(form.slow_start, "0");
  EXPECT_EQ(1, form.start_20ml->value());
  form.immediate_start->do_callback();
  EXPECT_STREQ("25500", form.slow_start->value());
  form.start_20ml->do_callback();
  EXPECT_STREQ("0", form.slow_start->value());

  form.no_counting->do_callback();
  EXPECT_STREQ("2550", form.overfill_buffer->value());
  form.count_3s->do_callback();
  EXPECT_STREQ("2540", form.overfill_buffer->value());
  edit(form.overfill_buffer, "2550");
  EXPECT_EQ(1, form.no_counting->value());
  edit(form.overfill_buffer, "1000");
  EXPECT_EQ(0, form.no_counting->value());
  EXPECT_EQ(0, form.count_3s->value());

  // "Fast tokheim" (item 3) takes items 8 and 10 off; those two may stay together without it.
  form.modes2->checked(8, 1);
  form.modes2->checked(10, 1);
  form.modes2->do_callback();
  EXPECT_EQ(1, form.modes2->checked(8));
  EXPECT_EQ(1, form.modes2->checked(10));
  form.modes2->checked(3, 1);
  form.modes2->do_callback();
  EXPECT_EQ(0, form.modes2->checked(8));
  EXPECT_EQ(0, form.modes2->checked(10));
}

// ---- "Load" ----

// The price commands in what the tool sent: (address, nozzle, price bytes 2..4).
std::vector<std::string> priceCommands(const std::vector<uint8_t>& sent) {
  std::vector<std::string> out;
  for (size_t i = 0; i + 12 <= sent.size(); ++i) {
    const uint8_t* h = &sent[i];
    if (h[0] != 0x60 || (h[2] & 0xF0) != 0x50 || frameChecksum(h, 3) != h[3]) continue;
    const uint8_t* b = h + 4;
    if (frameChecksum(b, 7) != b[7]) continue;
    out.push_back(strprintf("%d/%d:%02X%02X.%02X", h[1], h[2] & 0x0F, b[2], b[3], b[4]));
  }
  return out;
}

TEST_F(MainSim, TestPricesGoToBothSidesThenTheTabsSelectionIsFollowedAgain) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  MainSettings& rc = state->settings.readCopy;
  rc.set(ms::noz_count, 3);
  rc.set(ms::side_addr0, kBoardAddress);
  rc.set(ms::side_addr1, kNoBoardAddress);  // side B does not answer: quiet, so no message
  form->load_side_a->setonly();
  form->load_nozzle->value(1);
  traceSent();
  op->alerts.clear();
  press(form->test_prices);
  EXPECT_EQ((std::vector<std::string>{"3/1:0001.00", "3/2:0002.00", "3/3:0003.00", "9/1:0011.00", "9/2:0022.00",
                                      "9/3:0033.00"}),
            priceCommands(sent));
  EXPECT_TRUE(op->alerts.empty());
  EXPECT_EQ(kBoardAddress, state->monitor.monitorAddress);
  EXPECT_EQ(2, state->monitor.nozzle);

  // No nozzles known: nothing is sent.
  rc.set(ms::noz_count, 0);
  sent.clear();
  press(form->test_prices);
  EXPECT_TRUE(sent.empty());
}

TEST_F(MainSim, SipSetAddressNeedsExactlyOneNozzleOut) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  showTab(form->tab_load);
  traceSent();
  state->monitor.ioBits[0] = 0x01;  // one nozzle up on side A ...
  state->monitor.ioBits[1] = 0x04;  // ... and one on side B
  op->alerts.clear();
  press(form->sip_set_address);
  EXPECT_EQ((std::vector<std::string>{"Set the desired meter's switch to 'calibrate'.\nTake the corresponding nozzle out",
                                      "No nozzles (or more than 1) were taken out"}),
            op->alerts);
  // Nothing went out: no read of register 0x35, and the monitor did not run meanwhile.
  EXPECT_TRUE(sent.empty());
  showTab(form->tab_main);

  // "SIP diag" fills the field with twelve entries.
  showTab(form->tab_load);
  press(form->sip_diag);
  const std::string text = form->sip_diag_text->value();
  if (text != "Read error") {
    EXPECT_EQ(0u, text.rfind("0 - ", 0)) << text;
    EXPECT_EQ(12, std::count(text.begin(), text.end(), '\n')) << text;
  }
  showTab(form->tab_main);
}

TEST_F(MainSim, MonitorTimerPendsOnlyWhileLoadIsInFront) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  EXPECT_FALSE(form->monitor_timer_pending());
  showTab(form->tab_load);
  EXPECT_TRUE(form->monitor_timer_pending());
  pump(0.3);
  EXPECT_TRUE(form->monitor_timer_pending());

  // Another action while "Load" is in front: the monitor is idle when it starts and goes on.
  press(form->restart);
  EXPECT_EQ(kMonitorIdle, state->monitor.monitorState);
  EXPECT_TRUE(form->monitor_timer_pending());
  // A fuelling command pauses and re-arms it.
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

  // The channel window claims the bus the same way: the monitor is idle for its read.
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
  EXPECT_TRUE(op->alerts.empty()) << op->alerts[0];
  chan.hide();

  // A function key while "Load" is in front: the main tab comes up and the monitor stops.
  showTab(form->tab_load);
  pump(0.2);
  connect_shortcuts(form.get(), nullptr);
  EXPECT_EQ(1, handle_shortcut_key(FL_F + kBoardAddress, 0));
  EXPECT_EQ(form->tab_main, form->tabs->value());
  EXPECT_FALSE(form->monitor_timer_pending());
  set_shortcut_hooks(ShortcutHooks{});
}

TEST_F(MainSim, DeliveryOnAMassBoardIsFollowedToFinished) {
  if (!startWithBoard({"--board", "3:$", "--flow", "120"})) GTEST_SKIP() << "simulator not available";
  ASSERT_EQ('$', state->session.kind);
  form->show();
  showTab(form->tab_load);
  const std::string counters = form->counters->value();
  EXPECT_NE(std::string::npos, counters.find(" kg\n")) << counters;
  EXPECT_NE(std::string::npos, counters.find(" rub\n")) << counters;

  form->volume_input->value("5.00");
  op->alerts.clear();
  press(form->load_volume);
  ASSERT_EQ((std::vector<std::string>{"Ok"}), op->alerts);
  bool sawLoading = false, shot = false;
  std::string performance;
  const uint32_t until = nowMs() + 15000;
  while (!deadlineReached(until)) {
    Fl::wait(0.02);
    const std::string s = form->state_field->value();
    if (s.find("Loading") != std::string::npos) {
      sawLoading = true;
      if (*form->performance_field->value()) performance = form->performance_field->value();
      if (!shot && !performance.empty() && s.rfind("0001", 0) == 0) {
        screenshot(form.get(), "load_tab_during_delivery");
        shot = true;
      }
    }
    if (s.find("Finished") != std::string::npos) break;
  }
  EXPECT_TRUE(sawLoading);
  EXPECT_EQ("0005.00 Finished", std::string(form->state_field->value()));
  EXPECT_EQ(0u, performance.rfind("mass flow ", 0)) << performance;
  showTab(form->tab_main);
}

// ---- long actions ----

// Looks at the window each time the action lets it repaint.
class WatchingOperator : public mainsim::WindowLogOperator {
 public:
  int inactiveButton = 0, busy = 0, waitCursor = 0;
  std::function<void()> duringRepaint;
  void repaint() override {
    WindowLogOperator::repaint();
    if (!form) return;
    if (!form->search_pumps->active()) ++inactiveButton;
    if (form->busy()) ++busy;
    if (duringRepaint) duringRepaint();
  }
};

TEST_F(MainSim, SearchPumpsKeepsTheBusAndTheWindowAlive) {
  // Owned by the fixture: TearDown still clears its form after the test body returns.
  ownOp = std::make_unique<WatchingOperator>();
  WatchingOperator& watch = static_cast<WatchingOperator&>(*ownOp);
  op = &watch;
  state->op = op;
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  connect_shortcuts(form.get(), nullptr);
  int clicks = 0;
  watch.duringRepaint = [&] {
    if (clicks++ != 5) return;
    // The engineer clicks "Load" and presses F5 while the scan runs: neither happens.
    form->tabs->value(form->tab_load);
    form->tabs->do_callback();
    handle_shortcut_key(FL_F + 5, 0);
  };
  form->show();
  op->log.clear();
  press(form->search_pumps);
  EXPECT_EQ(33, watch.repaints);  // once before the first address, then after each one
  EXPECT_EQ(33, watch.inactiveButton);
  EXPECT_EQ(33, watch.busy);
  EXPECT_NE(std::string::npos, op->log.find("Pump 03 found")) << op->log;
  EXPECT_EQ(32u, op->logLines().size());
  EXPECT_TRUE(form->search_pumps->active());
  EXPECT_FALSE(form->busy());
  EXPECT_EQ(form->tab_main, form->tabs->value());
  EXPECT_FALSE(form->monitor_timer_pending());
  EXPECT_EQ(kBoardAddress, state->session.pumpAddress);
  EXPECT_STREQ("Pump address 3", form->address_box->label());
  screenshot(form.get(), "main_log_after_search_pumps");
  set_shortcut_hooks(ShortcutHooks{});
}

TEST_F(MainSim, FirmwareUpdateFromTheWindowLogsItsProgress) {
  ownOp = std::make_unique<WatchingOperator>();
  WatchingOperator& watch = static_cast<WatchingOperator&>(*ownOp);
  op = &watch;
  state->op = op;
  const std::string outPath = testsupport::makeTempDir() + "/received.bin";
  if (!startWithBoard({"--board", "3", "--text", "TRK boot loader", "--image-out", outPath}))
    GTEST_SKIP() << "simulator not available";
  ASSERT_TRUE(state->session.bootMode);
  std::vector<uint8_t> image(3 * kImageRecordBytes);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  const std::string imagePath = dir_ + "/pcb_m7_01.bin";
  std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());

  form->show();
  op->log.clear();
  op->fileAnswers = {imagePath};
  op->confirmAnswers = {true};
  press(form->firmware_update);
  EXPECT_EQ("Start updating?", op->questions.back());
  EXPECT_NE(std::string::npos, op->log.find("Writing data...")) << op->log;
  EXPECT_NE(std::string::npos, op->log.find("00200")) << op->log;  // the offset of the third block
  EXPECT_NE(std::string::npos, op->log.find("Finished. Returning to a normal mode")) << op->log;
  EXPECT_EQ("OK", op->logLines().back()) << op->log;
  EXPECT_GT(watch.busy, 3);  // repainted while it ran, bus kept
  EXPECT_FALSE(form->busy());
  screenshot(form.get(), "main_log_after_firmware_update");

  // The board received the image.
  std::vector<uint8_t> got;
  for (int i = 0; i < 100 && got.size() < image.size(); ++i) {
    pump(0.03);
    std::ifstream f(outPath, std::ios::binary);
    got.assign(std::istreambuf_iterator<char>(f), {});
  }
  ASSERT_GE(got.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
}

TEST_F(MainSim, ExtendedUpdateTakesTheTargetAsPumpAddressAndRestoresTheHandle) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  form->set_pump_address(kNoBoardAddress);
  // Nobody at 5: "No connection", nothing changes.
  op->textAnswers = {"5"};
  op->alerts.clear();
  press(form->ext_firmware_update);
  EXPECT_EQ((std::vector<std::string>{"No connection"}), op->alerts);
  EXPECT_EQ(kNoBoardAddress, state->session.pumpAddress);
  EXPECT_EQ(kNoBoardAddress, state->dev->address);

  // The board at 3 (typed in hex): its text is logged, it becomes the pump address, the
  // handle keeps the old one, and the chooser offers the files of a '#' board.
  op->textAnswers = {"3"};
  op->log.clear();
  op->prompts.clear();
  press(form->ext_firmware_update);
  EXPECT_NE(std::string::npos, op->log.find("TRK controller")) << op->log;
  EXPECT_TRUE(contains(op->prompts, "Select a file"));
  EXPECT_EQ(kBoardAddress, state->session.pumpAddress);
  EXPECT_EQ(kNoBoardAddress, state->dev->address);
  EXPECT_STREQ("Pump address 3", form->address_box->label());
}

// ---- passwords and the factory window ----

TEST_F(MainSim, PasswordChangeButtonsSetTheBoardsPasswords) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
  form->admin_password->value("12a");
  op->alerts.clear();
  press(form->admin_password_change);
  EXPECT_EQ((std::vector<std::string>{"Password must be between 0000 and 9999"}), op->alerts);

  // No password set yet: no log-in asked; the refresh shows the password as set.
  form->admin_password->value("4321");
  op->alerts.clear();
  press(form->admin_password_change);
  EXPECT_EQ((std::vector<std::string>{"Ok"}), op->alerts);
  EXPECT_STREQ("****", form->admin_password->value());

  // The calibration password: the admin log-in uses the password just set, without a prompt.
  op->prompts.clear();
  op->alerts.clear();
  form->calib_password->value("1111");
  press(form->calib_password_change);
  EXPECT_EQ((std::vector<std::string>{"Ok"}), op->alerts);
  EXPECT_TRUE(op->prompts.empty());
  EXPECT_STREQ("****", form->calib_password->value());

  // A new tool session must log in: a wrong password is refused by the board.
  op->textAnswers = {"1234"};
  press(form->get_identifier);
  form->admin_password->value("5555");
  op->alerts.clear();
  press(form->admin_password_change);
  ASSERT_FALSE(op->alerts.empty());
  EXPECT_EQ("Wrong password", op->alerts[0]);
}

TEST_F(MainSim, FactorySettingsButtonOpensTheLinkedWindowAndItsPresetUpdatesTheMainWindow) {
  if (!startWithBoard()) GTEST_SKIP() << "simulator not available";
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
  factory.apply_button->do_callback();
  EXPECT_TRUE(contains(op->alerts, "All ok")) << (op->alerts.empty() ? "" : op->alerts[0]);
  // The preset core restarted and identified the board (the identification cleared the log
  // and wrote the board's text): the main window shows the new record.
  EXPECT_EQ(0u, op->log.rfind("TRK controller", 0)) << op->log;
  EXPECT_EQ(3u, state->settings.nozzleCount());
  EXPECT_EQ(2, form->nozzle_count->value());
  EXPECT_TRUE(form->tab_main_settings->active());
  factory.hide();
  set_shortcut_hooks(ShortcutHooks{});
}

}  // namespace
