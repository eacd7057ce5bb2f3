// dispatch_action: what each control of the main window does when it fires. Each action
// runs to its end before returning; the board is reached through the shared procedures of
// protocol/, settings/ and firmware/, the engineer through the Operator.
#include "ui/main_form.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "firmware/boot_update.h"
#include "link/tick.h"
#include "protocol/board_io.h"
#include "protocol/fuelling.h"
#include "settings/service_actions.h"
#include "settings/settings_sequences.h"
#include "ui/factory_form.h"
#include "util/catalog.h"
#include "util/text.h"

namespace {

constexpr uint64_t kMaxTypedAddress = 0xFF;

std::string trimmed(const std::string& t) {
  size_t b = 0, e = t.size();
  while (b < e && (t[b] == ' ' || t[b] == '\t')) ++b;
  while (e > b && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
  return t.substr(b, e - b);
}

constexpr int kIoBitsUsed = 6;

// The start and count radios and the two fields they stand for: what a change of one does
// to the form, and the partners that then show the form's new values.
struct Coupling {
  MainControl control;
  void (*apply)(MainSettingsForm*);
  std::array<MainControl, 2> partners;  // NoControl where there is one only
};
using MC = MainControl;
const Coupling kCouplings[] = {
    {MC::ImmediateStart, onImmediateStartChosen, {MC::SlowStart, MC::NoControl}},
    {MC::Start20ml, onStart20mlChosen, {MC::SlowStart, MC::NoControl}},
    {MC::SlowStart, onSlowStartEdited, {MC::ImmediateStart, MC::Start20ml}},
    {MC::NoCounting, onNoCountingChosen, {MC::OverfillBuffer, MC::NoControl}},
    {MC::Count3Seconds, onCount3SecondsChosen, {MC::OverfillBuffer, MC::NoControl}},
    {MC::OverfillBuffer, onOverfillBufferEdited, {MC::NoCounting, MC::Count3Seconds}},
};

// The side monitor's timer as a toolkit timeout on the GUI thread. Arming drops a pending
// one first, so there is never more than one.
class FltkMonitorTimer : public MonitorTimer {
 public:
  explicit FltkMonitorTimer(SideMonitor* mon) : mon_(mon) {}
  ~FltkMonitorTimer() override { cancel(); }
  void arm(uint32_t delayMs) override {
    Fl::remove_timeout(&FltkMonitorTimer::fire, this);
    Fl::add_timeout(delayMs / 1000.0, &FltkMonitorTimer::fire, this);
  }
  void cancel() override { Fl::remove_timeout(&FltkMonitorTimer::fire, this); }
  bool isArmed() const override {
    return Fl::has_timeout(&FltkMonitorTimer::fire, const_cast<FltkMonitorTimer*>(this)) != 0;
  }

 private:
  static void fire(void* self) { static_cast<FltkMonitorTimer*>(self)->mon_->sideMonitorStep(); }
  SideMonitor* mon_;
};

}  // namespace

// The session's busy mark, with the tab in front kept there and the wait cursor.
class xMainForm::BusyScope {
 public:
  explicit BusyScope(xMainForm* f) : f_(f), busy_(f->app) {
    f_->busy_tab_ = f_->tabs->value();
    f_->cursor(FL_CURSOR_WAIT);
  }
  ~BusyScope() {
    f_->busy_tab_ = nullptr;
    f_->cursor(FL_CURSOR_DEFAULT);
  }

