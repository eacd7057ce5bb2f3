// The process-wide table of 32 open ports: opening by name, the receive ring every read is
// served from, waiting for input, and dispatch to the transport behind each row.
// The table never looks inside the bytes it carries.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/port_wait.h"
#include "link/tick.h"

namespace {

PortEntry g_table[kPortTableRows];
bool g_tableInitialised = false;
PortTraceFn g_trace;
PortPeerFn g_peerHook;

// A wait that woke us this many times in a row without delivering input is taken as a
// descriptor stuck in an error state, and the rest of the wait is slept instead of spun.
constexpr int kEmptyWakeLimit = 3;
// The most a serial driver is asked to gather before it reports input. Linux terminals hand
// input to read() in pieces of 64 bytes and, with more than 64 asked for, end a read after the
// first piece; at 64 or below one read takes all that is queued.
constexpr size_t kMaxWakeThreshold = 64;
// Under the fake clock a wait still gives real peers this long to answer before fake time moves.
constexpr uint32_t kFakeClockRealWaitMs = 1;
// A peer that keeps the ring full for this many rounds of discarding is left for later,
// so that discarding never turns into an endless loop.
constexpr int kDiscardRounds = 8;

// Stub: writes are swallowed, nothing ever arrives.
int stubOpen(PortEntry&) { return 0; }
void stubClose(PortEntry&) {}
int stubSetLine(PortEntry&, uint32_t, uint8_t, char, uint8_t) { return 0; }
void stubPrepare(PortEntry&) {}
void stubPump(PortEntry&, uint16_t) {}
int stubWrite(PortEntry&, const uint8_t*, size_t) { return 1; }
int stubWait(PortEntry&, uint32_t) { return -1; }
void stubDiscard(PortEntry&) {}
int stubTxEmpty(PortEntry&) { return 1; }
const PortTransport kStubTransport = {stubOpen,  stubClose, stubSetLine, stubPrepare, stubPump,
                                      stubWrite, stubWait,  nullptr,     stubDiscard, stubTxEmpty};

const PortTransport& transportOf(const PortEntry& e) {
  switch (e.kind) {
    case PortKind::Serial:
      return kSerialTransport;
    case PortKind::TcpClient:
      return kTcpClientTransport;
    case PortKind::TcpServer:
      return kTcpServerTransport;
    case PortKind::Stub:
      break;
  }
  return kStubTransport;
}

// The open row of a port number, or nullptr for 0, numbers above the table and closed rows.
PortEntry* openRow(uint16_t port) {
  if (port == 0 || port > kPortTableRows) return nullptr;
  PortEntry& e = g_table[port - 1];
  return e.inUse ? &e : nullptr;
}

void clearRow(PortEntry& e) {
  std::memset(&e, 0, sizeof e);
  e.handle = -1;
  for (auto& s : e.clientSocket) s = -1;
}

void ringTake(PortEntry& e, uint8_t* dst, size_t n) {
  size_t first = RX_RING_SIZE - e.rxRead;
  if (first > n) first = n;
  std::memcpy(dst, e.rxRing + e.rxRead, first);
  std::memcpy(dst + first, e.rxRing, n - first);
  e.rxRead = static_cast<uint16_t>((e.rxRead + n) % RX_RING_SIZE);
}

// "STUB" only exactly; "stub" or "STUB1" are serial device names.
PortKind kindOfName(const char* name) {
  if (std::strcmp(name, "STUB") == 0) return PortKind::Stub;
  if (std::strncmp(name, "TCPS_", 5) == 0) return PortKind::TcpServer;
  if (std::strncmp(name, "TCPC_", 5) == 0) return PortKind::TcpClient;
  return PortKind::Serial;
}

void pump(PortEntry& e, uint16_t port) { transportOf(e).pump(e, port); }

// Waits until the ring holds at least count bytes (count is below RX_RING_SIZE), pumping in what
// arrives, or timeoutMs passes. 1 when they are in (or the ring is full), 0 on time-out.
int waitForCount(PortEntry& e, uint16_t port, size_t count, uint32_t timeoutMs) {
  const PortTransport& t = transportOf(e);
  const bool fake = tickFakeClockActive();
  const uint32_t budget =
      fake && timeoutMs > kFakeClockRealWaitMs ? kFakeClockRealWaitMs : timeoutMs;
  const uint32_t start = monotonicMs();
  int emptyWakes = 0;
  for (;;) {
    size_t have = ringCount(e);
    if (have >= count || ringFree(e) == 0) return 1;
    // Keeps TCP connections moving (connect completion, accepts) before deciding what to wait on.
    t.prepare(e);
    if (t.setWakeThreshold) {
      const size_t need = count - have;
      t.setWakeThreshold(e,
                         static_cast<uint8_t>(need > kMaxWakeThreshold ? kMaxWakeThreshold : need));
    }
    const uint32_t elapsed = monotonicMs() - start;
    const uint32_t left = elapsed >= budget ? 0 : budget - elapsed;
    if (!waitTransportReady(e, t, left)) break;
    pump(e, port);
    if (ringCount(e) > have) {
      emptyWakes = 0;
    } else if (++emptyWakes >= kEmptyWakeLimit) {
      const uint32_t now = monotonicMs() - start;
      if (now < budget) sleepRealMs(budget - now);
      break;
    }
  }
  if (ringCount(e) >= count) return 1;
  if (fake) tickAdvanceFake(timeoutMs);
  return 0;
}

}  // namespace

