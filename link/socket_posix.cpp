// The sockets seam over BSD sockets: socket set-up, orderly close, non-blocking connect,
// bounded sends that never raise SIGPIPE, receives straight into the ring, and poll().
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/socket.h"

namespace {

// A peer that stops reading for this long while our send buffer is full is given up.
constexpr uint32_t kTcpSendStallTimeoutMs = 500;
// poll() takes a signed int; longer waits simply end early and are waited again.
constexpr uint32_t kMaxPollMs = 0x7FFFFFFF;
constexpr int kMaxWaitItems = kTcpServerClients + 1;

bool setStreamOptions(int fd) {
  int on = 1;
  return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

sockaddr_in ipv4(uint32_t address, uint16_t tcpPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = htons(tcpPort);
  return a;
}

}  // namespace

intptr_t socketOpenStream() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  if (!setStreamOptions(fd)) {
    int err = errno;
    close(fd);
    errno = err;
    return kNoSocket;
  }
  return fd;
}

intptr_t socketListen(uint32_t address, uint16_t tcpPort, int backlog) {
  intptr_t s = socketOpenStream();
  if (s < 0) return kNoSocket;
  const int fd = static_cast<int>(s);
  int on = 1;
  // Lets the tool (and the tests) listen again at once after a close.
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = ipv4(address, tcpPort);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    socketClose(s);
    return kNoSocket;
  }
  return s;
}

intptr_t socketAccept(intptr_t listener, char* peer, size_t peerSize) {
  if (listener < 0) return kNoSocket;
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from),
                         &fromLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return kNoSocket;
  setStreamOptions(fd);
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
  std::snprintf(peer, peerSize, "%s:%u", ip, static_cast<unsigned>(ntohs(from.sin_port)));
  return fd;
}

void socketClose(intptr_t& s) {
  if (s >= 0) {
    shutdown(static_cast<int>(s), SHUT_RDWR);
    close(static_cast<int>(s));
  }
  s = kNoSocket;
}

ConnectStep socketConnect(intptr_t s, uint32_t ipAddress, uint16_t tcpPort) {
  sockaddr_in a = ipv4(ipAddress, tcpPort);
  if (connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ||
      errno == EISCONN)
    return ConnectStep::Connected;
  if (errno == EINPROGRESS || errno == EALREADY || errno == EAGAIN) return ConnectStep::Pending;
  return ConnectStep::Failed;
}

ConnectStep socketConnectCheck(intptr_t s) {
  pollfd p{static_cast<int>(s), POLLOUT, 0};
  const int r = poll(&p, 1, 0);
  if (r == 0) return ConnectStep::Pending;
  if (r < 0) return ConnectStep::Failed;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
    return ConnectStep::Connected;
  return ConnectStep::Failed;
}

bool socketParseIpv4(const char* text, uint32_t* address) {
  in_addr ip{};
  if (inet_pton(AF_INET, text, &ip) != 1) return false;
  *address = ip.s_addr;
  return true;
}

bool socketSendAll(intptr_t s, const uint8_t* data, size_t count) {
  const int fd = static_cast<int>(s);
  size_t sent = 0;
  uint32_t stallStart = 0;
  bool stalled = false;
  while (sent < count) {
    ssize_t r = send(fd, data + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r > 0) {
      sent += static_cast<size_t>(r);
      stalled = false;
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!stalled) {
        stalled = true;
        stallStart = monotonicMs();
      }
      const uint32_t waited = monotonicMs() - stallStart;
      if (waited >= kTcpSendStallTimeoutMs) return false;
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, static_cast<int>(kTcpSendStallTimeoutMs - waited));
      continue;
    }
    return false;
  }
  return true;
}

FillResult socketFill(PortEntry& e, uint16_t port, intptr_t s) {
  for (;;) {
    const size_t span = ringSpan(e);
    if (span == 0) return FillResult::RingFull;
    const ssize_t r = recv(static_cast<int>(s), e.rxRing + e.rxWrite, span, MSG_DONTWAIT);
    if (r > 0) {
      ringCommit(e, port, static_cast<size_t>(r));
      if (static_cast<size_t>(r) < span) return FillResult::Drained;
      continue;
    }
    if (r == 0) return FillResult::EndOfStream;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return FillResult::Drained;
    return FillResult::Error;
  }
}

int socketWait(SocketWait* items, int n, uint32_t timeoutMs) {
  if (n < 0 || n > kMaxWaitItems) return -1;
  pollfd fds[kMaxWaitItems];
  for (int i = 0; i < n; ++i) {
    fds[i] = pollfd{static_cast<int>(items[i].socket),
                    static_cast<short>(items[i].forWrite ? POLLOUT : POLLIN), 0};
    items[i].ready = false;
    items[i].invalid = false;
  }
  const uint32_t start = monotonicMs();
  int r;
  for (;;) {
    const uint32_t elapsed = monotonicMs() - start;
    const uint32_t left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    r = poll(fds, static_cast<nfds_t>(n),
             left > kMaxPollMs ? static_cast<int>(kMaxPollMs) : static_cast<int>(left));
    if (r >= 0 || errno != EINTR) break;
  }
  if (r <= 0) return r;
  for (int i = 0; i < n; ++i) {
    items[i].invalid = (fds[i].revents & POLLNVAL) != 0;
    items[i].ready = fds[i].revents != 0 && !items[i].invalid;
  }
  return r;
}
