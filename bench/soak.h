// The fault soak: korvane-sim with dropped, corrupted and delayed replies behind a small TCP
// proxy that also delays traffic and cuts connections mid-exchange, and thousands of
// CRC-checked block reads and writes through the real port table and UTRKDevice. Shared by
// the soak bench program and its short CTest version; loopback only, bounded in count and time.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/child_process.h"
#include "link/port.h"
#include "link/port_internal.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"

namespace soak {

constexpr uint32_t kRegionAddress = 0x6000;  // a scratch area of the data space
constexpr int kRegionBytes = 512;
constexpr int kMaxBlockBytes = 40;
constexpr uint32_t kSimReadyTimeoutMs = 5000;
constexpr uint32_t kConnectTimeoutMs = 5000;
// A request may end this much after its own reply budget (poll steps, a loaded machine)
// before it counts as hanging.
constexpr uint32_t kOverrunSlackMs = 1500;
// Attempts of one clean verification read at the end before the soak gives up on it.
constexpr int kVerifyAttempts = 40;
constexpr int kProxyPollMs = 5;

struct Config {
  std::string simPath;  // korvane-sim
  int operations = 2000;
  uint32_t seconds = 240;     // stop starting operations after this
  double drop = 0.05;         // the simulator drops a reply
  double corrupt = 0.05;      // the simulator changes one byte of a reply
  int simDelayMs = 3;         // every reply this late
  double cut = 0.01;          // the proxy cuts the connection on a forwarded chunk
  double delay = 0.05;        // the proxy holds a chunk back
  uint32_t maxDelayMs = 150;  // ... for up to this long (below the shortest reply budget)
  uint32_t seed = 1;
};

struct Report {
  int reads = 0, writes = 0;
  std::map<int, int> readResults, writeResults;  // result code -> count
  int undefinedCodes = 0;
  int mismatches = 0;       // reads that returned 1 with bytes other than the board holds
  int bytesVerified = 0;    // bytes compared against the model by reads that returned 1
  int finalMismatches = 0;  // bytes of confirmed writes missing at the end
  int finalUnverified = 0;  // end-of-run reads that never got through
  int overruns = 0;         // requests that ran past budget + slack
  uint32_t worstOverrunMs = 0;
  uint32_t worstRequestMs = 0;
  int proxyConnections = 0;  // connections the tool made (first one and reconnects)
  int proxyCuts = 0, proxyDelays = 0;
  uint32_t elapsedMs = 0;
  bool started = false;
  std::string error;

  bool ok() const {
    return started && error.empty() && undefinedCodes == 0 && mismatches == 0 &&
           finalMismatches == 0 && overruns == 0;
  }
};

// ---- the simulator process ----
class Sim {
 public:
  ~Sim() { stop(); }
  bool start(const std::string& path, const std::vector<std::string>& args, int* listenPort) {
    int out[2];
    if (pipe(out) != 0) return false;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      bench::endWithParent(parent);
      dup2(out[1], 1);
      const int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 2);
      close(out[0]);
      std::vector<std::string> all{path};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    outFd_ = out[0];
    std::string line;
    char c;
    for (;;) {
      pollfd p{outFd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(kSimReadyTimeoutMs)) != 1 || read(outFd_, &c, 1) != 1)
        return false;
      if (c == '\n') break;
      line += c;
    }
    const size_t colon = line.rfind(':');
    if (line.rfind("korvane-sim: ", 0) != 0 || colon == std::string::npos) return false;
    *listenPort = std::atoi(line.c_str() + colon + 1);
    return *listenPort > 0;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    for (int i = 0; i < 300 && waitpid(pid_, &status, WNOHANG) != pid_; ++i) usleep(10000);
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, WNOHANG);
    pid_ = -1;
    if (outFd_ >= 0) close(outFd_);
    outFd_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
};

// ---- the fault proxy: tool <-> proxy <-> simulator ----
class Proxy {
 public:
  Proxy(int upstreamPort, const Config& cfg)
      : upstream_(upstreamPort), cfg_(cfg), rng_(cfg.seed * 7919u + 1) {}
  ~Proxy() { stop(); }

