// Starts the real korvane-sim binary for a test, waits for its ready line and stops it with
// SIGTERM at the end; also opens the tool's port to it through the port table.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
  bool start(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      std::vector<std::string> all{testsupport::buildDir() + "/korvane-sim"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    fcntl(errFd_, F_SETFL, O_NONBLOCK);
    readyLine = readLine(kSimReadyTimeoutMs);
    return readyLine.rfind("korvane-sim: ", 0) == 0;
  }

  // Exit status after SIGTERM (or -1 when it had to be killed).
  int stop() {
    if (pid_ <= 0) return exitStatus_;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < kSimStopTimeoutMs; waited += 10) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        drainErr();
        close(outFd_);
        close(errFd_);
        return exitStatus_;
      }
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
  }

  // The port of a "listening on HOST:PORT" ready line.
  int listenPort() const {
    const size_t colon = readyLine.rfind(':');
    return colon == std::string::npos ? 0 : std::stoi(readyLine.substr(colon + 1));
  }

  // Next line of standard output within the time-out ("" when none).
  std::string readLine(int timeoutMs) {
    std::string line;
    char c;
    for (;;) {
      pollfd p{outFd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) != 1) return line;
      if (read(outFd_, &c, 1) != 1) return line;
      if (c == '\n') return line;
      line += c;
    }
  }

  // Everything written to standard error so far.
  std::string stderrText() {
    drainErr();
    return err_;
  }

  std::string readyLine;

 private:
  void drainErr() {
    char buf[4096];
    ssize_t r;
    while (errFd_ >= 0 && (r = read(errFd_, buf, sizeof buf)) > 0) err_.append(buf, static_cast<size_t>(r));
  }
  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  int exitStatus_ = -1;
  std::string err_;
};

// Runs korvane-sim --listen 127.0.0.1:0 with args and opens TCPC_ to it.
inline uint16_t openSimPort(SimProcess& sim, const std::vector<std::string>& args) {
  std::vector<std::string> all{"--listen", "127.0.0.1:0"};
  all.insert(all.end(), args.begin(), args.end());
  if (!sim.start(all)) return 0;
  tickStart();
  portTableShutdownForTests();
  portTableInit();
  uint16_t port = 0;
  const std::string name = "TCPC_127.0.0.1:" + std::to_string(sim.listenPort());
  if (portOpen(name.c_str(), &port) != 0) return 0;
  // The client connects on first use; wait for it so the first request is not lost.
  for (int waited = 0; waited < kSimReadyTimeoutMs; waited += 5) {
    portAvailable(port);
    if (portEntry(port)->connected) return port;
    usleep(5000);
  }
  return 0;
}

}  // namespace simtest
