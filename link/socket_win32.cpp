// The sockets seam over Winsock 2, started once for the process. A connection keeps one
// overlapped receive posted at all times: the bytes it brings are taken into the ring by the
// next pump, whether it has come is a look at the OVERLAPPED (no system call), and the
// readiness wait sleeps on its event. A pump that finds nothing therefore costs nothing, and
// an exchange costs a send, a wait and the next receive. Listeners signal an event for
// waiting connections (WSAEventSelect); a connect in progress is waited for with WSAPoll.
// The intptr_t handle of a socket is the address of its record here.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "link/socket.h"

namespace {

// A peer that stops reading for this long while our send buffer is full is given up.
constexpr uint32_t kTcpSendStallTimeoutMs = 500;
// WSAPoll takes a signed int; longer waits simply end early and are waited again.
constexpr uint32_t kMaxPollMs = 0x7FFFFFFF;
constexpr int kMaxWaitItems = kTcpServerClients + 1;
// Winsock takes lengths as int.
constexpr size_t kMaxIoBytes = 0x7FFFFFFF;
// One posted receive brings at most this much; the ring takes it from there.
constexpr DWORD kReceiveChunkBytes = 8192;

struct Socket {
  SOCKET s = INVALID_SOCKET;
  HANDLE event = nullptr;  // the posted receive's, or the listener's accept event
  bool listener = false;
  bool receiving = false;  // connected: a receive is kept posted
  bool posted = false;     // a receive is under way or done and not yet collected
  bool ended = false;      // the peer closed its side
  bool failed = false;     // the connection broke
  DWORD have = 0;          // bytes of buf collected from the last receive
  DWORD taken = 0;         // of those, moved to the ring already
  WSAOVERLAPPED ov{};
  char buf[kReceiveChunkBytes];
};

// Winsock is started once, on first use, and left to the end of the process.
bool winsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

Socket* recordOf(intptr_t s) { return reinterpret_cast<Socket*>(s); }
intptr_t handleOf(Socket* r) { return reinterpret_cast<intptr_t>(r); }

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

// A record around a socket that is not inherited by child processes.
Socket* adopt(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  auto* r = new Socket;
  r->s = s;
  r->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!r->event || !setStreamOptions(s)) {
    if (r->event) CloseHandle(r->event);
    closesocket(s);
    delete r;
    return nullptr;
  }
  return r;
}

// Posts the next receive. false when the connection refuses it (broken).
bool post(Socket* r) {
  r->ov = WSAOVERLAPPED{};
  r->ov.hEvent = r->event;
  ResetEvent(r->event);
  WSABUF b{kReceiveChunkBytes, r->buf};
  DWORD flags = 0, got = 0;
  if (WSARecv(r->s, &b, 1, &got, &flags, &r->ov, nullptr) != 0 &&
      WSAGetLastError() != WSA_IO_PENDING) {
    r->failed = true;
    return false;
  }
  r->posted = true;  // done at once or under way: either way its result is collected later
  return true;
}

// Starts receiving on a connection that has just come up.
void startReceiving(Socket* r) {
  if (r->receiving) return;
  r->receiving = true;
  post(r);
}

// True when a pump would find something: bytes, the end of the stream, or a failure.
bool hasNews(const Socket* r) {
  return r->taken < r->have || r->failed || r->ended ||
         (r->posted && HasOverlappedIoCompleted(&r->ov));
}

}  // namespace

intptr_t socketOpenStream() {
  if (!winsockStarted()) return kNoSocket;
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  // Systems before Windows 7 SP1 do not know the no-inherit flag (adopt() clears it anyway).
  if (s == INVALID_SOCKET)
    s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (s == INVALID_SOCKET) return kNoSocket;
  Socket* r = adopt(s);
  return r ? handleOf(r) : kNoSocket;
}