  int start() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listenFd_, 8) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return 0;
    running_ = true;
    thread_ = std::thread([this] { loop(); });
    return ntohs(a.sin_port);
  }
  void stop() {
    if (!running_.exchange(false)) return;
    thread_.join();
    closeLink();
    close(listenFd_);
  }
  // Faults off for the final verification.
  void setFaults(bool on) { faults_ = on; }

  std::atomic<int> connections{0}, cuts{0}, delays{0};

 private:
  struct Chunk {
    uint32_t due;
    std::string bytes;
  };
  static sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
  }
  void closeLink() {
    if (client_ >= 0) close(client_);
    if (server_ >= 0) close(server_);
    client_ = server_ = -1;
    toServer_.clear();
    toClient_.clear();
  }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }

  // Queues a chunk; false when the proxy decided to cut the connection here.
  bool forward(std::deque<Chunk>& q, std::string bytes) {
    if (faults_ && chance(cfg_.cut)) {
      ++cuts;
      return false;
    }
    uint32_t due = monotonicMs();
    if (faults_ && chance(cfg_.delay)) {
      ++delays;
      due += std::uniform_int_distribution<uint32_t>(1, cfg_.maxDelayMs)(rng_);
    }
    // Order is kept: a chunk never overtakes one held back before it.
    if (!q.empty() && static_cast<int32_t>(q.back().due - due) > 0) due = q.back().due;
    q.push_back({due, std::move(bytes)});
    return true;
  }
  static bool flush(int fd, std::deque<Chunk>& q) {
    while (!q.empty() && static_cast<int32_t>(monotonicMs() - q.front().due) >= 0) {
      const std::string& b = q.front().bytes;
      if (send(fd, b.data(), b.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(b.size()))
        return false;
      q.pop_front();
    }
    return true;
  }

  void loop() {
    char buf[4096];
    while (running_) {
      pollfd p[3] = {{listenFd_, POLLIN, 0}, {client_, POLLIN, 0}, {server_, POLLIN, 0}};
      poll(p, 3, kProxyPollMs);
      if (p[0].revents & POLLIN) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          // The tool reconnected: the newest connection carries the bus.
          closeLink();
          client_ = fd;
          server_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
          sockaddr_in a = loopback(upstream_);
          if (connect(server_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) closeLink();
          ++connections;
          continue;
        }
      }
      bool alive = client_ >= 0;
      if (alive && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = recv(client_, buf, sizeof buf, MSG_DONTWAIT);
        alive = n > 0 && forward(toServer_, std::string(buf, static_cast<size_t>(n)));
      }
      if (alive && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = recv(server_, buf, sizeof buf, MSG_DONTWAIT);
        alive = n > 0 && forward(toClient_, std::string(buf, static_cast<size_t>(n)));
      }
      if (alive) alive = flush(server_, toServer_) && flush(client_, toClient_);
      if (!alive && client_ >= 0) closeLink();
    }
  }

  int upstream_;
  Config cfg_;
  std::mt19937 rng_;
  std::atomic<bool> running_{false};
  std::atomic<bool> faults_{true};
  std::thread thread_;
  int listenFd_ = -1, client_ = -1, server_ = -1;
  std::deque<Chunk> toServer_, toClient_;
};

inline bool definedCode(int r) {
  return r == kResultDone || r == kResultStatus || r == kResultRefused || r == kResultChecksum ||
         r == kResultTimeout || r == kResultRejected;
}