 private:
  xMainForm* f_;
  SessionBusy busy_;
};

bool xMainForm::monitor_timer_pending() const {
  return monitor_timer_ && monitor_timer_->isArmed();
}

bool xMainForm::claim_bus() {
  // Away from "Load" the monitor would only run one more cycle before it stops itself;
  // dropping it now keeps that cycle off the bus during the action.
  return app.claimBus(tabs->value() == tab_load && app.port != 0);
}

bool xMainForm::is_load_control(const Fl_Widget* w) const {
  for (const Fl_Widget* c = w; c; c = c->parent())
    if (c == tab_load) return true;
  return false;
}

void xMainForm::run_bus_scan() {
  BoardSession& s = app.session;
  Operator& op = *app.op;
  BusyScope busy(this);
  search_pumps->deactivate();
  op.repaint();
  scanBus(s);
  search_pumps->activate();
}

void xMainForm::dispatch_action(Fl_Widget* w) {
  if (!w) return;
  // Watching the traffic never uses the bus: it opens during a scan or an update too.
  if (w == traffic_button) return open_traffic_window();
  // While a scan or an update repaints the window, clicks are not actions: the bus is taken.
  if (app.busy) {
    if (w == tabs && busy_tab_) tabs->value(busy_tab_);
    return;
  }
  BoardSession& s = app.session;
  SettingsState& st = app.settings;
  // The last update's result stays in view until the engineer does something else.
  if (w != tabs) hide_firmware_progress();

  // The Load tab's own actions pause the monitor themselves where they use the bus.
  if (w != tabs && !is_load_control(w)) claim_bus();

  // ---- "Main" ----
  if (w == port_button) return toggle_port();
  if (w == get_identifier) {
    app.identifyAndRefresh(s.pumpAddress);
    return;
  }
  if (w == broadcast_search) {
    app.identifyAndRefresh(kBroadcastAddress);
    return;
  }
  if (w == search_pumps) return run_bus_scan();
  if (w == read_diagnostics) return readDiagnostics(s);
  if (w == show_totals) {
    showTotals(s, st);
    return;
  }
  if (w == restart) {
    restartController(s);
    return;
  }
  if (w == controller_clear) {
    controllerClear(s);
    return;
  }
  if (w == disp_standard || w == disp_totals || w == disp_performance || w == disp_test ||
      w == disp_test09) {
    const uint8_t mode = w == disp_standard      ? 0
                         : w == disp_totals      ? 3
                         : w == disp_performance ? 1
                         : w == disp_test        ? 2
                                                 : 11;
    setDisplayMode(s, mode);
    return;
  }
  if (w == imitator) {
    toggleImitator(s, st);
    imitator->value(imitatorOn(st) ? 1 : 0);
    return;
  }
  if (w == enter_serial) {
    writeSerialNumber(s, serial_input->value() ? serial_input->value() : "");
    return;
  }
  if (w == admin_password_change || w == calib_password_change) {
    PasswordField* in = w == admin_password_change ? admin_password : calib_password;
    changePassword(s, st, w == calib_password_change, in->value() ? in->value() : "");
    return;
  }
  if (w == factory_settings) {
    if (auto* f = dynamic_cast<xFactorySet*>(factory_window_)) f->open();
    return;
  }
  if (w == read_image) {
    exportSettings(s, st);
    return;
  }
  if (w == write_image) {
    importSettings(s, st);
    return;
  }
  if (w == firmware_update) return run_firmware_update();
  if (w == ext_firmware_update) return run_extended_firmware_update();

  // ---- the tab set ----
  if (w == tabs) return on_tab_changed();

  // ---- "Main settings" ----
  if (w == ms_read) {
    readMainSettings(s, st);
    return;
  }
  if (w == ms_save) {
    MainControl focus = MainControl::NoControl;
    saveMainSettings(s, st, read_main_form(), &focus);
    if (focus != MainControl::NoControl) focus_main_control(focus);
    return;
  }
  if (on_coupled_control(main_control_of(w))) return;

  // ---- "Extra settings" ----
  if (w == es_read) {
    readExtraSettings(s, st);
    return;
  }
  if (w == es_save) {
    saveExtraSettings(s, st, read_extra_form());
    return;
  }

  // ---- "Side and nozzle settings" ----
  if (w == sn_read) return readSideNozzle(s, st);
  if (w == sn_write) {
    writeSideNozzle(s, st, read_side_nozzle_form());
    return;
  }
  for (int side = 0; side < 2; ++side)
    if (w == sides[side].clear) {
      clearWrongClearCount(s, side);
      return;
    }

  // ---- "Load" ----
  on_load_action(w);
}

bool xMainForm::on_coupled_control(MainControl c) {
  for (const Coupling& k : kCouplings) {
    if (k.control != c) continue;
    MainSettingsForm f = read_main_form();
    k.apply(&f);
    // Only the partners are written back, so the field being typed in keeps its cursor.
    for (MainControl p : k.partners) {
      if (p == MainControl::NoControl) continue;
      if (auto* in = main_control<Fl_Input_>(p)) in->value(f.textOf(p).c_str());
      if (auto* b = main_control<Fl_Button>(p)) b->value(f.onOf(p));
    }
    return true;
  }
  return false;
}

void xMainForm::wire_side_monitor() {
  SideMonitor& mon = app.monitor;
  if (!monitor_timer_) monitor_timer_ = std::make_unique<FltkMonitorTimer>(&mon);
  mon.timer = monitor_timer_.get();
  app.aimSideMonitor();
  mon.view.showState = [this](const std::string& t) { state_field->value(t.c_str()); };
  mon.view.showPerformance = [this](const std::string& t) { performance_field->value(t.c_str()); };
  mon.view.showIndicator = [this](int index, bool on) {
    const int byte = index / 8, bit = index % 8;
    if (byte < 2 && bit < kIoBitsUsed) indicators[byte][bit]->value(on ? 1 : 0);
  };
  mon.view.loadTabCurrent = [this] { return tabs->value() == tab_load && app.port != 0; };
  // The totals change with every delivery: read them again once it has ended, after the
  // monitor's step (the monitor is between exchanges then).
  mon.view.deliveryEnded = [this] { Fl::add_timeout(0, &xMainForm::counters_cb, this); };
}

void xMainForm::counters_cb(void* self) {
  auto* f = static_cast<xMainForm*>(self);
  if (f->app.busy || f->tabs->value() != f->tab_load || !f->app.port) return;
  f->claim_bus();
  f->show_counters();
}

void xMainForm::show_counters() {
  const std::string text = readLoadCounters(app.session, app.settings);
  counters->value(text.c_str());
  counters->position(0);  // the first side's heading in view, not the end of the text
}

void xMainForm::on_tab_changed() {
  // Leaving "Load": the monitor stops now, between two exchanges, not one cycle later.
  claim_bus();
  if (!app.port) return;
  BoardSession& s = app.session;
  SettingsState& st = app.settings;
  Fl_Widget* tab = tabs->value();
  if (tab == tab_sides) {
    readSideNozzle(s, st);
  } else if (tab == tab_extra) {
    readExtraSettings(s, st);
  } else if (tab == tab_load) {
    wire_side_monitor();
    SideMonitor& mon = app.monitor;
    mon.stopRequested = false;
    mon.selectSide(load_side_b->value() != 0);
    show_counters();
    mon.startSideMonitor(load_side_b->value() != 0);
  }
}

void xMainForm::on_load_action(Fl_Widget* w) {
  SideMonitor& mon = app.monitor;
  Operator& op = *app.op;
  if (w == load_side_a || w == load_side_b) {
    wire_side_monitor();
    mon.selectSide(w == load_side_b);
    // A monitor that stopped at a side it could not reach follows the side chosen now.
    if (tabs->value() == tab_load && app.port && !monitor_timer_pending() &&
        mon.monitorState == kMonitorIdle)
      mon.startSideMonitor(w == load_side_b);
    return;
  }
  if (w == load_nozzle) {
    mon.nozzle = static_cast<uint8_t>(load_nozzle->value() < 0 ? 1 : load_nozzle->value() + 1);
    mon.lastStatus = kNoStatusSeen;
    return;
  }
  auto value_of = [](Fl_Input* in) {
    return parseScaledDecimal(in->value() ? in->value() : "", 2);
  };
  if (w == load_volume || w == load_amount || w == fulltank || w == finish || w == suspend ||
      w == continue_ || w == set_price) {
    wire_side_monitor();
    int code = kFuelLoadVolume;
    int64_t value = 0;
    if (w == load_volume)
      value = value_of(volume_input);
    else if (w == load_amount) {
      code = kFuelLoadAmount;
      value = value_of(amount_input);
    } else if (w == fulltank)
      value = kFulltankValue;
    else if (w == finish)
      code = kFuelFinish;
    else if (w == suspend)
      code = kFuelSuspend;
    else if (w == continue_)
      code = kFuelContinue;
    else {
      code = kFuelSetPrice;
      value = value_of(price_input);
    }
    sendFuellingCommand(mon, code, value, false, &op);
    return;
  }
  if (w == test_prices) {
    wire_side_monitor();
    const int nozzles = static_cast<int>(app.settings.nozzleCount());
    if (nozzles == 0) return;
    const uint8_t tabNozzle =
        static_cast<uint8_t>(load_nozzle->value() < 0 ? 1 : load_nozzle->value() + 1);
    sendTestPrices(mon, nozzles, load_side_b->value() != 0, tabNozzle);
    return;
  }
  if (w == sip_diag) {
    wire_side_monitor();
    const std::string refusal = mon.refusal();
    if (!refusal.empty()) {
      sip_diag_text->value(refusal.c_str());
      return;
    }
    mon.pauseSideMonitor();
    std::string text;
    if (readSipDiagnostics(*app.dev, mon.monitorAddress, &text) != kResultDone) {
      sip_diag_text->value(tr("Read error"));
      return;
    }
    sip_diag_text->value(text.c_str());
    sip_diag_text->position(0);  // from the first meter, not scrolled to the end
    return;
  }
  if (w == sip_set_address) {
    wire_side_monitor();
    const std::string refusal = mon.refusal();
    if (!refusal.empty()) {
      op.alert(refusal);
      return;
    }
    op.alert(
        tr("Set the desired meter's switch to 'calibrate'.\nTake the corresponding nozzle out"));
    if (!exactlyOneNozzleOut(mon.ioBits)) {
      op.alert(tr("No nozzles (or more than 1) were taken out"));
      return;
    }
    mon.pauseSideMonitor();
    const SipAddressResult r = exchangeSipAddress(*app.dev, mon.monitorAddress);
    if (r != SipAddressResult::Done) op.alert(tr(sipAddressResultText(r)));
  }
}

void xMainForm::run_firmware_update() {
  Operator& op = *app.op;
  std::string path;
  if (!op.chooseFile(tr("Select a file"), app.firmwareFilter(), false, &path)) return;
  int mode = 0;
  if (own_op_ && app.op == own_op_.get()) {
    // Three answers: No, Yes (the current address) and F0 (a board stuck in its boot loader).
    const int a = fl_choice("%s", tr("No"), tr("Yes"), "F0", tr("Start updating?"));
    mode = a == 1 ? 1 : a == 2 ? 2 : 0;
  } else {
    mode = op.confirm(tr("Start updating?")) ? 1 : 0;
  }
  if (mode == 0) return;
  start_update(path, mode == 2 ? BootTarget::BootLoaderAddress : BootTarget::CurrentAddress,
               app.session.pumpAddress);
}

namespace {

// The engineer's operator during an update, with the progress shown on the window's bar.
class UpdateOperator : public Operator {
 public:
  UpdateOperator(Operator& inner, std::function<void(uint64_t, uint64_t)> onProgress)
      : inner_(inner), onProgress_(std::move(onProgress)) {}
  void alert(const std::string& t) override { inner_.alert(t); }
  bool confirm(const std::string& q) override { return inner_.confirm(q); }
  bool askText(const std::string& p, const std::string& i, std::string* a) override {
    return inner_.askText(p, i, a);
  }
  bool askPassword(const std::string& p, std::string* a) override {
    return inner_.askPassword(p, a);
  }
  bool chooseFile(const std::string& t, const std::string& f, bool s, std::string* p) override {
    return inner_.chooseFile(t, f, s, p);
  }
  void logLine(const std::string& l) override { inner_.logLine(l); }
  void logAppend(const std::string& t) override { inner_.logAppend(t); }
  void logReplaceTail(size_t n, const std::string& t) override { inner_.logReplaceTail(n, t); }
  void clearLog() override { inner_.clearLog(); }
  void repaint() override { inner_.repaint(); }
  void progress(uint64_t done, uint64_t total) override {
    onProgress_(done, total);
    inner_.progress(done, total);
  }

