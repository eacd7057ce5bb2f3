// TCP server transport ("TCPS_port" on every local address, "TCPS_a.b.c.d:port" on one):
// listens for up to 16 peers, accepts one per step, drops a peer silent for 60 s, merges what
// the peers send into one ring in slot order, and reports every peer that comes and goes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/port_internal.h"
#include "link/tick.h"

namespace {

constexpr size_t kTcpServerPrefixLength = 5;  // "TCPS_"
constexpr int kTcpListenBacklog = 5;

void dropClient(PortEntry& e, int slot) {
  if (e.clientSocket[slot] < 0) return;
  closeSocket(e.clientSocket[slot]);
  notifyPeer(e, slot, false);
  e.clientPeer[slot][0] = '\0';
}

// "PORT" listens on every local address; "a.b.c.d:PORT" on that address only.
bool parseListenName(const char* text, in_addr* address, uint16_t* port) {
  address->s_addr = htonl(INADDR_ANY);
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr) return parseTcpPortNumber(text, true, port);
  const size_t length = static_cast<size_t>(colon - text);
  char ip[INET_ADDRSTRLEN];
  if (length == 0 || length >= sizeof ip) return false;
  std::memcpy(ip, text, length);
  ip[length] = '\0';
  if (inet_pton(AF_INET, ip, address) != 1) return false;
  return parseTcpPortNumber(colon + 1, true, port);
}

int serverOpen(PortEntry& e) {
  uint16_t listenPort = 0;
  in_addr listenAddress{};
  if (!parseListenName(e.name + kTcpServerPrefixLength, &listenAddress, &listenPort))
    return kPortOpenBadName;
  for (auto& s : e.clientSocket) s = -1;
  const int fd = makeStreamSocket();
  if (fd < 0) return kPortOpenBadName;
  int on = 1;
  // Lets the tool (and the tests) listen again at once after a close.
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr = listenAddress;
  a.sin_port = htons(listenPort);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(fd, kTcpListenBacklog) != 0) {
    intptr_t s = fd;
    closeSocket(s);
    return kPortOpenBadName;
  }
  e.handle = fd;
  return 0;
}

void serverClose(PortEntry& e) {
  for (int i = 0; i < kTcpServerClients; ++i) dropClient(e, i);
  closeSocket(e.handle);
}

int serverSetLine(PortEntry&, uint32_t, uint8_t, char, uint8_t) { return 0; }

int freeSlot(const PortEntry& e) {
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] < 0) return i;
  }
  return -1;
}

// Accept step: drops idle peers, then takes at most one waiting connection.
void serverPrepare(PortEntry& e) {
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] >= 0 && deadlineReached(e.clientDeadline[i])) dropClient(e, i);
  }
  const int slot = freeSlot(e);
  if (slot < 0 || e.handle < 0) return;
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const int fd = accept4(static_cast<int>(e.handle), reinterpret_cast<sockaddr*>(&from),
                         &fromLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  e.clientSocket[slot] = fd;
  e.clientDeadline[slot] = nowMs() + kTcpClientIdleDropMs;
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
  std::snprintf(e.clientPeer[slot], sizeof e.clientPeer[slot], "%s:%u", ip,
                static_cast<unsigned>(ntohs(from.sin_port)));
  notifyPeer(e, slot, true);
}

void serverPump(PortEntry& e, uint16_t port) {
  serverPrepare(e);
  // One poll() over all peers tells which have bytes (or have closed), instead of a
  // query per slot.
  pollfd fds[kTcpServerClients];
  int slotOf[kTcpServerClients];
  int n = 0;
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] >= 0) {
      fds[n] = pollfd{static_cast<int>(e.clientSocket[i]), POLLIN, 0};
      slotOf[n++] = i;
    }
  }
  if (n == 0 || poll(fds, static_cast<nfds_t>(n), 0) <= 0) return;
  for (int k = 0; k < n; ++k) {
    if (fds[k].revents == 0) continue;
    const int slot = slotOf[k];
    if (fds[k].revents & POLLNVAL) {
      // Not a socket any more: nothing to close, but the peer is gone.
      e.clientSocket[slot] = -1;
      notifyPeer(e, slot, false);
      e.clientPeer[slot][0] = '\0';
      continue;
    }
    const size_t before = ringCount(e);
    const FillResult r = ringFillFromFd(e, port, static_cast<int>(e.clientSocket[slot]), true);
    if (ringCount(e) != before) e.clientDeadline[slot] = nowMs() + kTcpClientIdleDropMs;
    if (r == FillResult::EndOfStream || r == FillResult::Error) dropClient(e, slot);
    // A full ring leaves the later peers' bytes in their sockets for the next pump.
    if (r == FillResult::RingFull) break;
  }
}

// Every peer gets the bytes; a peer whose send fails is dropped and the result is 0,
// but the other peers still get theirs.
int serverWrite(PortEntry& e, const uint8_t* data, size_t count) {
  serverPrepare(e);
  int result = 1;
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] < 0) continue;
    if (sendAll(static_cast<int>(e.clientSocket[i]), data, count)) {
      e.clientDeadline[i] = nowMs() + kTcpClientIdleDropMs;
    } else {
      dropClient(e, i);
      result = 0;
    }
  }
  return result;
}

int serverPollFds(PortEntry& e, pollfd* fds, int maxFds) {
  int n = 0;
  // The listener only counts while a slot is free; otherwise a waiting 17th peer would
  // wake every wait without anything to do.
  if (e.handle >= 0 && freeSlot(e) >= 0 && n < maxFds)
    fds[n++] = pollfd{static_cast<int>(e.handle), POLLIN, 0};
  for (int i = 0; i < kTcpServerClients && n < maxFds; ++i) {
    if (e.clientSocket[i] >= 0) fds[n++] = pollfd{static_cast<int>(e.clientSocket[i]), POLLIN, 0};
  }
  return n;
}

void serverDiscard(PortEntry&) {}
int serverTxEmpty(PortEntry&) { return 1; }

}  // namespace

const PortTransport kTcpServerTransport = {
    serverOpen,  serverClose,   serverSetLine, serverPrepare, serverPump,
    serverWrite, serverPollFds, nullptr,       serverDiscard, serverTxEmpty};