inline Report run(const Config& cfg) {
  Report rep;
  const uint32_t t0 = monotonicMs();
  Sim sim;
  int simPort = 0;
  char prob[32];
  std::vector<std::string> args{"--listen", "127.0.0.1:0", "--seed", std::to_string(cfg.seed)};
  std::snprintf(prob, sizeof prob, "%.4f", cfg.drop);
  args.insert(args.end(), {"--drop", prob});
  std::snprintf(prob, sizeof prob, "%.4f", cfg.corrupt);
  args.insert(args.end(), {"--corrupt", prob});
  if (cfg.simDelayMs > 0) args.insert(args.end(), {"--delay-ms", std::to_string(cfg.simDelayMs)});
  if (!sim.start(cfg.simPath, args, &simPort)) {
    rep.error = "korvane-sim did not start (" + cfg.simPath + ")";
    return rep;
  }
  Proxy proxy(simPort, cfg);
  const int proxyPort = proxy.start();
  if (proxyPort == 0) {
    rep.error = "the proxy cannot listen";
    return rep;
  }
  tickStart();
  portTableInit();
  uint16_t port = 0;
  const std::string name = "TCPC_127.0.0.1:" + std::to_string(proxyPort);
  if (portOpen(name.c_str(), &port) != 0) {
    rep.error = "cannot open " + name;
    return rep;
  }
  for (uint32_t start = monotonicMs(); !portEntry(port)->connected;) {
    portAvailable(port);
    if (monotonicMs() - start > kConnectTimeoutMs) {
      rep.error = "the TCP client never connected";
      portClose(port);
      return rep;
    }
    usleep(1000);
  }
  rep.started = true;

  UTRKDevice dev(port);
  dev.address = 1;
  std::mt19937 rng(cfg.seed);
  // What the board's region must hold: known bytes, and bytes an unconfirmed write may or
  // may not have changed (learnt again from the next good read).
  std::vector<int> model(kRegionBytes, -1);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

  auto runTimed = [&](uint32_t budgetMs, auto&& request) {
    const uint32_t start = monotonicMs();
    const int r = pollRequest(dev, request);
    const uint32_t took = monotonicMs() - start;
    if (took > rep.worstRequestMs) rep.worstRequestMs = took;
    if (took > budgetMs + kOverrunSlackMs) {
      ++rep.overruns;
      if (took - budgetMs > rep.worstOverrunMs) rep.worstOverrunMs = took - budgetMs;
    }
    if (!definedCode(r)) ++rep.undefinedCodes;
    return r;
  };
  auto readBudget = [](int count) {
    return kReplyBaseTimeoutMs + kReplyPerByteMs * (12u + count + 5u);
  };
  auto writeBudget = [](int count) {
    return kReplyBaseTimeoutMs + kLongWritePauseMs + kReplyPerByteMs * (12u + count + 2u);
  };

  auto checkRead = [&](int offset, const std::vector<uint8_t>& got, bool learn) {
    for (size_t i = 0; i < got.size(); ++i) {
      int& m = model[offset + i];
      if (m < 0) {
        if (learn) m = got[i];
      } else {
        ++rep.bytesVerified;
        if (m != got[i]) {
          ++rep.mismatches;
          return;
        }
      }
    }
  };

  for (int op = 0; op < cfg.operations && monotonicMs() - t0 < cfg.seconds * 1000u; ++op) {
    const int count = pick(1, kMaxBlockBytes);
    const int offset = pick(0, kRegionBytes - count);
    if (pick(0, 1) == 0) {
      std::vector<uint8_t> data(count);
      for (auto& b : data) b = static_cast<uint8_t>(pick(0, 255));
      ++rep.writes;
      const int r = runTimed(writeBudget(count), [&] {
        return dev.writeBlock(kRegionAddress + offset, kBankData, data.data(),
                              static_cast<uint8_t>(count));
      });
      ++rep.writeResults[r];
      for (int i = 0; i < count; ++i) model[offset + i] = r == kResultDone ? data[i] : -1;
    } else {
      std::vector<uint8_t> got(count, 0);
      ++rep.reads;
      const int r = runTimed(readBudget(count), [&] {
        return dev.readBlock(kRegionAddress + offset, kBankData, static_cast<uint8_t>(count),
                             got.data(), kCheckCrc, 0);
      });
      ++rep.readResults[r];
      if (r == kResultDone) checkRead(offset, got, true);
    }
  }

  // The end: faults off, every confirmed byte read back through the same (reconnecting) port.
  proxy.setFaults(false);
  for (int offset = 0; offset < kRegionBytes; offset += kMaxBlockBytes) {
    const int count = std::min(kMaxBlockBytes, kRegionBytes - offset);
    std::vector<uint8_t> got(count, 0);
    int r = 0;
    for (int attempt = 0; attempt < kVerifyAttempts && r != kResultDone; ++attempt)
      r = runTimed(readBudget(count), [&] {
        return dev.readBlock(kRegionAddress + offset, kBankData, static_cast<uint8_t>(count),
                             got.data(), kCheckCrc, 0);
      });
    if (r != kResultDone) {
      ++rep.finalUnverified;
      continue;
    }
    for (int i = 0; i < count; ++i)
      if (model[offset + i] >= 0 && model[offset + i] != got[i]) ++rep.finalMismatches;
  }
  portClose(port);
  proxy.stop();
  sim.stop();
  rep.proxyConnections = proxy.connections;
  rep.proxyCuts = proxy.cuts;
  rep.proxyDelays = proxy.delays;
  rep.elapsedMs = monotonicMs() - t0;
  return rep;
}

