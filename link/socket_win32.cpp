// The sockets seam over Winsock 2: started once for the process, sockets that are
// non-blocking and not inherited by child processes, non-blocking connect checked with
// select(), bounded sends, receives straight into the ring, and WSAPoll().
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdio>

#include "link/socket.h"

namespace {

// A peer that stops reading for this long while our send buffer is full is given up.
constexpr uint32_t kTcpSendStallTimeoutMs = 500;
// WSAPoll takes a signed int; longer waits simply end early and are waited again.
constexpr uint32_t kMaxPollMs = 0x7FFFFFFF;
constexpr int kMaxWaitItems = kTcpServerClients + 1;
// Winsock takes lengths as int.
constexpr size_t kMaxIoBytes = 0x7FFFFFFF;

// Winsock is started once, on first use, and left to the end of the process.
bool winsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET raw(intptr_t s) { return static_cast<SOCKET>(s); }

bool setStreamOptions(SOCKET s) {
  BOOL on = TRUE;
  u_long nonBlocking = 1;
  return ioctlsocket(s, FIONBIO, &nonBlocking) == 0 &&
         setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) ==
             0 &&
         setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) ==
             0;
}

sockaddr_in ipv4(uint32_t address, uint16_t tcpPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = htons(tcpPort);
  return a;
}

// Sleeps until the socket can take more bytes or ms pass.
void waitWritable(SOCKET s, uint32_t ms) {
  WSAPOLLFD p{};
  p.fd = s;
  p.events = POLLWRNORM;
  WSAPoll(&p, 1, static_cast<INT>(ms));
}

}  // namespace

intptr_t socketOpenStream() {
  if (!winsockStarted()) return kNoSocket;
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    // Systems before Windows 7 SP1 do not know the no-inherit flag.
    s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) return kNoSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  if (!setStreamOptions(s)) {
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<intptr_t>(s);
}

intptr_t socketListen(uint32_t address, uint16_t tcpPort, int backlog) {
  intptr_t s = socketOpenStream();
  if (s == kNoSocket) return kNoSocket;
  // Nobody else may take the port while we listen (Windows would otherwise let a second
  // program bind it too).
  BOOL on = TRUE;
  setsockopt(raw(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
             sizeof on);
  sockaddr_in a = ipv4(address, tcpPort);
  if (bind(raw(s), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(raw(s), backlog) != 0) {
    socketClose(s);
    return kNoSocket;
  }
  return s;
}

intptr_t socketAccept(intptr_t listener, char* peer, size_t peerSize) {
  if (listener == kNoSocket) return kNoSocket;
  sockaddr_in from{};
  int fromLength = sizeof from;
  SOCKET s = accept(raw(listener), reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (s == INVALID_SOCKET) return kNoSocket;
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
  std::snprintf(peer, peerSize, "%s:%u", ip, static_cast<unsigned>(ntohs(from.sin_port)));
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  if (!setStreamOptions(s)) {
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<intptr_t>(s);
}

void socketClose(intptr_t& s) {
  if (s != kNoSocket) {
    shutdown(raw(s), SD_BOTH);
    closesocket(raw(s));
  }
  s = kNoSocket;
}

ConnectStep socketConnect(intptr_t s, uint32_t ipAddress, uint16_t tcpPort) {
  sockaddr_in a = ipv4(ipAddress, tcpPort);
  if (connect(raw(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
    return ConnectStep::Connected;
  switch (WSAGetLastError()) {
    case WSAEISCONN:
      return ConnectStep::Connected;
    case WSAEWOULDBLOCK:
    case WSAEALREADY:
    case WSAEINVAL:  // older stacks say so for a connect already under way
      return ConnectStep::Pending;
    default:
      return ConnectStep::Failed;
  }
}

// select() rather than WSAPoll: the latter does not report a refused connect on every
// Windows version, while select() puts it in the exception set.
ConnectStep socketConnectCheck(intptr_t s) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(raw(s), &writable);
  FD_SET(raw(s), &failed);
  timeval now{0, 0};
  const int r = select(0, nullptr, &writable, &failed, &now);
  if (r == 0) return ConnectStep::Pending;
  if (r < 0 || FD_ISSET(raw(s), &failed)) return ConnectStep::Failed;
  int err = 0;
  int len = sizeof err;
  if (getsockopt(raw(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 &&
      err == 0)
    return ConnectStep::Connected;
  return ConnectStep::Failed;
}

bool socketParseIpv4(const char* text, uint32_t* address) {
  if (!winsockStarted()) return false;
  in_addr ip{};
  if (inet_pton(AF_INET, text, &ip) != 1) return false;
  *address = ip.s_addr;
  return true;
}

bool socketSendAll(intptr_t s, const uint8_t* data, size_t count) {
  size_t sent = 0;
  uint32_t stallStart = 0;
  bool stalled = false;
  while (sent < count) {
    const size_t rest = count - sent;
    const int chunk = static_cast<int>(rest > kMaxIoBytes ? kMaxIoBytes : rest);
    const int r = send(raw(s), reinterpret_cast<const char*>(data + sent), chunk, 0);
    if (r > 0) {
      sent += static_cast<size_t>(r);
      stalled = false;
      continue;
    }
    const int err = r < 0 ? WSAGetLastError() : 0;
    if (err == WSAEINTR) continue;
    if (err != WSAEWOULDBLOCK) return false;
    if (!stalled) {
      stalled = true;
      stallStart = monotonicMs();
    }
    const uint32_t waited = monotonicMs() - stallStart;
    if (waited >= kTcpSendStallTimeoutMs) return false;
    waitWritable(raw(s), kTcpSendStallTimeoutMs - waited);
  }
  return true;
}

FillResult socketFill(PortEntry& e, uint16_t port, intptr_t s) {
  for (;;) {
    const size_t span = ringSpan(e);
    if (span == 0) return FillResult::RingFull;
    const int r =
        recv(raw(s), reinterpret_cast<char*>(e.rxRing + e.rxWrite), static_cast<int>(span), 0);
    if (r > 0) {
      ringCommit(e, port, static_cast<size_t>(r));
      if (static_cast<size_t>(r) < span) return FillResult::Drained;
      continue;
    }
    if (r == 0) return FillResult::EndOfStream;
    const int err = WSAGetLastError();
    if (err == WSAEINTR) continue;
    if (err == WSAEWOULDBLOCK) return FillResult::Drained;
    return FillResult::Error;
  }
}

int socketWait(SocketWait* items, int n, uint32_t timeoutMs) {
  if (n < 0 || n > kMaxWaitItems) return -1;
  WSAPOLLFD fds[kMaxWaitItems];
  for (int i = 0; i < n; ++i) {
    fds[i] = WSAPOLLFD{};
    fds[i].fd = raw(items[i].socket);
    fds[i].events = items[i].forWrite ? POLLWRNORM : POLLRDNORM;
    items[i].ready = false;
    items[i].invalid = false;
  }
  const int r =
      WSAPoll(fds, static_cast<ULONG>(n),
              timeoutMs > kMaxPollMs ? static_cast<INT>(kMaxPollMs) : static_cast<INT>(timeoutMs));
  if (r <= 0) return r < 0 ? -1 : 0;
  for (int i = 0; i < n; ++i) {
    items[i].invalid = (fds[i].revents & POLLNVAL) != 0;
    items[i].ready = fds[i].revents != 0 && !items[i].invalid;
  }
  return r;
}