 private:
  Operator& inner_;
  std::function<void(uint64_t, uint64_t)> onProgress_;
};

}  // namespace

void xMainForm::start_update(const std::string& path, BootTarget target, uint8_t address) {
  BusyScope busy(this);
  const auto maxBaud =
      static_cast<uint32_t>(parseLeadingInt(max_baud->value() ? max_baud->value() : ""));
  uint32_t startMs = 0;
  UpdateOperator op(*app.op, [this, &startMs](uint64_t done, uint64_t total) {
    if (done == 0) startMs = nowMs();
    show_firmware_progress(done, total, nowMs() - startMs, false);
  });
  const FirmwareOutcome out = app.updateBoardFirmware(path, target, address, maxBaud, op);
  if (fw_progress->visible()) {
    // The bar keeps the end state in view: complete, or where the transfer stopped.
    show_firmware_progress(fw_done_, fw_total_, nowMs() - startMs, true, out.ok());
  }
}

void xMainForm::show_firmware_progress(uint64_t done, uint64_t total, uint32_t elapsedMs,
                                       bool ended, bool ok) {
  fw_done_ = done;
  fw_total_ = total;
  const int percent = total ? static_cast<int>(done * 100 / total) : 0;
  fw_progress_label_ = strprintf("%d%%", percent);
  fw_progress->value(static_cast<float>(percent));
  fw_progress->copy_label(fw_progress_label_.c_str());
  std::string text = strprintf(tr("%llu of %llu bytes"), static_cast<unsigned long long>(done),
                               static_cast<unsigned long long>(total));
  text += "\n";
  if (ended) {
    text += ok ? tr("Done") : tr("Stopped");
  } else if (done > 0 && done < total) {
    // What is left at the rate seen so far.
    const uint64_t leftMs = static_cast<uint64_t>(elapsedMs) * (total - done) / done;
    const unsigned seconds = static_cast<unsigned>((leftMs + 999) / 1000);
    text += strprintf(tr("%u:%02u left"), seconds / 60, seconds % 60);
  }
  fw_progress_text->copy_label(text.c_str());
  if (!fw_progress->visible()) {
    log_view->resize(log_view->x(), log_view->y(), log_view->w(), kLogShortHeight);
    fw_progress->show();
    fw_progress_text->show();
    tab_main->redraw();
  }
  fw_progress->redraw();
  // The text box has no background of its own: the place it takes is drawn again.
  damage(FL_DAMAGE_ALL, fw_progress_text->x(), fw_progress_text->y(), fw_progress_text->w(),
         fw_progress_text->h());
}

void xMainForm::hide_firmware_progress() {
  if (!fw_progress->visible()) return;
  fw_progress->hide();
  fw_progress_text->hide();
  log_view->resize(log_view->x(), log_view->y(), log_view->w(), kLogFullHeight);
  tab_main->redraw();
}

void xMainForm::run_extended_firmware_update() {
  Operator& op = *app.op;
  std::string typed;
  if (!op.askText(tr("Enter device address"), "", &typed)) return;
  // Read like every other address the engineer types: decimal, or hexadecimal after 0x.
  uint64_t value = 0;
  if (!parseNumberText(trimmed(typed), kMaxTypedAddress, &value) || value == 0) {
    op.alert(tr("Enter a bus address from 1 to 255 (decimal, or hexadecimal after 0x)"));
    return;
  }
  const uint8_t target = static_cast<uint8_t>(value);
  int kind = 0;
  if (app.queryUpdateTarget(target, &kind) != kResultDone) {
    op.alert(tr("No connection"));
    return;
  }
  const char* filter = deviceFirmwareFilter(kind);
  if (!filter) {
    op.alert(tr("Unsupported device"));
    return;
  }
  std::string path;
  if (!op.chooseFile(tr("Select a file"), filter, false, &path)) return;
  if (!op.confirm(tr("Start updating?"))) return;
  start_update(path, BootTarget::CurrentAddress, target);
  // From here on the tool serves the board it updated: "Leave bootloader", "Get identifier"
  // and every other action go there, and the banner says so.
  app.serveBoardAt(target);
}

void xMainForm::on_leave_bootloader() {
  if (!claim_bus()) return;
  BusyScope busy(this);
  app.leaveBootLoader(app.session.pumpAddress);
}
