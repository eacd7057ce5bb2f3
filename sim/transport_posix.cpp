// TCP server, TCP client and pseudo-terminal transports of the simulator over POSIX
// descriptors.
#include "sim/transport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace sim {

namespace {

constexpr int kWriteWaitMs = 1000;  // longest wait for a full socket or terminal buffer

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

bool writeFully(int fd, const uint8_t* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd, data + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, kWriteWaitMs) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

long readFd(int fd, uint8_t* buf, size_t cap, bool eofEnds) {
  ssize_t r = ::read(fd, buf, cap);
  if (r > 0) return r;
  if (r == 0) return eofEnds ? -1 : 0;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return eofEnds ? -1 : 0;
}

bool parseAddress(const std::string& host, sockaddr_in* sa, int port) {
  std::memset(sa, 0, sizeof *sa);
  sa->sin_family = AF_INET;
  sa->sin_port = htons(static_cast<uint16_t>(port));
  const std::string h = host == "localhost" ? "127.0.0.1" : host;
  return inet_pton(AF_INET, h.c_str(), &sa->sin_addr) == 1;
}

// Accepts successive connections; the newest one carries the bus (a tool that reconnects
// replaces its old connection).
class ListenTransport : public Transport {
 public:
  ListenTransport(std::string host, int port) : host_(std::move(host)), port_(port) {}
  ~ListenTransport() override {
    closeStream();
    if (lfd_ >= 0) ::close(lfd_);
  }
  bool open(std::string* ready, std::string* err) override {
    sockaddr_in sa;
    if (!parseAddress(host_, &sa, port_)) {
      *err = "bad listen address " + host_;
      return false;
    }
    lfd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(lfd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (lfd_ < 0 || ::bind(lfd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(lfd_, 5) != 0) {
      *err = std::string("cannot listen on ") + host_ + ":" + std::to_string(port_) + ": " +
             std::strerror(errno);
      return false;
    }
    setNonBlocking(lfd_);
    socklen_t len = sizeof sa;
    getsockname(lfd_, reinterpret_cast<sockaddr*>(&sa), &len);
    *ready = "listening on " + host_ + ":" + std::to_string(ntohs(sa.sin_port));
    return true;
  }
  intptr_t serviceHandle(bool* forWrite) const override {
    *forWrite = false;
    return lfd_;
  }
  intptr_t streamHandle() const override { return cfd_; }
  bool service(uint64_t, std::string* note) override {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    int fd = ::accept(lfd_, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (fd < 0) return false;
    note->clear();
    if (cfd_ >= 0) *note = "Peer " + peer_ + " left\n";
    closeStream();
    cfd_ = fd;
    setNonBlocking(cfd_);
    int one = 1;
    setsockopt(cfd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    peer_ = std::string(ip) + ":" + std::to_string(ntohs(from.sin_port));
    *note += "Peer " + peer_ + " connected";
    return true;
  }
  std::string peerName() const override { return cfd_ >= 0 ? peer_ : std::string(); }
  long readSome(uint8_t* buf, size_t cap) override {
    return cfd_ < 0 ? 0 : readFd(cfd_, buf, cap, true);
  }
  bool writeAll(const uint8_t* d, size_t n) override { return cfd_ >= 0 && writeFully(cfd_, d, n); }
  void closeStream() override {
    if (cfd_ >= 0) ::close(cfd_);
    cfd_ = -1;
  }

 private:
  std::string host_;
  int port_;
  int lfd_ = -1;
  int cfd_ = -1;
  std::string peer_;
};

// Connects to the tool's TCP server and keeps reconnecting whenever the link drops. The
// connect itself is non-blocking: a peer that is slow to answer never holds up the boards.
class ConnectTransport : public Transport {
 public:
  ConnectTransport(std::string host, int port) : host_(std::move(host)), port_(port) {}
  ~ConnectTransport() override {
    closeStream();
    dropAttempt();
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
    return pending_;
  }
  uint64_t serviceDueMs() const override {
    if (fd_ >= 0) return kNoServiceDueMs;
    return pending_ >= 0 ? giveUpMs_ : nextTryMs_;
  }
  intptr_t streamHandle() const override { return fd_; }
  bool service(uint64_t nowMs, std::string* note) override {
    if (fd_ >= 0) return false;
    if (pending_ >= 0) return finishAttempt(nowMs, note);
    if (nowMs < nextTryMs_) return false;
    nextTryMs_ = nowMs + kConnectRetryMs;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    setNonBlocking(fd);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa_), sizeof sa_) == 0)
      return adopt(fd, note);
    if (errno != EINPROGRESS) {
      ::close(fd);
      return false;
    }
    pending_ = fd;
    giveUpMs_ = nowMs + kConnectTimeoutMs;
    return false;
  }
  long readSome(uint8_t* buf, size_t cap) override {
    return fd_ < 0 ? 0 : readFd(fd_, buf, cap, true);
  }
  bool writeAll(const uint8_t* d, size_t n) override { return fd_ >= 0 && writeFully(fd_, d, n); }
  void closeStream() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  // The attempt in progress has finished (writable), failed, or run out of time.
  bool finishAttempt(uint64_t nowMs, std::string* note) {
    pollfd p{pending_, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 1) {
      int error = 0;
      socklen_t len = sizeof error;
      if (getsockopt(pending_, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) {
        const int fd = pending_;
        pending_ = -1;
        return adopt(fd, note);
      }
      dropAttempt();
      nextTryMs_ = nowMs + kConnectRetryMs;
      return false;
    }
    if (nowMs >= giveUpMs_) {
      dropAttempt();
      nextTryMs_ = nowMs;  // try again at once: the give-up was the wait
    }
    return false;
  }
  bool adopt(int fd, std::string* note) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
    *note = "connected to " + host_ + ":" + std::to_string(port_);
    return true;
  }
  void dropAttempt() {
    if (pending_ >= 0) ::close(pending_);
    pending_ = -1;
  }

  std::string host_;
  int port_;
  sockaddr_in sa_{};
  int fd_ = -1;
  int pending_ = -1;  // socket of the connect in progress
  uint64_t nextTryMs_ = 0;
  uint64_t giveUpMs_ = 0;
};

// A pseudo-terminal: the simulator holds the master and one descriptor of the slave (so the
// master never sees a hang-up while the tool has the port closed); the slave's path is
// published as a symbolic link for the tool to open.
class PtyTransport : public Transport {
 public:
  explicit PtyTransport(std::string link) : link_(std::move(link)) {}
  ~PtyTransport() override {
    if (linked_) ::unlink(link_.c_str());
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  bool open(std::string* ready, std::string* err) override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      *err = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
      return false;
    }
    const char* name = ptsname(master_);
    if (!name) {
      *err = "cannot name the pseudo-terminal";
      return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
      *err = std::string("cannot open ") + name + ": " + std::strerror(errno);
      return false;
    }
    // Raw line until the tool sets its own: no echo, no line editing, no CR/LF mapping.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B4800);
    cfsetospeed(&t, B4800);
    tcsetattr(slave_, TCSANOW, &t);
    setNonBlocking(master_);
    struct stat st;
    if (::lstat(link_.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        *err = link_ + " exists and is not a symbolic link; not replacing it";
        return false;
      }
      ::unlink(link_.c_str());
    }
    if (::symlink(name, link_.c_str()) != 0) {
      *err = "cannot create the link " + link_ + ": " + std::strerror(errno);
      return false;
    }
    linked_ = true;
    *ready = "pty " + link_ + " -> " + slavePath_;
    return true;
  }
  intptr_t streamHandle() const override { return master_; }
  bool service(uint64_t, std::string*) override { return false; }
  long readSome(uint8_t* buf, size_t cap) override { return readFd(master_, buf, cap, false); }
  bool writeAll(const uint8_t* d, size_t n) override { return writeFully(master_, d, n); }
  void closeStream() override {}
  uint32_t peerBaud() const override { return ptyLineRate(slave_); }

 private:
  std::string link_;
  std::string slavePath_;
  int master_ = -1;
  int slave_ = -1;
  bool linked_ = false;
};

}  // namespace

std::unique_ptr<Transport> makeListenTransport(const std::string& host, int port) {
  return std::make_unique<ListenTransport>(host, port);
}
std::unique_ptr<Transport> makeConnectTransport(const std::string& host, int port) {
  return std::make_unique<ConnectTransport>(host, port);
}
std::unique_ptr<Transport> makePtyTransport(const std::string& linkPath) {
  return std::make_unique<PtyTransport>(linkPath);
}

const char* ptyUnavailableReason() { return nullptr; }

}  // namespace sim
