// TCP server transport ("TCPS_port" on every local address, "TCPS_a.b.c.d:port" on one):
// listens for up to 16 peers, accepts one per step, drops a peer silent for 60 s, merges what
// the peers send into one ring in slot order, and reports every peer that comes and goes.
#include <cstring>

#include "link/port_internal.h"
#include "link/socket.h"
#include "link/tick.h"
#include "util/number_text.h"

namespace {

constexpr size_t kTcpServerPrefixLength = 5;  // "TCPS_"
constexpr int kTcpListenBacklog = 5;
constexpr size_t kIpv4TextSize = 16;  // "255.255.255.255" and the NUL

void dropClient(PortEntry& e, int slot) {
  if (e.clientSocket[slot] == kNoSocket) return;
  socketClose(e.clientSocket[slot]);
  notifyPeer(e, slot, false);
  e.clientPeer[slot][0] = '\0';
}

// "PORT" listens on every local address; "a.b.c.d:PORT" on that address only.
bool parseListenName(const char* text, uint32_t* address, uint16_t* port) {
  *address = 0;  // any local address
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr) return parseTcpPortNumber(text, true, port);
  const size_t length = static_cast<size_t>(colon - text);
  char ip[kIpv4TextSize];
  if (length == 0 || length >= sizeof ip) return false;
  std::memcpy(ip, text, length);
  ip[length] = '\0';
  if (!socketParseIpv4(ip, address)) return false;
  return parseTcpPortNumber(colon + 1, true, port);
}

int serverOpen(PortEntry& e) {
  uint16_t listenPort = 0;
  uint32_t listenAddress = 0;
  if (!parseListenName(e.name + kTcpServerPrefixLength, &listenAddress, &listenPort))
    return kPortOpenBadName;
  for (auto& s : e.clientSocket) s = kNoSocket;
  const intptr_t s = socketListen(listenAddress, listenPort, kTcpListenBacklog);
  if (s == kNoSocket) return kPortOpenBadName;
  e.handle = s;
  return 0;
}

void serverClose(PortEntry& e) {
  for (int i = 0; i < kTcpServerClients; ++i) dropClient(e, i);
  socketClose(e.handle);
}

int serverSetLine(PortEntry&, uint32_t, uint8_t, char, uint8_t) { return 0; }

int freeSlot(const PortEntry& e) {
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] == kNoSocket) return i;
  }
  return -1;
}

// Accept step: drops idle peers, then takes at most one waiting connection.
void serverPrepare(PortEntry& e) {
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] != kNoSocket && deadlineReached(e.clientDeadline[i])) dropClient(e, i);
  }
  const int slot = freeSlot(e);
  if (slot < 0 || e.handle == kNoSocket) return;
  const intptr_t s = socketAccept(e.handle, e.clientPeer[slot], sizeof e.clientPeer[slot]);
  if (s == kNoSocket) return;
  e.clientSocket[slot] = s;
  e.clientDeadline[slot] = nowMs() + kTcpClientIdleDropMs;
  notifyPeer(e, slot, true);
}

void serverPump(PortEntry& e, uint16_t port) {
  serverPrepare(e);
  // One look over all peers tells which have bytes (or have closed), instead of a query
  // per slot.
  SocketWait peers[kTcpServerClients];
  int slotOf[kTcpServerClients];
  int n = 0;
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] != kNoSocket) {
      peers[n] = SocketWait{e.clientSocket[i], false, false, false};
      slotOf[n++] = i;
    }
  }
  if (n == 0 || socketWait(peers, n, 0) <= 0) return;
  for (int k = 0; k < n; ++k) {
    const int slot = slotOf[k];
    if (peers[k].invalid) {
      // Not a socket any more: nothing to close, but the peer is gone.
      e.clientSocket[slot] = kNoSocket;
      notifyPeer(e, slot, false);
      e.clientPeer[slot][0] = '\0';
      continue;
    }
    if (!peers[k].ready) continue;
    const size_t before = ringCount(e);
    const FillResult r = socketFill(e, port, e.clientSocket[slot]);
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
    if (e.clientSocket[i] == kNoSocket) continue;
    if (socketSendAll(e.clientSocket[i], data, count)) {
      e.clientDeadline[i] = nowMs() + kTcpClientIdleDropMs;
    } else {
      dropClient(e, i);
      result = 0;
    }
  }
  return result;
}

int serverWait(PortEntry& e, uint32_t timeoutMs) {
  SocketWait items[kTcpServerClients + 1];
  int n = 0;
  // The listener only counts while a slot is free; otherwise a waiting 17th peer would
  // wake every wait without anything to do.
  if (e.handle != kNoSocket && freeSlot(e) >= 0)
    items[n++] = SocketWait{e.handle, false, false, false};
  for (int i = 0; i < kTcpServerClients; ++i) {
    if (e.clientSocket[i] != kNoSocket)
      items[n++] = SocketWait{e.clientSocket[i], false, false, false};
  }
  if (n == 0) return -1;
  const int r = socketWait(items, n, timeoutMs);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void serverDiscard(PortEntry&) {}
int serverTxEmpty(PortEntry&) { return 1; }

}  // namespace

const PortTransport kTcpServerTransport = {
    serverOpen,  serverClose, serverSetLine, serverPrepare, serverPump,
    serverWrite, serverWait,  nullptr,       serverDiscard, serverTxEmpty};

bool parseTcpPortNumber(const char* text, bool allowZero, uint16_t* port) {
  uint64_t v = 0;
  if (!parseStrictDecimal(text, 5, 65535, &v) || (v == 0 && !allowZero)) return false;
  *port = static_cast<uint16_t>(v);
  return true;
}
