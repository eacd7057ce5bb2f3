// Times a bus scan of addresses 1..32 (quiet identification at each, as "Search pumps.." does)
// against korvane-sim with boards at 1 and 5, and sets it beside what the time-out rules
// allow: every silent address may cost its whole identify budget, the answered ones their
// own exchange. Usage: scan_bench [--sim PATH]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_paths.h"
#include "bench/child_process.h"
#include "link/port.h"
#include "link/tick.h"
#include "protocol/board.h"
#include "protocol/utrk_device.h"

namespace {

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 32;
constexpr int kIdentifyRequestBytes = 4;
constexpr int kIdentifyReplyBytes = 4;
constexpr uint32_t kIdentifyBudgetMs =
    kReplyBaseTimeoutMs + kReplyPerByteMs * (kIdentifyRequestBytes + kIdentifyReplyBytes);
constexpr int kSimStartTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 3000;

using Clock = std::chrono::steady_clock;

// Starts the simulator on a free port it picks itself and reads that port from its first
// line of output.
pid_t startSim(const std::string& sim, int* tcpPort) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    bench::endWithParent(parent);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execl(sim.c_str(), sim.c_str(), "--listen", "127.0.0.1:0", "--board", "1", "--board", "5",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  FILE* out = fdopen(fds[0], "r");
  char line[256];
  *tcpPort = 0;
  const auto until = Clock::now() + std::chrono::milliseconds(kSimStartTimeoutMs);
  while (*tcpPort == 0 && Clock::now() < until && std::fgets(line, sizeof line, out)) {
    const char* colon = std::strrchr(line, ':');
    if (colon) *tcpPort = std::atoi(colon + 1);
  }
  if (*tcpPort == 0) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  std::string sim = bench::besideSelf("korvane-sim");
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--sim" && i + 1 < argc) sim = argv[++i];
  }
  tickStart();
  portTableInit();
  int tcpPort = 0;
  pid_t pid = startSim(sim, &tcpPort);
  if (pid < 0) {
    std::fprintf(stderr, "cannot start %s\n", sim.c_str());
    return 1;
  }
  uint16_t port = 0;
  const std::string name = "TCPC_127.0.0.1:" + std::to_string(tcpPort);
  int rc = 1;
  if (portOpen(name.c_str(), &port) == 0) {
    // Connected before the clock starts, so the scan measures exchanges only.
    const uint32_t deadline = nowMs() + kConnectTimeoutMs;
    while (!portEntry(port)->connected && !deadlineReached(deadline)) {
      portAvailable(port);
      portWaitInput(port, 10);
    }
    UTRKDevice dev(port);
    BoardSession session;
    session.dev = &dev;
    double totalMs = 0, answeredMs = 0, silentMs = 0, worstSilentMs = 0;
    int found = 0, silent = 0;
    bool right = true;
    for (int a = kFirstAddress; a <= kLastAddress; ++a) {
      const auto t0 = Clock::now();
      const int r = identifyBoard(session, static_cast<uint8_t>(a), true);
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      totalMs += ms;
      if (r == 1) {
        ++found;
        answeredMs += ms;
        right = right && (a == 1 || a == 5);
      } else {
        ++silent;
        silentMs += ms;
        if (ms > worstSilentMs) worstSilentMs = ms;
        right = right && a != 1 && a != 5;
      }
    }
    const double allowedMs = silent * static_cast<double>(kIdentifyBudgetMs) + answeredMs;
    std::printf(
        "scan 1..32: %d found, %d silent; total %.1f ms; silent %.1f ms (worst %.1f ms, "
        "budget %u ms each); answered %.2f ms\n",
        found, silent, totalMs, silentMs, worstSilentMs, kIdentifyBudgetMs, answeredMs);
    std::printf("RESULT label=scan32 total_ms=%.1f baseline_ms=%.1f ratio=%.4f found=%d\n", totalMs,
                allowedMs, totalMs / allowedMs, found);
    if (!right || found != 2)
      std::fprintf(stderr, "the boards at 1 and 5 were not found exactly\n");
    rc = right && found == 2 ? 0 : 1;
    portClose(port);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return rc;
}
