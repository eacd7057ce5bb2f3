// The one way tests run korvane-sim and korvane-cli: start the simulator with options, wait for
// its ready line, reach it through the port table (TCP or pseudo-terminal), stop it with SIGTERM
// (on Windows with its stop event).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"
#include "support/test_support.h"

namespace simtest {

constexpr int kSimReadyTimeoutMs = 5000;
constexpr int kSimStopTimeoutMs = 3000;

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() { stop(); }

  // Runs korvane-sim with args; true once its ready line ("korvane-sim: ...") was printed.
  bool start(const std::vector<std::string>& args);
  // Exit status after SIGTERM or the stop event (-1 when it had to be killed).
  int stop();
  // The port of a "listening on HOST:PORT" ready line.
  int listenPort() const;
  // Next line of standard output within the time-out ("" when none).
  std::string readLine(int timeoutMs);
  // Everything written to standard error so far.
  std::string stderrText();
  // The simulator's process id while it runs (its process handle on Windows), -1 otherwise.
  intptr_t pid() const { return pid_; }

  std::string readyLine;

 private:
  void drainErr();
  // A process id and pipe descriptors on Linux; process and pipe handles on Windows.
  intptr_t pid_ = -1;
  intptr_t outFd_ = -1, errFd_ = -1;
  int exitStatus_ = -1;
  std::string err_;
};

// Runs korvane-sim --listen 127.0.0.1:0 with args, opens TCPC_ to it on a fresh port table and
// waits until the client is connected. 0 when any step fails.
uint16_t openSimPort(SimProcess& sim, const std::vector<std::string>& args);
// Runs korvane-sim --pty PATH with args and opens PATH as a serial port at baud 8N1.
uint16_t openSimPty(SimProcess& sim, const std::string& path, const std::vector<std::string>& args,
                    uint32_t baud);

// korvane-cli run in a folder of the test (no catalog, no preferences unless written there).
struct CliRun {
  int status = -1;
  std::string out, err;
};
CliRun runCli(const std::string& dir, const std::string& args);

}  // namespace simtest
