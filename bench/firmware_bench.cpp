// Measures a whole firmware update against korvane-sim over a pseudo-terminal with the
// simulator pacing its line, and compares it with the line-rate minimum
// (bytes on the wire x 10 bits / baud). Usage: firmware_bench [--sim PATH] [--kib N] [BAUD...]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_paths.h"
#include "bench/child_process.h"
#include "firmware/boot_update.h"
#include "link/port.h"
#include "link/tick.h"

namespace {

constexpr int kPtyWaitMs = 5000;
constexpr double kAllowedOverhead = 1.03;

// Writes nothing anywhere: the bench prints its own figures.
class QuietOperator : public Operator {
 public:
  std::string lastLine;
  std::vector<std::string> alerts;
  void alert(const std::string& t) override { alerts.push_back(t); }
  bool confirm(const std::string&) override { return true; }
  bool askText(const std::string&, const std::string&, std::string*) override { return false; }
  bool askPassword(const std::string&, std::string*) override { return false; }
  bool chooseFile(const std::string&, const std::string&, bool, std::string*) override {
    return false;
  }
  void logLine(const std::string& l) override { lastLine = l; }
  void logAppend(const std::string&) override {}
  void logReplaceTail(size_t, const std::string&) override {}
  void clearLog() override {}
};

pid_t startSim(const std::string& sim, const std::string& pty, uint32_t baud) {
  unlink(pty.c_str());
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    bench::endWithParent(parent);
    std::string b = std::to_string(baud);
    if (getenv("FWBENCH_UNPACED"))
      execl(sim.c_str(), sim.c_str(), "--pty", pty.c_str(), "--cpu", "103/128/2048/0x00",
            static_cast<char*>(nullptr));
    execl(sim.c_str(), sim.c_str(), "--pty", pty.c_str(), "--baud", b.c_str(), "--cpu",
          "103/128/2048/0x00", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int waited = 0; waited < kPtyWaitMs; waited += 10) {
    if (access(pty.c_str(), F_OK) == 0) return pid;
    usleep(10000);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return -1;
}

// One update at the given rate; returns false when it did not complete.
bool runOnce(const std::string& sim, uint32_t baud, const std::string& image, double* ratio) {
  const std::string pty = "/tmp/korvane-fwbench-" + std::to_string(getpid());
  pid_t pid = startSim(sim, pty, baud);
  if (pid < 0) {
    std::fprintf(stderr, "cannot start %s\n", sim.c_str());
    return false;
  }
  uint16_t port = 0;
  bool ok = false;
  if (portOpen(pty.c_str(), &port) == 0) {
    portSetLine(port, baud, 8, 'N', 1);
    uint64_t wireBytes = 0, sentBytes = 0;
    portSetTrace([&](uint16_t, bool sent, const uint8_t*, size_t n) {
      wireBytes += n;
      if (sent) sentBytes += n;
    });
    FirmwareUpdateRequest req;
    req.imagePath = image;
    req.currentAddress = 1;
    req.portBaud = baud;
    req.maxBaud = baud;
    req.line.baud = baud;
    PortBootLink link(port);
    QuietOperator op;
    auto t0 = std::chrono::steady_clock::now();
    FirmwareOutcome o = updateFirmware(link, op, req);
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    portSetTrace(nullptr);
    portClose(port);
    double minimumMs = static_cast<double>(wireBytes) * 10.0 * 1000.0 / baud;
    *ratio = ms / minimumMs;
    std::printf(
        "%7u baud: %u blocks, %llu bytes on the wire, line-rate minimum %.0f ms, "
        "measured %.0f ms, ratio %.4f, %.3f ms a block %s\n",
        baud, o.blocksSent, static_cast<unsigned long long>(wireBytes), minimumMs, ms, *ratio,
        ms / (o.blocksSent ? o.blocksSent : 1), o.ok() ? "" : "(update FAILED)");
    if (*ratio < 1.0) {
      // Faster than the line: the peer paces its replies but takes in what we send at once.
      // On a line paced both ways our bytes would add their own line time.
      *ratio = (ms + static_cast<double>(sentBytes) * 10.0 * 1000.0 / baud) / minimumMs;
      std::printf(
          "         the peer does not pace what it receives; projected ratio on a paced "
          "line at most %.4f\n",
          *ratio);
    }
    ok = o.ok();
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  unlink(pty.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string sim = bench::besideSelf("korvane-sim");
  unsigned kib = 128;
  std::vector<uint32_t> rates;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--sim" && i + 1 < argc)
      sim = argv[++i];
    else if (a == "--kib" && i + 1 < argc)
      kib = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    else
      rates.push_back(static_cast<uint32_t>(std::strtoul(a.c_str(), nullptr, 10)));
  }
  if (rates.empty()) rates = {38400, 115200};
  tickStart();
  portTableInit();

  const std::string image = "/tmp/korvane-fwbench-image-" + std::to_string(getpid()) + ".bin";
  FILE* f = std::fopen(image.c_str(), "wb");
  if (!f) return 1;
  for (unsigned i = 0; i < kib * 1024; ++i) std::fputc(static_cast<int>((i * 31u) >> 3), f);
  std::fclose(f);

  int failures = 0;
  for (uint32_t baud : rates) {
    double ratio = 0;
    if (!runOnce(sim, baud, image, &ratio)) {
      ++failures;
    } else if (ratio > kAllowedOverhead) {
      std::printf("  over the %.0f%% allowance\n", (kAllowedOverhead - 1) * 100);
      ++failures;
    }
  }
  std::remove(image.c_str());
  return failures ? 1 : 0;
}