// ---- ring ----
size_t ringCount(const PortEntry& e) {
  return static_cast<size_t>((e.rxWrite + RX_RING_SIZE - e.rxRead) % RX_RING_SIZE);
}
size_t ringFree(const PortEntry& e) { return RX_RING_SIZE - 1 - ringCount(e); }

size_t ringSpan(const PortEntry& e) {
  size_t free = ringFree(e);
  size_t toEnd = RX_RING_SIZE - e.rxWrite;
  return free < toEnd ? free : toEnd;
}

void ringCommit(PortEntry& e, uint16_t port, size_t n) {
  if (n == 0) return;
  if (g_trace) g_trace(port, false, e.rxRing + e.rxWrite, n);
  e.rxWrite = static_cast<uint16_t>((e.rxWrite + n) % RX_RING_SIZE);
}

// ---- table ----
void portTableInit() {
  if (g_tableInitialised) return;
  for (auto& e : g_table) clearRow(e);
  g_tableInitialised = true;
}

void portTableShutdownForTests() {
  for (uint16_t p = 1; p <= kPortTableRows; ++p) portClose(p);
  g_tableInitialised = false;
  g_trace = nullptr;
  g_peerHook = nullptr;
}

int portOpen(const char* name, uint16_t* port) {
  if (port) *port = 0;
  if (!g_tableInitialised) return kPortOpenNotInitialised;
  int index = -1;
  for (int i = 0; i < kPortTableRows; ++i) {
    if (!g_table[i].inUse) {
      index = i;
      break;
    }
  }
  if (index < 0) return kPortOpenTableFull;
  if (name == nullptr || name[0] == '\0') return kPortOpenEmptyName;
  // A name that does not fit the row is refused rather than cut: a cut name would open
  // some other device or address than the one the engineer typed.
  if (strnlen(name, kPortNameSize) >= static_cast<size_t>(kPortNameSize)) return kPortOpenBadName;

  PortEntry& e = g_table[index];
  clearRow(e);
  std::memcpy(e.name, name, std::strlen(name) + 1);
  e.kind = kindOfName(e.name);
  const int rc = transportOf(e).open(e);
  if (rc != 0) {
    clearRow(e);
    return rc;
  }
  e.rxRing = static_cast<uint8_t*>(std::malloc(RX_RING_SIZE));
  if (e.rxRing == nullptr) {
    transportOf(e).close(e);
    clearRow(e);
    return kOsErrorNoMemory;
  }
  e.rxWrite = 0;
  e.rxRead = 0;
  e.inUse = 1;
  if (port) *port = static_cast<uint16_t>(index + 1);
  return 0;
}

