// korvane-sim on Linux: SIGINT and SIGTERM are let through only inside ppoll(), so a signal
// can never slip in between the stop check and a wait without a time-out.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "sim/line.h"
#include "sim/platform.h"

namespace sim {

namespace {

// Wake-ups are wanted to the microsecond: one byte at 115200 baud lasts 87 us.
constexpr unsigned long kTimerSlackNs = 1000;
constexpr int kMaxWaitHandles = 4;

volatile sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }
sigset_t gWaitMask;

uint64_t steadyNs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void setUpProcess() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, &gWaitMask);
  sigdelset(&gWaitMask, SIGINT);
  sigdelset(&gWaitMask, SIGTERM);
  prctl(PR_SET_TIMERSLACK, kTimerSlackNs);
}

bool stopRequested() { return gStop != 0; }

std::string stopEventName(unsigned long) { return {}; }

void waitForEvents(WaitHandle* items, int n, uint64_t dueNs) {
  timespec wait{};
  timespec* waitp = nullptr;
  if (dueNs != kNeverNs) {
    const uint64_t t = steadyNs();
    const uint64_t left = dueNs > t ? dueNs - t : 0;
    wait.tv_sec = static_cast<time_t>(left / 1000000000ull);
    wait.tv_nsec = static_cast<long>(left % 1000000000ull);
    waitp = &wait;
  }
  pollfd fds[kMaxWaitHandles];
  const int count = n < kMaxWaitHandles ? n : kMaxWaitHandles;
  for (int i = 0; i < count; ++i)
    fds[i] = pollfd{static_cast<int>(items[i].handle),
                    static_cast<short>(items[i].forWrite ? POLLOUT : POLLIN), 0};
  ::ppoll(fds, static_cast<nfds_t>(count), waitp, &gWaitMask);
  for (int i = 0; i < count; ++i) items[i].ready = fds[i].revents != 0;
}

void writeNoteLine(const std::string& line) {
  // Written only when the output can take it at once.
  pollfd p{1, POLLOUT, 0};
  if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return;
  const ssize_t written = ::write(1, line.data(), line.size());
  (void)written;
}

std::string timeStamp() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  localtime_r(&tv.tv_sec, &tm);
  char b[32];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d.%03ld", tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<long>(tv.tv_usec / 1000));
  return b;
}

std::tm localTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return args;
}

FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

}  // namespace sim
