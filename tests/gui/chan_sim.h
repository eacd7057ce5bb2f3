// Shared by the channel and factory window tests: runs korvane-sim as a child process on a
// free TCP port, opens the tool's port to it and gives a device handle and a board session
// at address 1. Also takes PNG screenshots of a window when KORVANE_SHOTS names a folder.
#pragma once
#include <gtest/gtest.h>
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/board.h"
#include "protocol/utrk_device.h"
#include "support/scripted_operator.h"
#include "support/test_support.h"

namespace chantest {

constexpr int kSimStartAttempts = 50;
constexpr uint32_t kSimStartPauseMs = 50;

class SimBoard {
 public:
  explicit SimBoard(std::vector<std::string> extraArgs = {}) {
    tcp_ = testsupport::freeTcpPort();
    std::string exe = testsupport::buildDir() + "/korvane-sim";
    std::vector<std::string> args = {exe, "--listen", "127.0.0.1:" + std::to_string(tcp_)};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    tickStart();
    portTableInit();
    std::string name = "TCPC_127.0.0.1:" + std::to_string(tcp_);
    portOpen(name.c_str(), &port_);
    dev_ = std::make_unique<UTRKDevice>(port_);
    dev_->address = 1;
    session.dev = dev_.get();
    session.op = &op;
    // The simulator needs a moment to listen; the client reconnects on its own.
    for (int i = 0; i < kSimStartAttempts && !ready_; ++i) {
      uint8_t id[3];
      ready_ = pollRequest(*dev_, [&] { return dev_->identify(id, 1); }) == kResultDone;
      if (!ready_) tickSleepMs(kSimStartPauseMs);
    }
  }
  ~SimBoard() {
    if (port_) portClose(port_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ready() const { return ready_; }
  UTRKDevice& dev() { return *dev_; }
  uint16_t port() const { return port_; }

  int write(uint32_t address, const std::vector<uint8_t>& bytes) {
    return pollRequest(*dev_, [&] { return dev_->writeBlock(address, kBankData, bytes.data(), uint8_t(bytes.size())); });
  }
  std::vector<uint8_t> read(uint32_t address, uint8_t count, uint8_t bank = kBankData) {
    std::vector<uint8_t> out(count);
    int r = pollRequest(*dev_, [&] { return dev_->readBlock(address, bank, count, out.data(), kCheckCrc, 0); });
    if (r != kResultDone) out.clear();
    return out;
  }

  ScriptedOperator op;
  BoardSession session;

 private:
  int tcp_ = 0;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  bool ready_ = false;
  std::unique_ptr<UTRKDevice> dev_;
};

// Lets the window map and draw.
inline void pump(double seconds) {
  uint32_t end = nowMs() + uint32_t(seconds * 1000);
  while (!deadlineReached(end)) Fl::wait(0.02);
}

// Writes a PNG of the window into $KORVANE_SHOTS/<name>.png (nothing when unset).
inline void screenshot(Fl_Window* w, const std::string& name) {
  const char* dir = std::getenv("KORVANE_SHOTS");
  if (!dir || !w->shown()) return;
  pump(0.3);
  char cmd[512];
  std::snprintf(cmd, sizeof cmd, "import -window 0x%lx '%s/%s.png'", (unsigned long)fl_xid(w), dir, name.c_str());
  EXPECT_EQ(std::system(cmd), 0) << cmd;
}

}  // namespace chantest
