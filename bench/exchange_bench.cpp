// Round-trip cost of one 68-byte CRC block read (12-byte request, 73-byte reply) through
// UTRKDevice and pollRequest, set side by side with a plain blocking client doing the same
// 12/73-byte exchange on the same kind of link, against a peer thread that answers at once.
// The slow mode reads from korvane-sim over a pseudo-terminal paced at a serial line rate and
// measures the CPU time each read costs, beside a plain blocking client reading the same.
// Usage: exchange_bench tcp|pty [--n N] [--no-pin]    or    exchange_bench --peer HOST:PORT [--n N]
//        exchange_bench slow [--n N] [--baud B] [--sim PATH]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_paths.h"
#include "bench/child_process.h"
#include "link/port.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"

namespace {

constexpr int kRequestBytes = 12;
constexpr int kRecordBytes = 68;
constexpr int kReplyBytes = kRecordBytes + 4 + 1;  // data, CRC-32, trailing byte
constexpr uint32_t kMainSettingsAddress = 0x3101;
constexpr int kDefaultExchanges = 20000;
// Both clients take turns exchange by exchange, so that a burst of load from another
// process on the shared machine hits both alike.
constexpr int kWarmupExchanges = 200;
constexpr int kConnectTimeoutMs = 3000;
// The paced reads take about 180 ms each at 4800 baud.
constexpr int kDefaultSlowExchanges = 40;
constexpr int kSlowWarmupExchanges = 2;
constexpr uint32_t kDefaultSlowBaud = 4800;
constexpr int kSimReadyTimeoutMs = 5000;

using Clock = std::chrono::steady_clock;

double usSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

struct Stats {
  double median = 0, p99 = 0, ratePerS = 0;
  int n = 0;
};

Stats statsOf(std::vector<double> us) {
  Stats s;
  s.n = static_cast<int>(us.size());
  if (us.empty()) return s;
  double total = 0;
  for (double v : us) total += v;
  std::sort(us.begin(), us.end());
  s.median = us[us.size() / 2];
  s.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  s.ratePerS = total > 0 ? 1e6 * static_cast<double>(us.size()) / total : 0;
  return s;
}

void printResult(const char* label, const Stats& s, int failures) {
  std::printf("RESULT label=%s n=%d median_us=%.2f p99_us=%.2f rate_per_s=%.0f failures=%d\n",
              label, s.n, s.median, s.p99, s.ratePerS, failures);
}

// The reply a board gives to the main-settings read: the record, its CRC, one more byte.
std::vector<uint8_t> boardReply() {
  std::vector<uint8_t> r(kReplyBytes);
  for (int i = 0; i < kRecordBytes; ++i) r[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint32_t crc = crc32Stm(r.data(), kRecordBytes);
  for (int i = 0; i < 4; ++i) r[kRecordBytes + i] = static_cast<uint8_t>(crc >> (8 * i));
  r[kReplyBytes - 1] = frameChecksum(r.data(), kReplyBytes - 1);
  return r;
}

bool readFull(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = read(fd, p, n);
    if (r <= 0) {
      if (r < 0 && errno == EINTR) continue;
      return false;
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool writeFull(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = write(fd, p, n);
    if (r <= 0) {
      if (r < 0 && errno == EINTR) continue;
      return false;
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// The CPU that the client and the peer share (-1: no pinning). Sharing one CPU keeps the
// figure from depending on where the scheduler happens to place the two threads: on a
// virtual machine a wake-up across CPUs can cost more than the whole exchange.
int gCpu = -1;

void pinHere() {
  if (gCpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(gCpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

int firstAllowedCpu() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return -1;
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &set)) return c;
  return -1;
}

// Answers every 12-byte request on either link with the 73-byte reply until both close.
// One thread serves both clients, so neither gets a peer that the scheduler placed better.
void answerRequests(int fdA, int fdB) {
  pinHere();
  const std::vector<uint8_t> reply = boardReply();
  uint8_t req[kRequestBytes];
  pollfd fds[2] = {{fdA, POLLIN, 0}, {fdB, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (pollfd& p : fds) {
      if (p.fd < 0 || p.revents == 0) continue;
      if (!readFull(p.fd, req, sizeof req) || !writeFull(p.fd, reply.data(), reply.size())) {
        p.fd = -1;  // this link closed; poll() ignores negative descriptors
        --open;
      }
    }
  }
}

// The tool's side: one readBlock polled to its result. 1 on a good reply.
int toolExchange(UTRKDevice& dev, uint8_t* record) {
  return pollRequest(dev, [&] {
    return dev.readBlock(kMainSettingsAddress, kBankData, kRecordBytes, record, kCheckCrc, 0);
  });
}

// A plain client: blocking write of the request, blocking read of the whole reply.
bool plainExchange(int fd, const uint8_t* request, uint8_t* reply) {
  return writeFull(fd, request, kRequestBytes) && readFull(fd, reply, kReplyBytes);
}

std::vector<uint8_t> requestFrame() {
  // Built the way the handle builds it, so the peer sees the same bytes from both clients.
  const uint8_t p[7] = {kCheckCrc, 0, 0x31, 0x00, 0x01, 0x00, kRecordBytes};
  std::vector<uint8_t> f(kRequestBytes);
  f[0] = kFrameStart;
  f[1] = 1;
  f[2] = 0x48 | kBankData;
  f[3] = frameChecksum(f.data(), 3);
  std::memcpy(f.data() + 4, p, 7);
  f[11] = frameChecksum(f.data() + 4, 7);
  return f;
}

struct SideBySide {
  std::vector<double> tool, plain;
  int toolFailures = 0, plainFailures = 0;
};

// Runs n exchanges on each client, taking turns.
SideBySide runSideBySide(UTRKDevice& dev, int plainFd, int n) {
  SideBySide r;
  r.tool.reserve(n);
  r.plain.reserve(n);
  const std::vector<uint8_t> req = requestFrame();
  const std::vector<uint8_t> expected = boardReply();
  uint8_t record[kRecordBytes];
  uint8_t reply[kReplyBytes];
  for (int i = 0; i < kWarmupExchanges; ++i) {
    toolExchange(dev, record);
    plainExchange(plainFd, req.data(), reply);
  }
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    const int rc = toolExchange(dev, record);
    r.tool.push_back(usSince(t0));
    if (rc != kResultDone) ++r.toolFailures;
    t0 = Clock::now();
    const bool ok = plainExchange(plainFd, req.data(), reply);
    r.plain.push_back(usSince(t0));
    if (!ok || std::memcmp(reply, expected.data(), kReplyBytes) != 0) ++r.plainFailures;
  }
  return r;
}

void report(const char* toolLabel, const char* plainLabel, const SideBySide& r) {
  const Stats t = statsOf(r.tool), p = statsOf(r.plain);
  printResult(toolLabel, t, r.toolFailures);
  printResult(plainLabel, p, r.plainFailures);
  std::printf("RATIO label=%s median=%.3f\n", toolLabel, p.median > 0 ? t.median / p.median : 0.0);
}

int listenLoopback(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return -1;
  *port = ntohs(a.sin_port);
  return fd;
}

int connectBlocking(const char* host, uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (fd < 0 || inet_pton(AF_INET, host, &a.sin_addr) != 1 ||
      connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Opens the tool's port and waits until its connection is up.
bool openToolPort(const std::string& name, uint16_t* port) {
  if (portOpen(name.c_str(), port) != 0) return false;
  const uint32_t deadline = nowMs() + kConnectTimeoutMs;
  while (!deadlineReached(deadline)) {
    portAvailable(*port);
    const PortEntry* e = portEntry(*port);
    if (e->kind != PortKind::TcpClient || e->connected) return true;
    portWaitInput(*port, 10);
  }
  return false;
}

int benchTcp(int n) {
  uint16_t tcpPort = 0;
  const int listener = listenLoopback(&tcpPort);
  if (listener < 0) return 1;
  int accepted[2] = {-1, -1};
  std::thread peer([&] {
    for (int& c : accepted) {
      c = accept(listener, nullptr, nullptr);
      if (c < 0) return;
      int on = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    answerRequests(accepted[0], accepted[1]);
  });
  uint16_t port = 0;
  const std::string name = "TCPC_127.0.0.1:" + std::to_string(tcpPort);
  const int plainFd = connectBlocking("127.0.0.1", tcpPort);
  if (plainFd < 0 || !openToolPort(name, &port)) {
    std::fprintf(stderr, "cannot connect to the peer on port %u\n", tcpPort);
    return 1;
  }
  UTRKDevice dev(port);
  dev.address = 1;
  SideBySide r = runSideBySide(dev, plainFd, n);
  report("korvane_read68_tcp", "plain_read68_tcp", r);
  portClose(port);
  shutdown(plainFd, SHUT_RDWR);
  close(plainFd);
  peer.join();
  for (int c : accepted)
    if (c >= 0) close(c);
  close(listener);
  return r.toolFailures + r.plainFailures ? 1 : 0;
}

// Puts a terminal into raw 8-bit mode with blocking reads of at least one byte.
void makeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

// One pseudo-terminal pair per client; the peer thread sits on both master sides.
struct PtyPair {
  int master = -1;
  int slave = -1;  // held open so the master never sees a hang-up before the client opens
  std::string slavePath;
};

bool openPtyPair(PtyPair* p) {
  char name[256];
  if (openpty(&p->master, &p->slave, name, nullptr, nullptr) != 0) return false;
  makeRaw(p->master);
  makeRaw(p->slave);
  p->slavePath = name;
  return true;
}

int benchPty(int n) {
  PtyPair toolPair, plainPair;
  if (!openPtyPair(&toolPair) || !openPtyPair(&plainPair)) return 1;
  std::thread peer([&] { answerRequests(toolPair.master, plainPair.master); });
  uint16_t port = 0;
  if (portOpen(toolPair.slavePath.c_str(), &port) != 0) return 1;
  portSetLine(port, 115200, 8, 'N', 1);
  const int plainFd = open(plainPair.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (plainFd < 0) return 1;
  makeRaw(plainFd);
  UTRKDevice dev(port);
  dev.address = 1;
  SideBySide r = runSideBySide(dev, plainFd, n);
  report("korvane_read68_pty", "plain_read68_pty", r);
  portClose(port);
  close(plainFd);
  // Closing the last slave descriptors ends the peer's reads (hang-up on the masters).
  close(toolPair.slave);
  close(plainPair.slave);
  peer.join();
  close(toolPair.master);
  close(plainPair.master);
  return r.toolFailures + r.plainFailures ? 1 : 0;
}

// CPU time of this process so far, in microseconds (every thread of it).
double cpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// A korvane-sim on a pseudo-terminal at PATH pacing its line at the given rate. It ends with
// this process, however that ends.
class PacedSim {
 public:
  bool start(const std::string& sim, const std::string& path, uint32_t baud) {
    unlink(path.c_str());
    int out[2];
    if (pipe(out) != 0) return false;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      bench::endWithParent(parent);
      dup2(out[1], 1);
      close(out[0]);
      const std::string b = std::to_string(baud);
      execl(sim.c_str(), sim.c_str(), "--pty", path.c_str(), "--baud", b.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // The ready line is printed once the link at PATH exists.
    pollfd p{out[0], POLLIN, 0};
    char c = 0;
    bool ready = false;
    while (poll(&p, 1, kSimReadyTimeoutMs) == 1 && read(out[0], &c, 1) == 1)
      if (c == '\n') {
        ready = true;
        break;
      }
    close(out[0]);
    return pid_ > 0 && ready;
  }
  ~PacedSim() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

// The tool and a plain blocking client, each on a simulator of its own, take turns reading the
// main settings record over a paced pseudo-terminal. Per read: the process CPU time it cost
// and, for the tool, its wall time.
int benchSlow(const std::string& sim, uint32_t baud, int n) {
  const std::string base = "/tmp/korvane-xbench-" + std::to_string(getpid());
  const std::string toolPath = base + "-tool", plainPath = base + "-plain";
  PacedSim toolSim, plainSim;
  if (!toolSim.start(sim, toolPath, baud) || !plainSim.start(sim, plainPath, baud)) {
    std::fprintf(stderr, "cannot start %s\n", sim.c_str());
    return 1;
  }
  uint16_t port = 0;
  if (portOpen(toolPath.c_str(), &port) != 0 || portSetLine(port, baud, 8, 'N', 1) != 0) {
    std::fprintf(stderr, "cannot open %s\n", toolPath.c_str());
    return 1;
  }
  const int plainFd = open(plainPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (plainFd < 0) return 1;
  makeRaw(plainFd);
  UTRKDevice dev(port);
  dev.address = 1;
  const std::vector<uint8_t> req = requestFrame();
  uint8_t record[kRecordBytes], reply[kReplyBytes];
  std::vector<double> toolCpu, plainCpu, toolWall;
  int toolFailures = 0, plainFailures = 0;
  for (int i = -kSlowWarmupExchanges; i < n; ++i) {
    double c0 = cpuUs();
    auto t0 = Clock::now();
    const int rc = toolExchange(dev, record);
    const double wall = usSince(t0), cpu = cpuUs() - c0;
    c0 = cpuUs();
    // Both simulators hold the same record, so both clients must read the same bytes.
    const bool ok =
        plainExchange(plainFd, req.data(), reply) && std::memcmp(reply, record, kRecordBytes) == 0;
    const double plain = cpuUs() - c0;
    if (i < 0) continue;
    toolCpu.push_back(cpu);
    toolWall.push_back(wall);
    plainCpu.push_back(plain);
    if (rc != kResultDone) ++toolFailures;
    if (!ok) ++plainFailures;
  }
  portClose(port);
  close(plainFd);
  const Stats tc = statsOf(toolCpu), pc = statsOf(plainCpu), tw = statsOf(toolWall);
  std::printf("RESULT label=korvane_read68_cpu_%u n=%d median_us=%.2f p99_us=%.2f failures=%d\n",
              baud, tc.n, tc.median, tc.p99, toolFailures);
  std::printf("RESULT label=plain_read68_cpu_%u n=%d median_us=%.2f p99_us=%.2f failures=%d\n",
              baud, pc.n, pc.median, pc.p99, plainFailures);
  std::printf("RESULT label=korvane_read68_wall_%u n=%d median_us=%.2f p99_us=%.2f\n", baud, tw.n,
              tw.median, tw.p99);
  return toolFailures + plainFailures ? 1 : 0;
}

// Against an outside server: only the tool's side, one line for scripts.
int benchPeer(const std::string& hostPort, int n) {
  uint16_t port = 0;
  if (!openToolPort("TCPC_" + hostPort, &port)) {
    std::fprintf(stderr, "cannot connect to %s\n", hostPort.c_str());
    return 1;
  }
  UTRKDevice dev(port);
  dev.address = 1;
  std::vector<double> us;
  us.reserve(n);
  uint8_t record[kRecordBytes];
  int failures = 0;
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    const int rc = toolExchange(dev, record);
    us.push_back(usSince(t0));
    // A server that answers with other bytes fails the CRC, but the exchange still ran.
    if (rc != kResultDone && rc != kResultChecksum) ++failures;
  }
  const Stats s = statsOf(us);
  std::printf("RESULT label=korvane_read68 n=%d median_us=%.2f p99_us=%.2f rate_per_s=%.0f\n", s.n,
              s.median, s.p99, s.ratePerS);
  if (failures) std::fprintf(stderr, "%d exchanges got no complete reply\n", failures);
  portClose(port);
  return failures ? 1 : 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: exchange_bench tcp|pty [--n N] [--no-pin]\n"
               "       exchange_bench --peer HOST:PORT [--n N]\n"
               "       exchange_bench slow [--n N] [--baud B] [--sim PATH]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode, peer, sim = bench::besideSelf("korvane-sim");
  int n = 0;
  bool nGiven = false;
  uint32_t baud = kDefaultSlowBaud;
  bool pin = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--n" && i + 1 < argc) {
      n = std::atoi(argv[++i]);
      nGiven = true;
    } else if (a == "--peer" && i + 1 < argc) {
      mode = "peer";
      peer = argv[++i];
    } else if (a == "--baud" && i + 1 < argc) {
      baud = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else if (a == "--sim" && i + 1 < argc) {
      sim = argv[++i];
    } else if (a == "--no-pin") {
      pin = false;
    } else if (a == "tcp" || a == "pty" || a == "slow") {
      mode = a;
    } else {
      return usage();
    }
  }
  if (!nGiven) n = mode == "slow" ? kDefaultSlowExchanges : kDefaultExchanges;
  if (mode.empty() || n <= 0 || baud == 0) return usage();
  tickStart();
  portTableInit();
  // Over a pseudo-terminal the bytes move through a kernel work queue that runs where it
  // likes, so pinning the two threads there only adds a third party's placement.
  if (pin && mode == "tcp") gCpu = firstAllowedCpu();
  pinHere();
  if (mode == "tcp") return benchTcp(n);
  if (mode == "pty") return benchPty(n);
  if (mode == "slow") return benchSlow(sim, baud, n);
  return benchPeer(peer, n);
}