inline void printTable(const Config& cfg, const Report& rep, FILE* out) {
  std::fprintf(out, "%-44s %10s\n", "fault soak", "count");
  std::fprintf(out, "%-44s %10d\n", "operations", rep.reads + rep.writes);
  std::fprintf(out, "%-44s %10d\n", "  CRC-checked reads", rep.reads);
  std::fprintf(out, "%-44s %10d\n", "  block writes", rep.writes);
  char line[96];
  std::snprintf(line, sizeof line, "faults: simulator drops (p=%.3f)", cfg.drop);
  std::fprintf(out, "%-44s %10s\n", line, "random");
  std::snprintf(line, sizeof line, "faults: simulator corrupts (p=%.3f)", cfg.corrupt);
  std::fprintf(out, "%-44s %10s\n", line, "random");
  std::snprintf(line, sizeof line, "faults: simulator delays every reply (ms)");
  std::fprintf(out, "%-44s %10d\n", line, cfg.simDelayMs);
  std::fprintf(out, "%-44s %10d\n", "faults: proxy cuts mid-exchange", rep.proxyCuts);
  std::fprintf(out, "%-44s %10d\n", "faults: proxy delays (chunks held back)", rep.proxyDelays);
  std::fprintf(out, "%-44s %10d\n", "TCP connections (first + reconnects)", rep.proxyConnections);
  for (const auto& [code, n] : rep.readResults) {
    std::snprintf(line, sizeof line, "reads  result %d", code);
    std::fprintf(out, "%-44s %10d\n", line, n);
  }
  for (const auto& [code, n] : rep.writeResults) {
    std::snprintf(line, sizeof line, "writes result %d", code);
    std::fprintf(out, "%-44s %10d\n", line, n);
  }
  std::fprintf(out, "%-44s %10d\n", "undefined result codes", rep.undefinedCodes);
  std::fprintf(out, "%-44s %10d\n", "bytes checked by reads that returned 1", rep.bytesVerified);
  std::fprintf(out, "%-44s %10d\n", "read mismatches", rep.mismatches);
  std::fprintf(out, "%-44s %10d\n", "confirmed bytes missing at the end", rep.finalMismatches);
  std::fprintf(out, "%-44s %10d\n", "end reads that never got through", rep.finalUnverified);
  std::fprintf(out, "%-44s %10d\n", "requests past budget + slack", rep.overruns);
  std::fprintf(out, "%-44s %10u\n", "longest request (ms)", rep.worstRequestMs);
  std::fprintf(out, "%-44s %10u\n", "elapsed (ms)", rep.elapsedMs);
  if (!rep.error.empty()) std::fprintf(out, "error: %s\n", rep.error.c_str());
}

}  // namespace soak
