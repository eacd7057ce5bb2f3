// Shared by the window tests: the main window built in a temporary folder with the scripted
// operator answering, a korvane-sim board reached through the port table, and PNG screenshots
// of a window when KORVANE_SHOTS names a folder.
#pragma once
#include <gtest/gtest.h>
#include "settings/settings_form.h"  // these two before FLTK's X11 headers, which define None

#include "ui/main_form.h"

#include <FL/Fl.H>
#include <FL/x.H>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/board.h"
#include "settings/preferences.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"
#include "support/test_support.h"
#include "util/catalog.h"

namespace guitest {

constexpr int kBoardAddress = 3;
constexpr int kNoBoardAddress = 9;  // nobody answers there: every request times out

using Strings = std::vector<std::string>;

inline bool contains(const Strings& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}
inline std::string listed(const Strings& v) {
  std::string r;
  for (const auto& s : v) r += "\n  " + s;
  return r;
}

// Lets the toolkit run (timers, drawing) for the given time.
inline void pump(double seconds) {
  const uint32_t end = nowMs() + static_cast<uint32_t>(seconds * 1000);
  while (!deadlineReached(end)) Fl::wait(0.02);
}

// Writes $KORVANE_SHOTS/<name>.png of a shown window (nothing when the variable is unset).
inline void screenshot(Fl_Window* w, const std::string& name) {
  const char* dir = std::getenv("KORVANE_SHOTS");
  if (!dir || !w->shown()) return;
  pump(0.3);
  const std::string cmd = strprintf("import -window 0x%lx '%s/%s.png'",
                                    static_cast<unsigned long>(fl_xid(w)), dir, name.c_str());
  EXPECT_EQ(0, std::system(cmd.c_str())) << cmd;
}

// A korvane-sim board at address 1 for the channel and factory windows: a device handle, a
// board session with the scripted operator, and block reads/writes to check its memory.
class SimBoard {
 public:
  explicit SimBoard(const Strings& extraArgs = {}) {
    port_ = simtest::openSimPort(sim_, extraArgs);
    dev_ = std::make_unique<UTRKDevice>(port_);
    dev_->address = 1;
    session.dev = dev_.get();
    session.op = &op;
    uint8_t id[3];
    ready_ = port_ && pollRequest(*dev_, [&] { return dev_->identify(id, 1); }) == kResultDone;
  }
  ~SimBoard() {
    portSetTrace(nullptr);
    if (port_) portClose(port_);
  }
  bool ready() const { return ready_; }
  UTRKDevice& dev() { return *dev_; }

  int write(uint32_t address, const std::vector<uint8_t>& bytes) {
    UTRKDevice& d = *dev_;
    return pollRequest(
        d, [&] { return d.writeBlock(address, kBankData, bytes.data(), uint8_t(bytes.size())); });
  }
  template <class Record>
  int write(uint32_t address, const Record& r) {
    return write(address, std::vector<uint8_t>(r.bytes.begin(), r.bytes.end()));
  }
  std::vector<uint8_t> read(uint32_t address, uint8_t count) {
    std::vector<uint8_t> out(count);
    UTRKDevice& d = *dev_;
    if (pollRequest(d, [&] {
          return d.readBlock(address, kBankData, count, out.data(), kCheckCrc, 0);
        }) != kResultDone)
      out.clear();
    return out;
  }

  ScriptedOperator op;
  BoardSession session;

 private:
  simtest::SimProcess sim_;
  uint16_t port_ = 0;
  bool ready_ = false;
  std::unique_ptr<UTRKDevice> dev_;
};

// The scripted operator that also writes the log into the window (so screenshots show it).
class WindowLogOperator : public ScriptedOperator {
 public:
  xMainForm* form = nullptr;
  void logLine(const std::string& line) override {
    ScriptedOperator::logLine(line);
    if (form) form->log_line(line.c_str());
  }
  void logAppend(const std::string& text) override {
    ScriptedOperator::logAppend(text);
    if (form) form->log_append(text.c_str());
  }
  void logReplaceTail(size_t count, const std::string& text) override {
    ScriptedOperator::logReplaceTail(count, text);
    if (form) form->log_replace_tail(count, text.c_str());
  }
  void clearLog() override {
    ScriptedOperator::clearLog();
    if (form) form->log_clear();
  }
};

// The main window in a fresh working folder (its own preferences file), English texts.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalog_unload();
    char buf[4096];
    oldDir_ = getcwd(buf, sizeof buf);
    dir_ = testsupport::makeTempDir();
    ASSERT_EQ(0, chdir(dir_.c_str()));
    state = std::make_unique<AppState>();
    state->op = op;
  }
  void TearDown() override {
    portSetTrace(nullptr);
    op->form = nullptr;
    form.reset();
    state.reset();
    sim.stop();
    ASSERT_EQ(0, chdir(oldDir_.c_str()));
  }
  void writePrefs(const std::string& line) { std::ofstream(kPreferencesFile) << line << "\n"; }
  void build() {
    form = std::make_unique<xMainForm>(kMainWindowW, kMainWindowH, nullptr, state.get());
    op->form = form.get();
  }
  // A new window on a new application state (the old preferences file stays).
  void rebuild() {
    op->form = nullptr;
    form.reset();
    state = std::make_unique<AppState>();
    state->op = op;
    build();
  }
  // Starts the simulator (a board at kBoardAddress unless other arguments say otherwise) and
  // builds the window, which identifies the board at start-up.
  bool startWithBoard(const Strings& boardArgs = {"--board", "3"}) {
    Strings args = {"--listen", "127.0.0.1:0"};
    args.insert(args.end(), boardArgs.begin(), boardArgs.end());
    if (!sim.start(args)) return false;
    writePrefs("TCPC_127.0.0.1:" + std::to_string(sim.listenPort()) + " 19200 8 N 1 38400");
    op->textAnswers = {std::to_string(kBoardAddress)};
    build();
    return state->port != 0 && state->session.kind != 0;
  }
  // Uses a watching operator of the test's own (kept by the fixture, TearDown still uses it).
  template <class Op>
  Op& useOperator() {
    auto* o = new Op;
    ownOp.reset(o);
    op = o;
    state->op = op;
    return *o;
  }
  // From now on every byte the tool writes is kept in sent.
  void traceSent() {
    sent.clear();
    portSetTrace([this](uint16_t, bool out, const uint8_t* d, size_t n) {
      if (out) sent.insert(sent.end(), d, d + n);
    });
  }
  bool sentContains(const std::vector<uint8_t>& seq) const {
    return std::search(sent.begin(), sent.end(), seq.begin(), seq.end()) != sent.end();
  }
  void press(Fl_Widget* w) { w->do_callback(); }
  void showTab(Fl_Group* tab) {
    form->tabs->value(tab);
    press(form->tabs);
  }
  bool settingsTabsActive(bool on) const {
    for (Fl_Group* t : {form->tab_main_settings, form->tab_extra, form->tab_sides})
      if ((t->active() != 0) != on) return false;
    return true;
  }
  std::string firstAlert() const { return op->alerts.empty() ? "(no alert)" : op->alerts[0]; }

  std::unique_ptr<WindowLogOperator> ownOp = std::make_unique<WindowLogOperator>();
  WindowLogOperator* op = ownOp.get();
  simtest::SimProcess sim;
  std::unique_ptr<AppState> state;
  std::unique_ptr<xMainForm> form;
  std::vector<uint8_t> sent;
  std::string dir_, oldDir_;
};

}  // namespace guitest
