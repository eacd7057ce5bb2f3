// Shared pieces of the fuzz harnesses: a reader that carves the fuzz input into fields and
// pieces, and a loopback board peer. The tool opens TCPC_ to a socket listening here, so the
// real port table and TCP transport carry the fuzzed reply bytes; the fake tick lets every
// time-out pass at once instead of in real time.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"

namespace fuzzsupport {

// A fault in the code under test that the sanitizers cannot see (a hang, an undefined result
// code): print why and abort, so libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* why) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", why);
  std::abort();
}

inline bool isDefinedResult(int r) {
  return r == kResultDone || r == kResultInProgress || r == kResultStatus || r == kResultRefused ||
         r == kResultChecksum || r == kResultTimeout || r == kResultRejected;
}

// A scratch file of this process (in memory where possible, since every run rewrites it),
// removed when the process exits.
inline std::string scratchFile(const char* tag) {
  struct Files {
    std::vector<std::string> paths;
    ~Files() {
      for (const auto& p : paths) unlink(p.c_str());
    }
  };
  static Files files;
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string name = std::string(dir) + "/korvane-fuzz-" + tag + "-XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  const int fd = mkstemp(buf.data());
  if (fd < 0) fail("cannot create a scratch file");
  close(fd);
  files.paths.emplace_back(buf.data());
  return files.paths.back();
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  size_t left() const { return n_; }
  uint8_t byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
  // Up to max bytes (fewer when the input runs out).
  std::string take(size_t max) {
    const size_t k = max < n_ ? max : n_;
    std::string s(reinterpret_cast<const char*>(p_), k);
    p_ += k;
    n_ -= k;
    return s;
  }
  std::string rest() { return take(n_); }

 private:
  const uint8_t* p_;
  size_t n_;
};

// Big enough to pass every reply budget of the engine and the boot exchange at once.
constexpr uint32_t kExpireAllMs = 20000;
// Calls of a request after the input ran out before it must have given a result.
constexpr int kMaxCallsAfterInput = 8;
constexpr int kMaxPieces = 256;
constexpr int kPeerConnectAttempts = 2000;

// The board side of a TCPC_ port, shared by all runs of one fuzz process.
class LoopbackPeer {
 public:
  static LoopbackPeer& get() {
    static LoopbackPeer peer;
    return peer;
  }

  uint16_t port() const { return port_; }

  // Before each input: the connection is up, nothing stale is buffered on either side.
  void reset() {
    ensureConnected();
    drainSent();
    portAvailable(port_);
    portFlushInput(port_);
  }

  void feed(const uint8_t* data, size_t n) {
    ensureConnected();
    while (n > 0) {
      const ssize_t w = send(peerFd_, data, n, MSG_NOSIGNAL);
      if (w <= 0) return;  // the tool dropped the link; the next reset reconnects
      data += w;
      n -= static_cast<size_t>(w);
    }
  }
  void feed(const std::string& s) { feed(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

  // Throws away what the tool sent, so the socket buffers never fill.
  void drainSent() {
    uint8_t buf[4096];
    while (peerFd_ >= 0 && recv(peerFd_, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
  }

 private:
  LoopbackPeer() {
    tickStart();
    tickUseFakeClock(true);
    tickSetFake(0xFFFF0000u);  // close to the 32-bit wrap, so deadlines cross it
    portTableInit();
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listenFd_, 4) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      fail("cannot listen on 127.0.0.1");
    fcntl(listenFd_, F_SETFL, O_NONBLOCK);
    const std::string name = "TCPC_127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    if (portOpen(name.c_str(), &port_) != 0) fail("cannot open the TCPC_ port");
    ensureConnected();
  }

  void ensureConnected() {
    const PortEntry* e = portEntry(port_);
    if (e && e->connected && peerFd_ >= 0) return;
    for (int i = 0; i < kPeerConnectAttempts; ++i) {
      portAvailable(port_);  // runs the connection step
      const int fd = accept(listenFd_, nullptr, nullptr);
      if (fd >= 0) {
        if (peerFd_ >= 0) close(peerFd_);
        peerFd_ = fd;
      }
      e = portEntry(port_);
      if (e && e->connected && peerFd_ >= 0) return;
      usleep(500);
    }
    fail("the TCP client did not connect to the loopback peer");
  }

  int listenFd_ = -1;
  int peerFd_ = -1;
  uint16_t port_ = 0;
};

// Runs one polled request against the peer: the first call sends, then the input decides,
// piece by piece, whether reply bytes arrive (a length byte below 0x80 and that many bytes)
// or time passes (0x80 and above: (b & 0x7F) * 4 ms). When the input is spent, time runs
// out for good and the request must end with a defined code within a few calls.
template <class Request>
int driveRequest(Reader& in, Request&& request) {
  LoopbackPeer& peer = LoopbackPeer::get();
  int r = request();
  for (int piece = 0; r == kResultInProgress && piece < kMaxPieces && !in.empty(); ++piece) {
    peer.drainSent();
    const uint8_t op = in.byte();
    if (op & 0x80) {
      tickAdvanceFake((op & 0x7Fu) * 4u);
    } else {
      const std::string bytes = in.take(op);
      peer.feed(bytes);
    }
    r = request();
    if (!isDefinedResult(r)) fail("a request returned an undefined result code");
  }
  for (int i = 0; r == kResultInProgress && i < kMaxCallsAfterInput; ++i) {
    peer.drainSent();
    tickAdvanceFake(kExpireAllMs);
    r = request();
  }
  if (!isDefinedResult(r)) fail("a request returned an undefined result code");
  if (r == kResultInProgress) fail("a request was still in progress long after every time-out");
  peer.drainSent();
  return r;
}

}  // namespace fuzzsupport