intptr_t socketListen(uint32_t address, uint16_t tcpPort, int backlog) {
  intptr_t h = socketOpenStream();
  if (h == kNoSocket) return kNoSocket;
  Socket* r = recordOf(h);
  r->listener = true;
  // Nobody else may take the port while we listen (Windows would otherwise let a second
  // program bind it too).
  BOOL on = TRUE;
  setsockopt(r->s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in a = ipv4(address, tcpPort);
  if (bind(r->s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(r->s, backlog) != 0 ||
      WSAEventSelect(r->s, r->event, FD_ACCEPT) != 0) {
    socketClose(h);
    return kNoSocket;
  }
  return h;
}

intptr_t socketAccept(intptr_t listener, char* peer, size_t peerSize) {
  if (listener == kNoSocket) return kNoSocket;
  Socket* l = recordOf(listener);
  // The event says whether anyone is waiting; it is cleared before the accept, and accept()
  // sets it again while more connections wait.
  if (WaitForSingleObject(l->event, 0) != WAIT_OBJECT_0) return kNoSocket;
  ResetEvent(l->event);
  sockaddr_in from{};
  int fromLength = sizeof from;
  SOCKET s = accept(l->s, reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (s == INVALID_SOCKET) return kNoSocket;
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
  std::snprintf(peer, peerSize, "%s:%u", ip, static_cast<unsigned>(ntohs(from.sin_port)));
  // An accepted socket inherits the listener's event selection; it waits its own way.
  WSAEventSelect(s, nullptr, 0);
  Socket* r = adopt(s);
  if (!r) return kNoSocket;
  startReceiving(r);
  return handleOf(r);
}

void socketClose(intptr_t& h) {
  if (h == kNoSocket) return;
  Socket* r = recordOf(h);
  shutdown(r->s, SD_BOTH);
  if (r->posted) {
    // The receive writes into the record until it ends: it must end before the record goes.
    CancelIoEx(reinterpret_cast<HANDLE>(r->s), &r->ov);
    DWORD n = 0, flags = 0;
    WSAGetOverlappedResult(r->s, &r->ov, &n, TRUE, &flags);
  }
  closesocket(r->s);
  CloseHandle(r->event);
  delete r;
  h = kNoSocket;
}

ConnectStep socketConnect(intptr_t h, uint32_t ipAddress, uint16_t tcpPort) {
  Socket* r = recordOf(h);
  sockaddr_in a = ipv4(ipAddress, tcpPort);
  if (connect(r->s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    startReceiving(r);
    return ConnectStep::Connected;
  }
  switch (WSAGetLastError()) {
    case WSAEISCONN:
      startReceiving(r);
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
ConnectStep socketConnectCheck(intptr_t h) {
  Socket* r = recordOf(h);
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(r->s, &writable);
  FD_SET(r->s, &failed);
  timeval now{0, 0};
  const int n = select(0, nullptr, &writable, &failed, &now);
  if (n == 0) return ConnectStep::Pending;
  if (n < 0 || FD_ISSET(r->s, &failed)) return ConnectStep::Failed;
  int err = 0;
  int len = sizeof err;
  if (getsockopt(r->s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0)
    return ConnectStep::Failed;
  startReceiving(r);
  return ConnectStep::Connected;
}

bool socketParseIpv4(const char* text, uint32_t* address) {
  if (!winsockStarted()) return false;
  in_addr ip{};
  if (inet_pton(AF_INET, text, &ip) != 1) return false;
  *address = ip.s_addr;
  return true;
}

bool socketSendAll(intptr_t h, const uint8_t* data, size_t count) {
  Socket* r = recordOf(h);
  size_t sent = 0;
  uint32_t stallStart = 0;
  bool stalled = false;
  while (sent < count) {
    const size_t rest = count - sent;
    const int chunk = static_cast<int>(rest > kMaxIoBytes ? kMaxIoBytes : rest);
    const int n = send(r->s, reinterpret_cast<const char*>(data + sent), chunk, 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      stalled = false;
      continue;
    }
    const int err = n < 0 ? WSAGetLastError() : 0;
    if (err == WSAEINTR) continue;
    if (err != WSAEWOULDBLOCK) return false;
    if (!stalled) {
      stalled = true;
      stallStart = monotonicMs();
    }
    const uint32_t waited = monotonicMs() - stallStart;
    if (waited >= kTcpSendStallTimeoutMs) return false;
    WSAPOLLFD p{};
    p.fd = r->s;
    p.events = POLLWRNORM;
    WSAPoll(&p, 1, static_cast<INT>(kTcpSendStallTimeoutMs - waited));
  }
  return true;
}

FillResult socketFill(PortEntry& e, uint16_t port, intptr_t h) {
  Socket* r = recordOf(h);
  if (!r->receiving) startReceiving(r);
  for (;;) {
    if (r->taken < r->have) {
      const size_t span = ringSpan(e);
      if (span == 0) return FillResult::RingFull;  // the rest waits here for a later pump
      const DWORD left = r->have - r->taken;
      const DWORD n = span < left ? static_cast<DWORD>(span) : left;
      std::memcpy(e.rxRing + e.rxWrite, r->buf + r->taken, n);
      ringCommit(e, port, n);
      r->taken += n;
      continue;
    }
    if (r->failed) return FillResult::Error;
    if (r->ended) return FillResult::EndOfStream;
    if (!r->posted && !post(r)) return FillResult::Error;
    if (!HasOverlappedIoCompleted(&r->ov)) return FillResult::Drained;
    DWORD n = 0, flags = 0;
    const BOOL ok = WSAGetOverlappedResult(r->s, &r->ov, &n, FALSE, &flags);
    r->posted = false;
    if (!ok) {
      r->failed = true;
      return FillResult::Error;
    }
    if (n == 0) {
      r->ended = true;
      return FillResult::EndOfStream;
    }
    // The next receive is posted once these bytes are in the ring: it writes into the same
    // buffer.
    r->have = n;
    r->taken = 0;
  }
}

int socketWait(SocketWait* items, int n, uint32_t timeoutMs) {
  if (n < 0 || n > kMaxWaitItems) return -1;
  bool byEvents = true;
  for (int i = 0; i < n; ++i) {
    items[i].ready = false;
    items[i].invalid = false;
    const Socket* r = recordOf(items[i].socket);
    if (items[i].forWrite || (!r->listener && !r->receiving)) byEvents = false;
  }
  if (!byEvents) {
    // A connect under way: its completion shows only to WSAPoll.
    WSAPOLLFD fds[kMaxWaitItems];
    for (int i = 0; i < n; ++i) {
      fds[i] = WSAPOLLFD{};
      fds[i].fd = recordOf(items[i].socket)->s;
      fds[i].events = items[i].forWrite ? POLLWRNORM : POLLRDNORM;
    }
    const int got = WSAPoll(
        fds, static_cast<ULONG>(n),
        timeoutMs > kMaxPollMs ? static_cast<INT>(kMaxPollMs) : static_cast<INT>(timeoutMs));
    if (got <= 0) return got < 0 ? -1 : 0;
    for (int i = 0; i < n; ++i) {
      items[i].invalid = (fds[i].revents & POLLNVAL) != 0;
      items[i].ready = fds[i].revents != 0 && !items[i].invalid;
    }
    return got;
  }
  // Connections with news are seen without a system call; only a listener needs one.
  auto look = [&](bool listeners) {
    int ready = 0;
    for (int i = 0; i < n; ++i) {
      const Socket* r = recordOf(items[i].socket);
      if (r->listener && !listeners) continue;
      items[i].ready = r->listener ? WaitForSingleObject(r->event, 0) == WAIT_OBJECT_0 : hasNews(r);
      ready += items[i].ready;
    }
    return ready;
  };
  int ready = look(false);
  if (ready > 0) return ready;
  HANDLE events[kMaxWaitItems];
  for (int i = 0; i < n; ++i) events[i] = recordOf(items[i].socket)->event;
  const DWORD w = WaitForMultipleObjects(static_cast<DWORD>(n), events, FALSE,
                                         timeoutMs >= INFINITE ? INFINITE - 1 : timeoutMs);
  if (w == WAIT_TIMEOUT) return 0;
  if (w >= WAIT_OBJECT_0 + static_cast<DWORD>(n)) return -1;
  return look(true);
}
