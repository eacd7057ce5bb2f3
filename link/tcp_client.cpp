// TCP client transport ("TCPC_a.b.c.d:port"): a non-blocking connect that is started on
// first use, abandoned after its deadline, and started again transparently after any failure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/port_internal.h"
#include "link/tick.h"

namespace {

constexpr size_t kTcpClientPrefixLength = 5;  // "TCPC_"
// After a refused or failed connect the next attempt waits this long, so a gateway that is
// down is not hammered with a connect per poll of the caller.
constexpr uint32_t kTcpReconnectPauseMs = 100;
// clientDeadline[0] is free in a client row; it holds the tick before which no new
// connect is started.
constexpr int kRetrySlot = 0;

void setSocket(PortEntry& e, intptr_t fd) {
  e.handle = fd;
  e.clientSocket[0] = fd;
}

// Drops the connection and prepares a fresh socket, so the next use connects again.
void resetConnection(PortEntry& e) {
  intptr_t fd = e.handle;
  closeSocket(fd);
  setSocket(e, makeStreamSocket());
  e.connected = 0;
  e.connecting = 0;
}

void connectFailed(PortEntry& e) {
  resetConnection(e);
  e.clientDeadline[kRetrySlot] = nowMs() + kTcpReconnectPauseMs;
}

int clientOpen(PortEntry& e) {
  const char* rest = e.name + kTcpClientPrefixLength;
  const char* colon = std::strchr(rest, ':');
  if (colon == nullptr) return kPortOpenBadName;
  char address[kPortNameSize];
  const size_t addressLength = static_cast<size_t>(colon - rest);
  std::memcpy(address, rest, addressLength);
  address[addressLength] = '\0';
  in_addr ip{};
  if (inet_pton(AF_INET, address, &ip) != 1) return kPortOpenBadName;
  uint16_t tcpPort = 0;
  if (!parseTcpPortNumber(colon + 1, false, &tcpPort)) return kPortOpenBadName;
  for (auto& s : e.clientSocket) s = -1;
  const int fd = makeStreamSocket();
  if (fd < 0) return kPortOpenBadName;
  setSocket(e, fd);
  e.ipAddress = ip.s_addr;
  e.tcpPort = tcpPort;
  e.clientDeadline[kRetrySlot] = nowMs();
  e.connected = 0;
  e.connecting = 0;
  return 0;
}

void clientClose(PortEntry& e) {
  intptr_t fd = e.handle;
  closeSocket(fd);
  setSocket(e, -1);
  e.connected = 0;
  e.connecting = 0;
}

int clientSetLine(PortEntry&, uint32_t, uint8_t, char, uint8_t) { return 0; }

// Connection step: completes or abandons a pending connect, or starts a new one.
void clientPrepare(PortEntry& e) {
  if (e.connected) return;
  if (e.handle < 0) {  // an earlier fresh socket could not be made; try again now
    setSocket(e, makeStreamSocket());
    if (e.handle < 0) return;
  }
  const int fd = static_cast<int>(e.handle);
  if (e.connecting) {
    pollfd p{fd, POLLOUT, 0};
    const int r = poll(&p, 1, 0);
    if (r > 0) {
      int err = 0;
      socklen_t len = sizeof err;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
        e.connected = 1;
        e.connecting = 0;
      } else {
        connectFailed(e);  // refused or unreachable: a failed socket cannot connect again
      }
    } else if (r < 0 || deadlineReached16(e.connectDeadline)) {
      resetConnection(e);
    }
    return;
  }
  // A pause further ahead than it can be means the clock was set back (a test's fake
  // clock): do not wait for it.
  const int32_t pauseLeft = static_cast<int32_t>(e.clientDeadline[kRetrySlot] - nowMs());
  if (pauseLeft > 0 && pauseLeft <= static_cast<int32_t>(kTcpReconnectPauseMs)) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = e.ipAddress;
  a.sin_port = htons(e.tcpPort);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || errno == EISCONN) {
    e.connected = 1;
  } else if (errno == EINPROGRESS || errno == EALREADY || errno == EAGAIN) {
    e.connecting = 1;
    e.connectDeadline = static_cast<uint16_t>(nowMs16() + kTcpConnectDeadlineMs);
  } else {
    connectFailed(e);
  }
}

void clientPump(PortEntry& e, uint16_t port) {
  clientPrepare(e);
  if (!e.connected) return;
  const FillResult r = ringFillFromFd(e, port, static_cast<int>(e.handle), true);
  // The peer closing is a broken connection too: without this the socket would sit
  // half-closed, always readable, until a send happened to fail.
  if (r == FillResult::Error || r == FillResult::EndOfStream) resetConnection(e);
}

int clientWrite(PortEntry& e, const uint8_t* data, size_t count) {
  clientPrepare(e);
  if (!e.connected) return 0;
  if (!sendAll(static_cast<int>(e.handle), data, count)) {
    resetConnection(e);
    return 0;
  }
  return 1;
}

int clientPollFds(PortEntry& e, pollfd* fds, int maxFds) {
  if (maxFds < 1 || e.handle < 0) return 0;
  if (e.connected) {
    fds[0] = pollfd{static_cast<int>(e.handle), POLLIN, 0};
  } else if (e.connecting) {
    fds[0] = pollfd{static_cast<int>(e.handle), POLLOUT, 0};
  } else {
    return 0;
  }
  return 1;
}

void clientDiscard(PortEntry&) {}  // bytes still in the socket arrive at the next pump
int clientTxEmpty(PortEntry&) { return 1; }

}  // namespace

const PortTransport kTcpClientTransport = {
    clientOpen,  clientClose,   clientSetLine, clientPrepare, clientPump,
    clientWrite, clientPollFds, nullptr,       clientDiscard, clientTxEmpty};
