// Nothing a test starts outlives it: a simulator ends with the process that started it however
// that process ends, and a window test program run without a display skips its tests instead of
// failing (the toolkit would end the process at its first window, leaving its simulator behind).
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSimEndTimeoutMs = 3000;

// Ids of the running processes whose environment holds the text (the mark of one run).
std::vector<int> processesMarked(const std::string& mark) {
  std::vector<int> found;
  DIR* proc = opendir("/proc");
  if (!proc) return found;
  while (dirent* d = readdir(proc)) {
    const int pid = std::atoi(d->d_name);
    if (pid <= 0) continue;
    const std::string env = testsupport::readText(std::string("/proc/") + d->d_name + "/environ");
    if (env.find(mark) != std::string::npos) found.push_back(pid);
  }
  closedir(proc);
  return found;
}

// Waits for a child of this process to end; false (and the child is killed) when it does not.
bool endsWithin(pid_t pid, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  while (Clock::now() < until) {
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

TEST(SimLifetime, ASimulatorEndsWithTheProcessThatStartedItHoweverThatEnds) {
  // Orphans are handed to this process, so it sees the simulator end (and reaps it).
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  for (const bool killed : {true, false}) {
    SCOPED_TRACE(killed ? "the parent is killed" : "the parent calls exit() mid-test");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
      close(fds[0]);
      simtest::SimProcess sim;
      const pid_t simPid =
          sim.start({"--listen", "127.0.0.1:0"}) ? static_cast<pid_t>(sim.pid()) : -1;
      if (write(fds[1], &simPid, sizeof simPid) != sizeof simPid) _exit(2);
      if (killed) {
        for (;;) pause();
      }
      std::exit(1);  // what the toolkit does without a display: no destructor stops the simulator
    }
    close(fds[1]);
    pid_t simPid = -1;
    pollfd p{fds[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, simtest::kSimReadyTimeoutMs), 1);
    ASSERT_EQ(read(fds[0], &simPid, sizeof simPid), static_cast<ssize_t>(sizeof simPid));
    close(fds[0]);
    ASSERT_GT(simPid, 0);
    if (killed) kill(parent, SIGKILL);
    EXPECT_TRUE(endsWithin(parent, kSimEndTimeoutMs));
    EXPECT_TRUE(endsWithin(simPid, kSimEndTimeoutMs)) << "the simulator outlived its parent";
  }
}

TEST(SimLifetime, AWindowTestProgramWithoutADisplaySkipsAndLeavesNoSimulator) {
  const std::string exe = testsupport::buildDir() + "/tests/main_window_test";
  if (access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "the window tests are not built";
  // The whole program, and one test alone (as the test command runs it) that starts its
  // simulator before its first window.
  for (const std::string filter :
       {"*", "MainWindowTest.StartUpAgainstTheSimulatorIdentifiesTheBoardAndFillsMainSettings"}) {
    SCOPED_TRACE(filter);
    const std::string dir = testsupport::makeTempDir();
    const std::string mark = "KORVANE_TEST_RUN_MARK=" + std::to_string(getpid()) + "-" +
                             std::to_string(Clock::now().time_since_epoch().count());
    const int rc =
        std::system(("cd '" + dir + "' && env -u DISPLAY -u KORVANE_TEST_OWN_DISPLAY " + mark +
                     " '" + exe + "' --gtest_filter='" + filter + "' >out.txt 2>&1")
                        .c_str());
    const std::string out = testsupport::readText(dir + "/out.txt");
    ASSERT_TRUE(WIFEXITED(rc)) << out;
    EXPECT_EQ(WEXITSTATUS(rc), 0) << out;
    EXPECT_NE(out.find("no X display to open (DISPLAY=unset): every window test of this "
                       "program is skipped"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("[ RUN      ]"), std::string::npos) << out;
    EXPECT_EQ(out.find("FAILED"), std::string::npos) << out;
    // Nothing the program started is still running.
    EXPECT_EQ(processesMarked(mark), std::vector<int>{});
  }
}

}  // namespace
