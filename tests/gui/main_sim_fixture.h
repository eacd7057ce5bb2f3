// The main window built against a korvane-sim board over TCP, in a temporary working folder
// with its own preferences file, the scripted operator answering every dialog, and a record
// of every byte the tool sends. Shared by the main window's action tests.
#pragma once
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "integration/sim_harness.h"
#include "link/port.h"
#include "link/tick.h"
#include "settings/preferences.h"
#include "support/scripted_operator.h"
#include "support/test_support.h"
#include "ui/catalog.h"
#include "ui/main_form.h"

namespace mainsim {

constexpr int kBoardAddress = 3;
constexpr int kNoBoardAddress = 9;  // nobody answers there: every request times out

inline bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
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
  const std::string cmd = strprintf("import -window 0x%lx '%s/%s.png'", static_cast<unsigned long>(fl_xid(w)), dir,
                                    name.c_str());
  EXPECT_EQ(0, std::system(cmd.c_str())) << cmd;
}

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

class MainSimTest : public ::testing::Test {
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
  // Starts the simulator with a board at kBoardAddress (extra arguments after it) and builds
  // the window, which identifies the board at start-up.
  bool startWithBoard(const std::vector<std::string>& boardArgs = {"--board", "3"}) {
    if (access((testsupport::buildDir() + "/korvane-sim").c_str(), X_OK) != 0) return false;
    std::vector<std::string> args = {"--listen", "127.0.0.1:0"};
    args.insert(args.end(), boardArgs.begin(), boardArgs.end());
    if (!sim.start(args)) return false;
    std::ofstream(kPreferencesFile) << "TCPC_127.0.0.1:" << sim.listenPort() << " 19200 8 N 1 38400\n";
    op->textAnswers = {std::to_string(kBoardAddress)};
    form = std::make_unique<xMainForm>(kMainWindowW, kMainWindowH, nullptr, state.get());
    op->form = form.get();
    return state->port != 0 && state->session.kind != 0;
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

  std::unique_ptr<WindowLogOperator> ownOp = std::make_unique<WindowLogOperator>();
  WindowLogOperator* op = ownOp.get();
  simtest::SimProcess sim;
  std::unique_ptr<AppState> state;
  std::unique_ptr<xMainForm> form;
  std::vector<uint8_t> sent;
  std::string dir_, oldDir_;
};

}  // namespace mainsim
