// TCP client transport ("TCPC_a.b.c.d:port"): a non-blocking connect that is started on
// first use, abandoned after its deadline, and started again transparently after any failure.
#include <cstdlib>
#include <cstring>

#include "link/port_internal.h"
#include "link/socket.h"
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
  intptr_t s = e.handle;
  socketClose(s);
  setSocket(e, socketOpenStream());
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
  uint32_t ip = 0;
  if (!socketParseIpv4(address, &ip)) return kPortOpenBadName;
  uint16_t tcpPort = 0;
  if (!parseTcpPortNumber(colon + 1, false, &tcpPort)) return kPortOpenBadName;
  for (auto& s : e.clientSocket) s = kNoSocket;
  const intptr_t s = socketOpenStream();
  if (s == kNoSocket) return kPortOpenBadName;
  setSocket(e, s);
  e.ipAddress = ip;
  e.tcpPort = tcpPort;
  e.clientDeadline[kRetrySlot] = nowMs();
  e.connected = 0;
  e.connecting = 0;
  return 0;
}

void clientClose(PortEntry& e) {
  intptr_t s = e.handle;
  socketClose(s);
  setSocket(e, kNoSocket);
  e.connected = 0;
  e.connecting = 0;
}

int clientSetLine(PortEntry&, uint32_t, uint8_t, char, uint8_t) { return 0; }

// Connection step: completes or abandons a pending connect, or starts a new one.
void clientPrepare(PortEntry& e) {
  if (e.connected) return;
  if (e.handle == kNoSocket) {  // an earlier fresh socket could not be made; try again now
    setSocket(e, socketOpenStream());
    if (e.handle == kNoSocket) return;
  }
  if (e.connecting) {
    const ConnectStep step = socketConnectCheck(e.handle);
    if (step == ConnectStep::Connected) {
      e.connected = 1;
      e.connecting = 0;
    } else if (step == ConnectStep::Failed) {
      connectFailed(e);  // refused or unreachable: a failed socket cannot connect again
    } else if (deadlineReached16(e.connectDeadline)) {
      resetConnection(e);
    }
    return;
  }
  // A pause further ahead than it can be means the clock was set back (a test's fake
  // clock): do not wait for it.
  const int32_t pauseLeft = static_cast<int32_t>(e.clientDeadline[kRetrySlot] - nowMs());
  if (pauseLeft > 0 && pauseLeft <= static_cast<int32_t>(kTcpReconnectPauseMs)) return;
  switch (socketConnect(e.handle, e.ipAddress, e.tcpPort)) {
    case ConnectStep::Connected:
      e.connected = 1;
      break;
    case ConnectStep::Pending:
      e.connecting = 1;
      e.connectDeadline = static_cast<uint16_t>(nowMs16() + kTcpConnectDeadlineMs);
      break;
    case ConnectStep::Failed:
      connectFailed(e);
      break;
  }
}

void clientPump(PortEntry& e, uint16_t port) {
  clientPrepare(e);
  if (!e.connected) return;
  const FillResult r = socketFill(e, port, e.handle);
  // The peer closing is a broken connection too: without this the socket would sit
  // half-closed, always readable, until a send happened to fail.
  if (r == FillResult::Error || r == FillResult::EndOfStream) resetConnection(e);
}

int clientWrite(PortEntry& e, const uint8_t* data, size_t count) {
  clientPrepare(e);
  if (!e.connected) return 0;
  if (!socketSendAll(e.handle, data, count)) {
    resetConnection(e);
    return 0;
  }
  return 1;
}

int clientWait(PortEntry& e, uint32_t timeoutMs) {
  if (e.handle == kNoSocket || (!e.connected && !e.connecting)) return -1;
  // Connected: input; connecting: the connect finishing (writable, or failed).
  SocketWait w{e.handle, e.connected == 0, false, false};
  const int r = socketWait(&w, 1, timeoutMs);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void clientDiscard(PortEntry&) {}  // bytes still in the socket arrive at the next pump
int clientTxEmpty(PortEntry&) { return 1; }

}  // namespace

const PortTransport kTcpClientTransport = {
    clientOpen,  clientClose, clientSetLine, clientPrepare, clientPump,
    clientWrite, clientWait,  nullptr,       clientDiscard, clientTxEmpty};
