// The X display of a window test program. Under the test command (KORVANE_TEST_OWN_DISPLAY=1,
// set by CTest) every program starts an Xvfb of its own, so no other test's window can land on
// top of a window whose pixels a test reads back. Run by hand, a program uses $DISPLAY. With no
// display to open every test is skipped with a message: the toolkit would end the process at
// its first window, before any fixture could stop the simulator it started.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) break its templates

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/child_process.h"

namespace {

// A loaded machine can take a few seconds to bring an X server up.
constexpr int kServerStartTimeoutMs = 15000;
constexpr int kServerStopTimeoutMs = 3000;
constexpr int kStopPollMs = 10;
const char* const kScreen = "1280x1024x24";

class DisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* own = std::getenv("KORVANE_TEST_OWN_DISPLAY");
    if (own && std::string(own) == "1" && !startServer())
      std::fprintf(stderr, "window tests: could not start an Xvfb of their own; using DISPLAY=%s\n",
                   std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(unset)");
    if (!displayOpens())
      GTEST_SKIP() << "no X display to open (DISPLAY="
                   << (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "unset")
                   << "): every window test of this program is skipped. Run them under ctest "
                      "(each starts its own Xvfb) or under xvfb-run.";
  }
  void TearDown() override { stopServer(); }

 private:
  static bool displayOpens() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XCloseDisplay(d);
    return true;
  }

  // Xvfb picks a free display number and writes it to the pipe once it takes connections.
  // -noreset: the display check is the server's first client, and a server that resets when
  // its last client leaves refuses the window's connection meanwhile.
  bool startServer() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      bench::endWithParent(parent);
      close(fds[0]);
      const int devnull = open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", kScreen, "-nolisten", "tcp",
             "-extension", "GLX", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    if (pid_ > 0) {
      pollfd p{fds[0], POLLIN, 0};
      char c = 0;
      while (poll(&p, 1, kServerStartTimeoutMs) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
      stopServer();
      return false;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
  }

  void stopServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < kServerStopTimeoutMs; waited += kStopPollMs) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      usleep(kStopPollMs * 1000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
};

const ::testing::Environment* const kDisplay =
    ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

}  // namespace