int portClose(uint16_t port) {
  PortEntry* e = openRow(port);
  if (!e) return 1;
  transportOf(*e).close(*e);
  std::free(e->rxRing);
  clearRow(*e);
  return 1;
}

int portSetLine(uint16_t port, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  PortEntry* e = openRow(port);
  if (!e) return 2;
  return transportOf(*e).setLine(*e, baud, dataBits, parity, stopBits);
}

int portProbeLine(uint16_t port, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  PortEntry* e = openRow(port);
  if (!e || e->kind != PortKind::Serial) return kPortNoOwnLine;
  const PortEntry before = *e;
  const PortTransport& t = transportOf(*e);
  const int r = t.setLine(*e, baud, dataBits, parity, stopBits);
  if (r != 0) return r;
  // Back to the settings the line had; a driver that just took a rate takes its old one.
  return t.setLine(*e, before.baud, before.dataBits, before.parity, before.stopBits);
}

int portWrite(uint16_t port, const uint8_t* data, size_t count) {
  PortEntry* e = openRow(port);
  if (!e) return 0;
  if (data == nullptr && count > 0) return 0;
  const int rc = transportOf(*e).write(*e, data, count);
  if (rc == 1 && count > 0 && g_trace) g_trace(port, true, data, count);
  return rc;
}

int portAvailable(uint16_t port) {
  PortEntry* e = openRow(port);
  if (!e) return 0;
  pump(*e, port);
  return static_cast<int>(ringCount(*e));
}

int portRead(uint16_t port, uint8_t* dst, size_t n) {
  PortEntry* e = openRow(port);
  if (!e || e->kind == PortKind::Stub) return 0;
  // With enough bytes already buffered the pump would only cost a system call.
  if (ringCount(*e) < n) pump(*e, port);
  if (ringCount(*e) < n) return 0;
  if (n > 0 && dst == nullptr) return 0;
  ringTake(*e, dst, n);
  return 1;
}

// Waits for all n bytes; on time-out nothing is taken, so bytes that did arrive stay in the
// ring for the next reader instead of vanishing with a failed call.
int portReadWait(uint16_t port, uint8_t* dst, size_t n, uint32_t timeoutMs) {
  PortEntry* e = openRow(port);
  if (!e || e->kind == PortKind::Stub) return 0;
  // More than the ring can hold could never be satisfied.
  if (n >= static_cast<size_t>(RX_RING_SIZE)) return 0;
  if (n > 0 && dst == nullptr) return 0;
  if (ringCount(*e) < n) pump(*e, port);
  if (ringCount(*e) < n && !waitForCount(*e, port, n, timeoutMs)) return 0;
  ringTake(*e, dst, n);
  return 1;
}

int portReadByte(uint16_t port, uint8_t* dst, uint16_t timeoutMs) {
  PortEntry* e = openRow(port);
  if (!e || e->kind == PortKind::Stub) return -1;
  const uint16_t deadline = static_cast<uint16_t>(nowMs16() + timeoutMs);
  for (;;) {
    if (ringCount(*e) == 0) pump(*e, port);
    if (ringCount(*e) > 0) {
      uint8_t b;
      ringTake(*e, &b, 1);
      if (dst) *dst = b;
      return 1;
    }
    if (deadlineReached16(deadline)) return 0;
    portWaitInput(port, 1);
  }
}

void portFlushInput(uint16_t port) {
  PortEntry* e = openRow(port);
  if (!e || e->kind == PortKind::Stub) return;
  transportOf(*e).prepare(*e);
  e->rxRead = e->rxWrite;
  transportOf(*e).discardInput(*e);
}

