// BSD socket helpers shared by the TCP client and TCP server transports: socket set-up,
// orderly close, and a bounded send that never raises SIGPIPE.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/port_internal.h"

namespace {
// A peer that stops reading for this long while our send buffer is full is given up.
constexpr uint32_t kTcpSendStallTimeoutMs = 500;
}  // namespace

int makeStreamSocket() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

void closeSocket(intptr_t& fd) {
  if (fd >= 0) {
    shutdown(static_cast<int>(fd), SHUT_RDWR);
    close(static_cast<int>(fd));
  }
  fd = -1;
}

bool sendAll(int fd, const uint8_t* data, size_t count) {
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

bool parseTcpPortNumber(const char* text, bool allowZero, uint16_t* port) {
  if (*text == '\0' || std::strlen(text) > 5) return false;
  unsigned long v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<unsigned long>(*p - '0');
  }
  if ((v == 0 && !allowZero) || v > 65535) return false;
  *port = static_cast<uint16_t>(v);
  return true;
}
