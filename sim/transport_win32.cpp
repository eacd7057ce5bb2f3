// TCP server and TCP client transports of the simulator over Winsock 2. Windows has no
// pseudo-terminals, so --pty is refused there; a COM port reaches the simulator through a
// null-modem pair and a TCP gateway, or the tool opens TCPC_/TCPS_ directly.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstring>

#include "sim/transport.h"

namespace sim {

namespace {

constexpr int kWriteWaitMs = 1000;  // longest wait for a full socket buffer

void setNonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

void setNoDelay(SOCKET s) {
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Winsock is started once, on first use (the simulator's process set-up starts it too).
bool winsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// A socket the tools' own child processes do not inherit.
SOCKET openSocket() {
  if (!winsockStarted()) return INVALID_SOCKET;
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET)
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  return s;
}

std::string errorText(int code) {
  char text[256];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string out = n ? std::string(text, n) : "error " + std::to_string(code);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
    out.pop_back();
  return out;
}

bool writeFully(SOCKET s, const uint8_t* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    const int w =
        send(s, reinterpret_cast<const char*>(data + done), static_cast<int>(n - done), 0);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
      WSAPOLLFD p{};
      p.fd = s;
      p.events = POLLWRNORM;
      if (WSAPoll(&p, 1, kWriteWaitMs) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

long readSocket(SOCKET s, uint8_t* buf, size_t cap) {
  const int r = recv(s, reinterpret_cast<char*>(buf), static_cast<int>(cap), 0);
  if (r > 0) return r;
  if (r == 0) return -1;
  const int err = WSAGetLastError();
  return err == WSAEWOULDBLOCK || err == WSAEINTR ? 0 : -1;
}

bool parseAddress(const std::string& host, sockaddr_in* sa, int port) {
  if (!winsockStarted()) return false;
  std::memset(sa, 0, sizeof *sa);
  sa->sin_family = AF_INET;
  sa->sin_port = htons(static_cast<uint16_t>(port));
  const std::string h = host == "localhost" ? "127.0.0.1" : host;
  return inet_pton(AF_INET, h.c_str(), &sa->sin_addr) == 1;
}

void closeSocket(SOCKET& s) {
  if (s != INVALID_SOCKET) closesocket(s);
  s = INVALID_SOCKET;
}

intptr_t handleOf(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s); }

// Accepts successive connections; the newest one carries the bus (a tool that reconnects
// replaces its old connection).
class ListenTransport : public Transport {
 public:
  ListenTransport(std::string host, int port) : host_(std::move(host)), port_(port) {}
  ~ListenTransport() override {
    closeStream();
    closeSocket(lfd_);
  }
  bool open(std::string* ready, std::string* err) override {
    sockaddr_in sa;
    if (!parseAddress(host_, &sa, port_)) {
      *err = "bad listen address " + host_;
      return false;
    }
    lfd_ = openSocket();
    BOOL on = TRUE;
    setsockopt(lfd_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    if (lfd_ == INVALID_SOCKET || bind(lfd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(lfd_, 5) != 0) {
      *err = "cannot listen on " + host_ + ":" + std::to_string(port_) + ": " +
             errorText(WSAGetLastError());
      return false;
    }
    setNonBlocking(lfd_);
    int len = sizeof sa;
    getsockname(lfd_, reinterpret_cast<sockaddr*>(&sa), &len);
    *ready = "listening on " + host_ + ":" + std::to_string(ntohs(sa.sin_port));
    return true;
  }
  intptr_t serviceHandle(bool* forWrite) const override {
    *forWrite = false;
    return handleOf(lfd_);
  }
  intptr_t streamHandle() const override { return handleOf(cfd_); }
  bool service(uint64_t, std::string* note) override {
    sockaddr_in from{};
    int fromLength = sizeof from;
    SOCKET s = accept(lfd_, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (s == INVALID_SOCKET) return false;
    note->clear();
    if (cfd_ != INVALID_SOCKET) *note = "Peer " + peer_ + " left\n";
    closeStream();
    cfd_ = s;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    setNonBlocking(cfd_);
    setNoDelay(cfd_);
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    peer_ = std::string(ip) + ":" + std::to_string(ntohs(from.sin_port));
    *note += "Peer " + peer_ + " connected";
    return true;
  }
  std::string peerName() const override { return cfd_ != INVALID_SOCKET ? peer_ : std::string(); }
  long readSome(uint8_t* buf, size_t cap) override {
    return cfd_ == INVALID_SOCKET ? 0 : readSocket(cfd_, buf, cap);
  }
  bool writeAll(const uint8_t* d, size_t n) override {
    return cfd_ != INVALID_SOCKET && writeFully(cfd_, d, n);
  }
  void closeStream() override { closeSocket(cfd_); }

 private:
  std::string host_;
  int port_;
  SOCKET lfd_ = INVALID_SOCKET;
  SOCKET cfd_ = INVALID_SOCKET;
  std::string peer_;
};

// Connects to the tool's TCP server and keeps reconnecting whenever the link drops. The
// connect itself is non-blocking: a peer that is slow to answer never holds up the boards.
class ConnectTransport : public Transport {
 public:
  ConnectTransport(std::string host, int port) : host_(std::move(host)), port_(port) {}
  ~ConnectTransport() override {
    closeStream();
    closeSocket(pending_);
  }
  bool open(std::string* ready, std::string* err) override {
    if (!parseAddress(host_, &sa_, port_)) {
      *err = "bad address " + host_;
      return false;
    }
    *ready = "connecting to " + host_ + ":" + std::to_string(port_);
    return true;
  }
  intptr_t serviceHandle(bool* forWrite) const override {
    *forWrite = true;
    return handleOf(pending_);
  }
  uint64_t serviceDueMs() const override {
    if (fd_ != INVALID_SOCKET) return kNoServiceDueMs;
    return pending_ != INVALID_SOCKET ? giveUpMs_ : nextTryMs_;
  }
  intptr_t streamHandle() const override { return handleOf(fd_); }
  bool service(uint64_t nowMs, std::string* note) override {
    if (fd_ != INVALID_SOCKET) return false;
    if (pending_ != INVALID_SOCKET) return finishAttempt(nowMs, note);
    if (nowMs < nextTryMs_) return false;
    nextTryMs_ = nowMs + kConnectRetryMs;
    SOCKET s = openSocket();
    if (s == INVALID_SOCKET) return false;
    setNonBlocking(s);
    if (connect(s, reinterpret_cast<const sockaddr*>(&sa_), sizeof sa_) == 0) return adopt(s, note);
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      closesocket(s);
      return false;
    }
    pending_ = s;
    giveUpMs_ = nowMs + kConnectTimeoutMs;
    return false;
  }
  long readSome(uint8_t* buf, size_t cap) override {
    return fd_ == INVALID_SOCKET ? 0 : readSocket(fd_, buf, cap);
  }
  bool writeAll(const uint8_t* d, size_t n) override {
    return fd_ != INVALID_SOCKET && writeFully(fd_, d, n);
  }
  void closeStream() override { closeSocket(fd_); }

 private:
  // The attempt in progress has finished (writable), failed (refused), or run out of time.
  // select() reports a refused connect in its exception set on every Windows version.
  bool finishAttempt(uint64_t nowMs, std::string* note) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(pending_, &writable);
    FD_SET(pending_, &failed);
    timeval now{0, 0};
    const int r = select(0, nullptr, &writable, &failed, &now);
    if (r > 0 && FD_ISSET(pending_, &writable) && !FD_ISSET(pending_, &failed)) {
      const SOCKET s = pending_;
      pending_ = INVALID_SOCKET;
      return adopt(s, note);
    }
    if (r > 0 || r < 0) {
      closeSocket(pending_);
      nextTryMs_ = nowMs + kConnectRetryMs;
      return false;
    }
    if (nowMs >= giveUpMs_) {
      closeSocket(pending_);
      nextTryMs_ = nowMs;  // try again at once: the give-up was the wait
    }
    return false;
  }
  bool adopt(SOCKET s, std::string* note) {
    setNoDelay(s);
    fd_ = s;
    *note = "connected to " + host_ + ":" + std::to_string(port_);
    return true;
  }

  std::string host_;
  int port_;
  sockaddr_in sa_{};
  SOCKET fd_ = INVALID_SOCKET;
  SOCKET pending_ = INVALID_SOCKET;  // socket of the connect in progress
  uint64_t nextTryMs_ = 0;
  uint64_t giveUpMs_ = 0;
};

}  // namespace

std::unique_ptr<Transport> makeListenTransport(const std::string& host, int port) {
  return std::make_unique<ListenTransport>(host, port);
}
std::unique_ptr<Transport> makeConnectTransport(const std::string& host, int port) {
  return std::make_unique<ConnectTransport>(host, port);
}
std::unique_ptr<Transport> makePtyTransport(const std::string&) { return nullptr; }

const char* ptyUnavailableReason() {
  return "Windows has no pseudo-terminals; use --listen or --connect (the tool opens "
         "TCPC_HOST:PORT or TCPS_PORT)";
}

}  // namespace sim
