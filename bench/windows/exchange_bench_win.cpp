// The Windows twin of exchange_bench's TCP figure: one 68-byte CRC block read (12-byte
// request, 73-byte reply) through UTRKDevice and pollRequest over TCP loopback, set side by
// side with a plain blocking Winsock client doing the same exchange, both against one peer
// thread that answers at once. The two clients take turns exchange by exchange.
// Usage: exchange_bench_win [--n N] [--no-pin]
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"

namespace {

constexpr int kRequestBytes = 12;
constexpr int kRecordBytes = 68;
constexpr int kReplyBytes = kRecordBytes + 4 + 1;  // data, CRC-32, trailing byte
constexpr uint32_t kMainSettingsAddress = 0x3101;
constexpr int kDefaultExchanges = 20000;
constexpr int kWarmupExchanges = 200;
constexpr int kConnectTimeoutMs = 3000;

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

bool readFull(SOCKET s, uint8_t* p, int n) {
  while (n > 0) {
    const int r = recv(s, reinterpret_cast<char*>(p), n, 0);
    if (r <= 0) return false;
    p += r;
    n -= r;
  }
  return true;
}

bool writeFull(SOCKET s, const uint8_t* p, int n) {
  while (n > 0) {
    const int r = send(s, reinterpret_cast<const char*>(p), n, 0);
    if (r <= 0) return false;
    p += r;
    n -= r;
  }
  return true;
}

// Both threads on one CPU, as on Linux: the figure then does not depend on where the
// scheduler happens to place them.
DWORD_PTR gAffinity = 0;
void pinHere() {
  if (gAffinity) SetThreadAffinityMask(GetCurrentThread(), gAffinity);
}

void setNoDelay(SOCKET s) {
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Answers every 12-byte request on either link with the 73-byte reply until both close.
void answerRequests(SOCKET a, SOCKET b) {
  pinHere();
  const std::vector<uint8_t> reply = boardReply();
  uint8_t req[kRequestBytes];
  WSAPOLLFD fds[2] = {};
  fds[0].fd = a;
  fds[1].fd = b;
  fds[0].events = fds[1].events = POLLRDNORM;
  int open = 2;
  while (open > 0) {
    if (WSAPoll(fds, 2, -1) < 0) return;
    for (WSAPOLLFD& p : fds) {
      if (p.fd == INVALID_SOCKET || p.revents == 0) continue;
      if (!readFull(p.fd, req, sizeof req) ||
          !writeFull(p.fd, reply.data(), static_cast<int>(reply.size()))) {
        p.fd = INVALID_SOCKET;  // WSAPoll skips it from now on
        --open;
      }
    }
  }
}

int toolExchange(UTRKDevice& dev, uint8_t* record) {
  return pollRequest(dev, [&] {
    return dev.readBlock(kMainSettingsAddress, kBankData, kRecordBytes, record, kCheckCrc, 0);
  });
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

bool openToolPort(const std::string& name, uint16_t* port) {
  if (portOpen(name.c_str(), port) != 0) return false;
  const uint32_t deadline = nowMs() + kConnectTimeoutMs;
  while (!deadlineReached(deadline)) {
    portAvailable(*port);
    if (portEntry(*port)->connected) return true;
    portWaitInput(*port, 10);
  }
  return false;
}

int run(int n) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 1;
  const uint16_t tcpPort = ntohs(a.sin_port);
  SOCKET accepted[2] = {INVALID_SOCKET, INVALID_SOCKET};
  std::thread peer([&] {
    for (SOCKET& c : accepted) {
      c = accept(listener, nullptr, nullptr);
      if (c == INVALID_SOCKET) return;
      setNoDelay(c);
    }
    answerRequests(accepted[0], accepted[1]);
  });
  // The plain client: a blocking socket, a blocking send of the request and a blocking
  // receive of the whole reply.
  SOCKET plain = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (connect(plain, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;
  setNoDelay(plain);
  uint16_t port = 0;
  if (!openToolPort("TCPC_127.0.0.1:" + std::to_string(tcpPort), &port)) {
    std::fprintf(stderr, "cannot connect to the peer on port %u\n", tcpPort);
    return 1;
  }
  UTRKDevice dev(port);
  dev.address = 1;

  const std::vector<uint8_t> req = requestFrame();
  const std::vector<uint8_t> expected = boardReply();
  uint8_t record[kRecordBytes];
  uint8_t reply[kReplyBytes];
  std::vector<double> tool, plainUs;
  tool.reserve(n);
  plainUs.reserve(n);
  int toolFailures = 0, plainFailures = 0;
  for (int i = 0; i < kWarmupExchanges; ++i) {
    toolExchange(dev, record);
    writeFull(plain, req.data(), kRequestBytes);
    readFull(plain, reply, kReplyBytes);
  }
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    if (toolExchange(dev, record) != kResultDone) ++toolFailures;
    tool.push_back(usSince(t0));
    t0 = Clock::now();
    const bool ok = writeFull(plain, req.data(), kRequestBytes) &&
                    readFull(plain, reply, kReplyBytes) &&
                    std::memcmp(reply, expected.data(), kReplyBytes) == 0;
    plainUs.push_back(usSince(t0));
    if (!ok) ++plainFailures;
  }
  const Stats t = statsOf(tool), p = statsOf(plainUs);
  printResult("korvane_read68_tcp_win", t, toolFailures);
  printResult("plain_read68_tcp_win", p, plainFailures);
  std::printf("RATIO label=korvane_read68_tcp_win median=%.3f\n",
              p.median > 0 ? t.median / p.median : 0.0);
  portClose(port);
  shutdown(plain, SD_BOTH);
  closesocket(plain);
  peer.join();
  for (SOCKET c : accepted)
    if (c != INVALID_SOCKET) closesocket(c);
  closesocket(listener);
  return toolFailures + plainFailures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int n = kDefaultExchanges;
  bool pin = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--n" && i + 1 < argc) {
      n = std::atoi(argv[++i]);
    } else if (arg == "--no-pin") {
      pin = false;
    } else {
      std::fprintf(stderr, "usage: exchange_bench_win [--n N] [--no-pin]\n");
      return 2;
    }
  }
  if (n <= 0) return 2;
  tickStart();
  portTableInit();
  if (pin) {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process)
      gAffinity = process & (~process + 1);  // the lowest CPU this process may use
  }
  pinHere();
  return run(n);
}
