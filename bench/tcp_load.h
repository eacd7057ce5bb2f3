// The tool's TCP server (TCPS_) under load: 16 peers sending at once, a 17th kept waiting
// until a slot frees, one peer flooding faster than the tool reads while another talks, and
// peers that connect and vanish. Every byte a peer sends names the peer (high nibble) and its
// place in the peer's stream (low nibble), so the merged ring can be checked for loss,
// duplicates and order. Shared by the tcp_load bench and its test; loopback only.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/tick.h"

namespace tcpload {

constexpr int kPeers = kTcpServerClients;  // 16
constexpr uint32_t kPhaseTimeoutMs = 20000;
constexpr uint32_t kSeventeenthQuietMs = 300;  // the 17th must stay unheard this long
constexpr uint32_t kAcceptAfterFreeMs = 2000;
constexpr int kReadChunk = 64;
constexpr int kSlowReadPauseUs = 200;  // the slow reader of the flood phase

struct Config {
  int bytesPerPeer = 20000;  // phase 1
  int floodBytes = 2000000;  // phase 3
  int vanishing = 64;        // phase 4
};

struct Figures {
  // phase 1
  double allPeersMBps = 0;
  uint32_t allPeersMs = 0;
  // phase 2
  int seventeenthEarlyBytes = -1;    // bytes of the 17th seen while all 16 slots were busy
  uint32_t seventeenthAcceptMs = 0;  // from the slot freeing to its first byte
  bool seventeenthDelivered = false;
  // phase 3
  double floodMBps = 0;
  int floodMaxRing = 0;
  bool talkerHeardDuringFlood = false;
  // phase 4
  int vanished = 0;
  int slotsBusyAfterVanish = -1;
  bool reusedAllSlots = false;
  // order and loss over every phase
  uint32_t phaseMs[4] = {0, 0, 0, 0};
  long long bytesChecked = 0;
  int orderErrors = 0;
  std::string error;
  bool ok() const {
    return error.empty() && orderErrors == 0 && seventeenthEarlyBytes == 0 &&
           seventeenthDelivered && talkerHeardDuringFlood && slotsBusyAfterVanish == 0 &&
           reusedAllSlots;
  }
};

// Connects without blocking the thread that must accept: the tool's accept step runs (on
// its port) while the handshake completes, since a full listen backlog would stall connect.
inline int connectTo(int port, uint16_t toolPort) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  for (uint32_t s = monotonicMs(); monotonicMs() - s < kPhaseTimeoutMs;) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 0) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) break;
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    portWaitInput(toolPort, 1);
  }
  close(fd);
  return -1;
}

inline uint8_t tagged(int peer, long long i) {
  return static_cast<uint8_t>(peer << 4 | (i & 0x0F));
}

inline bool sendTagged(int fd, int peer, long long from, long long count, int chunk = 512) {
  std::vector<uint8_t> buf(static_cast<size_t>(chunk));
  for (long long i = 0; i < count;) {
    const int n = static_cast<int>(std::min<long long>(chunk, count - i));
    for (int k = 0; k < n; ++k) buf[k] = tagged(peer, from + i + k);
    const uint8_t* p = buf.data();
    int left = n;
    while (left > 0) {
      const ssize_t w = send(fd, p, static_cast<size_t>(left), MSG_NOSIGNAL);
      if (w <= 0) return false;
      p += w;
      left -= static_cast<int>(w);
    }
    i += n;
  }
  return true;
}

inline int busySlots(uint16_t port) {
  const PortEntry* e = portEntry(port);
  int n = 0;
  for (int i = 0; e && i < kTcpServerClients; ++i) n += e->clientSocket[i] >= 0;
  return n;
}

// Takes what the ring holds and checks it byte by byte against each peer's stream.
class Checker {
 public:
  explicit Checker(uint16_t port, Figures& f) : port_(port), f_(f) {}
  // Reads until every peer in want reached its count or the time-out; false on time-out.
  bool readUntil(const std::vector<long long>& want, uint32_t timeoutMs, int pauseUs = 0) {
    const uint32_t start = monotonicMs();
    for (;;) {
      bool done = true;
      for (int p = 0; p < kPeers; ++p) done = done && got[p] >= want[p];
      if (done) return true;
      if (monotonicMs() - start > timeoutMs) return false;
      if (!take(pauseUs)) portWaitInput(port_, 5);
    }
  }
  // One read step; true when bytes came.
  bool take(int pauseUs = 0) {
    const int avail = portAvailable(port_);
    if (avail > f_.floodMaxRing) f_.floodMaxRing = avail;
    if (avail <= 0) return false;
    const int n = pauseUs > 0 ? std::min(avail, kReadChunk) : avail;
    std::vector<uint8_t> buf(static_cast<size_t>(n));
    if (!portRead(port_, buf.data(), static_cast<size_t>(n))) return false;
    for (uint8_t b : buf) {
      const int p = b >> 4;
      if ((b & 0x0F) != (got[p] & 0x0F)) ++f_.orderErrors;
      ++got[p];
      ++f_.bytesChecked;
    }
    if (pauseUs > 0) usleep(static_cast<useconds_t>(pauseUs));
    return true;
  }
  long long got[kPeers] = {};