void portDiscardInput(uint16_t port) {
  PortEntry* e = openRow(port);
  if (!e || e->kind == PortKind::Stub) return;
  // Pumping moves what the transport holds into the ring, where it is dropped. The pump of
  // a serial line reads the driver empty, which is what a driver flush would do, so no
  // separate flush call is needed; a ring that filled up means more is waiting.
  for (int round = 0; round < kDiscardRounds; ++round) {
    e->rxRead = e->rxWrite;
    pump(*e, port);
    if (ringFree(*e) > 0) break;
  }
  e->rxRead = e->rxWrite;
}

int portTxEmpty(uint16_t port) {
  PortEntry* e = openRow(port);
  if (!e) return 1;
  return transportOf(*e).txEmpty(*e);
}

int portWaitInput(uint16_t port, uint32_t timeoutMs) {
  PortEntry* e = openRow(port);
  if (!e || e->kind == PortKind::Stub) {
    tickSleepMs(timeoutMs);
    return 0;
  }
  // What the ring already holds has been seen by the caller (a reply that is still short):
  // only bytes arriving after it end the wait, so a slow line is waited on, not polled.
  return waitForCount(*e, port, ringCount(*e) + 1, timeoutMs);
}

int portWaitReply(uint16_t port, size_t count, uint32_t timeoutMs) {
  PortEntry* e = openRow(port);
  if (!e || e->kind == PortKind::Stub) {
    tickSleepMs(timeoutMs);
    return 0;
  }
  if (count >= static_cast<size_t>(RX_RING_SIZE)) count = RX_RING_SIZE - 1;
  return waitForCount(*e, port, count, timeoutMs);
}

const PortEntry* portEntry(uint16_t port) { return openRow(port); }

PortLink portLinkKind(uint16_t port) {
  const PortEntry* e = openRow(port);
  if (!e) return PortLink::NoLink;
  if (e->kind == PortKind::TcpClient) return PortLink::ClientConnection;
  if (e->kind == PortKind::TcpServer) return PortLink::ServerPeer;
  return PortLink::NoLink;
}

bool portLinkUp(uint16_t port) {
  const PortEntry* e = openRow(port);
  if (!e) return false;
  if (e->kind == PortKind::TcpClient) return e->connected != 0;
  if (e->kind == PortKind::TcpServer) {
    for (int i = 0; i < kTcpServerClients; ++i)
      if (e->clientSocket[i] >= 0) return true;
  }
  return false;
}

void portSetTrace(PortTraceFn fn) { g_trace = std::move(fn); }

void portSetPeerHook(PortPeerFn fn) { g_peerHook = std::move(fn); }

void notifyPeer(const PortEntry& e, int slot, bool connected) {
  if (!g_peerHook || slot < 0 || slot >= kTcpServerClients) return;
  const uint16_t port = static_cast<uint16_t>(&e - g_table + 1);
  // A hook that opens or closes ports must not see a row it is changing: copy the text.
  char peer[kPeerTextSize];
  std::memcpy(peer, e.clientPeer[slot], sizeof peer);
  peer[kPeerTextSize - 1] = '\0';
  g_peerHook(port, peer, connected);
}

const char* portErrorText(int code) {
  switch (code) {
    case 0:
      return "no error";
    case kPortOpenTableFull:
      return "all 32 ports are already open";
    case kPortOpenEmptyName:
      return "empty port name";
    case kPortOpenNotInitialised:
      return "port table not initialised";
    case kPortOpenBadName:
      return "bad port name, or the network socket could not be set up";
    case kPortRateNotTaken:
      return "the driver keeps the line at another rate";
    case kPortNoOwnLine:
      return "the port has no line rate of its own (a network or stub port)";
    default:
      break;
  }
  if (code > 0) return osErrorText(code);
  static thread_local char text[32];
  std::snprintf(text, sizeof text, "error %d", code);
  return text;
}