 private:
  uint16_t port_;
  Figures& f_;
};

inline Figures run(const Config& cfg, int tcpPort) {
  Figures f;
  tickStart();
  portTableInit();
  uint16_t port = 0;
  const std::string name = "TCPS_" + std::to_string(tcpPort);
  if (portOpen(name.c_str(), &port) != 0) {
    f.error = "cannot open " + name;
    return f;
  }
  Checker check(port, f);
  std::vector<long long> sent(kPeers, 0);

  uint32_t phaseStart = monotonicMs();
  auto endPhase = [&](int i) {
    f.phaseMs[i] = monotonicMs() - phaseStart;
    phaseStart = monotonicMs();
  };
  // ---- phase 1: 16 peers connect and send at once ----
  std::vector<int> fds(kPeers, -1);
  for (int p = 0; p < kPeers; ++p) fds[p] = connectTo(tcpPort, port);
  for (uint32_t s = monotonicMs(); busySlots(port) < kPeers && monotonicMs() - s < kPhaseTimeoutMs;)
    portWaitInput(port, 5);
  if (busySlots(port) != kPeers) {
    f.error = "the 16 peers were not all accepted";
    portClose(port);
    return f;
  }
  {
    const uint32_t t0 = monotonicMs();
    std::vector<std::thread> senders;
    for (int p = 0; p < kPeers; ++p)
      senders.emplace_back([&, p] { sendTagged(fds[p], p, 0, cfg.bytesPerPeer); });
    for (int p = 0; p < kPeers; ++p) sent[p] = cfg.bytesPerPeer;
    const bool all = check.readUntil(sent, kPhaseTimeoutMs);
    for (auto& t : senders) t.join();
    f.allPeersMs = monotonicMs() - t0;
    f.allPeersMBps =
        f.allPeersMs ? kPeers * static_cast<double>(cfg.bytesPerPeer) / 1e3 / f.allPeersMs : 0;
    if (!all) f.error = "phase 1: not every byte of the 16 peers arrived";
  }

  endPhase(0);
  // ---- phase 2: a 17th peer waits until a slot frees ----
  {
    const int extra = connectTo(tcpPort, port);
    // It may already be in the backlog; what it sends must not be heard yet.
    const uint8_t hello[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    send(extra, hello, sizeof hello, MSG_NOSIGNAL);
    const uint32_t q = monotonicMs();
    int early = 0;
    while (monotonicMs() - q < kSeventeenthQuietMs) {
      early += portAvailable(port);
      portFlushInput(port);
      portWaitInput(port, 5);
    }
    f.seventeenthEarlyBytes = early;
    // Peer 3 leaves: its slot goes to the waiting peer, whose bytes then arrive.
    close(fds[3]);
    fds[3] = -1;
    const uint32_t t0 = monotonicMs();
    int heard = 0;
    while (monotonicMs() - t0 < kAcceptAfterFreeMs && heard < 8) {
      const int n = portAvailable(port);
      if (n > 0) {
        std::vector<uint8_t> b(static_cast<size_t>(n));
        portRead(port, b.data(), b.size());
        heard += static_cast<int>(std::count(b.begin(), b.end(), 0xFF));
        if (heard >= 8 && !f.seventeenthAcceptMs) f.seventeenthAcceptMs = monotonicMs() - t0;
      } else {
        portWaitInput(port, 5);
      }
    }
    f.seventeenthDelivered = heard == 8;
    close(extra);
  }

  endPhase(1);
  // ---- phase 3: one peer floods, the tool reads slowly, another peer talks meanwhile ----
  {
    const int flooder = 0, talker = 1;
    for (uint32_t s = monotonicMs();
         busySlots(port) > kPeers - 1 && monotonicMs() - s < kPhaseTimeoutMs;)
      portWaitInput(port, 5);  // the 17th has gone (peer 3 left before)
    std::vector<long long> want(kPeers, 0);
    for (int p = 0; p < kPeers; ++p) want[p] = check.got[p];
    const long long floodFrom = check.got[flooder];
    const long long talkFrom = check.got[talker];
    want[flooder] += cfg.floodBytes;
    want[talker] += 100;
    f.floodMaxRing = 0;
    const uint32_t t0 = monotonicMs();
    std::thread flood([&] { sendTagged(fds[flooder], flooder, floodFrom, cfg.floodBytes, 8192); });
    std::thread talk([&] {
      for (int i = 0; i < 100; ++i) {
        sendTagged(fds[talker], talker, talkFrom + i, 1);
        usleep(2000);
      }
    });
    // The talker must be heard while the flood is still running.
    while (monotonicMs() - t0 < kPhaseTimeoutMs && check.got[flooder] < want[flooder]) {
      check.take(kSlowReadPauseUs);
      if (check.got[talker] > talkFrom && check.got[flooder] < want[flooder])
        f.talkerHeardDuringFlood = true;
    }
    const bool all = check.readUntil(want, kPhaseTimeoutMs);
    flood.join();
    talk.join();
    const uint32_t ms = monotonicMs() - t0;
    f.floodMBps = ms ? cfg.floodBytes / 1e3 / ms : 0;
    if (!all) f.error = "phase 3: the flood or the talker lost bytes";
  }

  endPhase(2);
  // ---- phase 4: peers that connect and vanish ----
  {
    for (int p = 0; p < kPeers; ++p)
      if (fds[p] >= 0) close(fds[p]);
    for (int i = 0; i < cfg.vanishing; ++i) {
      const int fd = connectTo(tcpPort, port);
      if (fd < 0) continue;
      if (i % 3 == 1) {
        const uint8_t junk[3] = {0xF0, 0xF1, 0xF2};  // peer 15's tag; flushed below
        send(fd, junk, sizeof junk, MSG_NOSIGNAL);
      }
      if (i % 3 == 2) {
        linger lg{1, 0};  // vanish with a reset instead of a close
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
      }
      portAvailable(port);
      close(fd);
      ++f.vanished;
    }
    // The tool notices every departure on its next pumps (a write too may find one).
    const uint8_t ping = 0x55;
    for (uint32_t s = monotonicMs(); busySlots(port) > 0 && monotonicMs() - s < kPhaseTimeoutMs;) {
      portWrite(port, &ping, 1);
      portAvailable(port);
      portFlushInput(port);
      portWaitInput(port, 5);
    }
    f.slotsBusyAfterVanish = busySlots(port);
    std::vector<int> again;
    for (int p = 0; p < kPeers; ++p) again.push_back(connectTo(tcpPort, port));
    for (uint32_t s = monotonicMs();
         busySlots(port) < kPeers && monotonicMs() - s < kPhaseTimeoutMs;)
      portWaitInput(port, 5);
    f.reusedAllSlots = busySlots(port) == kPeers;
    for (int fd : again)
      if (fd >= 0) close(fd);
  }
  endPhase(3);
  portClose(port);
  return f;
}

inline void printFigures(const Config& cfg, const Figures& f, FILE* out) {
  std::fprintf(out, "%-52s %12s\n", "TCP server load", "figure");
  std::fprintf(out, "%-52s %12d\n", "peers sending at once", kPeers);
  std::fprintf(out, "%-52s %12d\n", "  bytes each", cfg.bytesPerPeer);
  std::fprintf(out, "%-52s %12u\n", "  all delivered in (ms)", f.allPeersMs);
  std::fprintf(out, "%-52s %12.2f\n", "  throughput (MB/s)", f.allPeersMBps);
  std::fprintf(out, "%-52s %12d\n", "17th peer: bytes heard while 16 slots busy",
               f.seventeenthEarlyBytes);
  std::fprintf(out, "%-52s %12u\n", "17th peer: heard after a slot freed (ms)",
               f.seventeenthAcceptMs);
  std::fprintf(out, "%-52s %12d\n", "flood bytes (slow reader)", cfg.floodBytes);
  std::fprintf(out, "%-52s %12.2f\n", "  flood throughput (MB/s)", f.floodMBps);
  std::fprintf(out, "%-52s %12d\n", "  most bytes held in the ring", f.floodMaxRing);
  std::fprintf(out, "%-52s %12s\n", "  second peer heard during the flood",
               f.talkerHeardDuringFlood ? "yes" : "no");
  std::fprintf(out, "%-52s %12d\n", "peers that connected and vanished", f.vanished);
  std::fprintf(out, "%-52s %12d\n", "  slots still busy afterwards", f.slotsBusyAfterVanish);
  std::fprintf(out, "%-52s %12s\n", "  16 new peers accepted afterwards",
               f.reusedAllSlots ? "yes" : "no");
  std::fprintf(out, "%-52s %12lld\n", "bytes checked for order and loss", f.bytesChecked);
  std::fprintf(out, "%-52s %12d\n", "bytes out of order, lost or doubled", f.orderErrors);
  for (int i = 0; i < 4; ++i) {
    char label[64];
    std::snprintf(label, sizeof label, "phase %d took (ms)", i + 1);
    std::fprintf(out, "%-52s %12u\n", label, f.phaseMs[i]);
  }
  if (!f.error.empty()) std::fprintf(out, "error: %s\n", f.error.c_str());
}

}  // namespace tcpload
