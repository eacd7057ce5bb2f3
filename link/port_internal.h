// Link-layer internals shared by the port table and its transports: the small operations
// table every transport fills in, the receive-ring helpers and the real monotonic clock.
// Not for use above the link layer (tests may include it for the reset hook).
#pragma once
#include <poll.h>

#include <cstddef>
#include <cstdint>

#include "link/port.h"

// One transport kind. State lives in the PortEntry row; these functions act on it.
struct PortTransport {
  // Opens the transport for the row (name already copied in); 0 or an error code.
  int (*open)(PortEntry& e);
  void (*close)(PortEntry& e);
  int (*setLine)(PortEntry& e, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);
  // Connection/accept step: keeps a TCP row's connections moving; no input is read.
  void (*prepare)(PortEntry& e);
  // Receive step (runs prepare first): moves what the transport has ready into the ring.
  void (*pump)(PortEntry& e, uint16_t port);
  // 1 when written, 0 when the transport could not take the bytes.
  int (*write)(PortEntry& e, const uint8_t* data, size_t count);
  // Fills descriptors whose readiness means input (or connection progress); returns the count.
  int (*pollFds)(PortEntry& e, pollfd* fds, int maxFds);
  // Asks the driver to report input ready only once this many bytes (1..255) have arrived,
  // so a reply coming byte by byte wakes a wait once; nullptr where every byte wakes it.
  void (*setWakeThreshold)(PortEntry& e, uint8_t bytes);
  // Discards input still held by the driver (serial only).
  void (*discardInput)(PortEntry& e);
  int (*txEmpty)(PortEntry& e);
};

extern const PortTransport kSerialTransport;
extern const PortTransport kTcpClientTransport;
extern const PortTransport kTcpServerTransport;

// Most descriptors one row can ask to wait on: the listener and every client.
constexpr int kPortMaxPollFds = kTcpServerClients + 1;

// ---- receive ring (owned by the port table) ----
size_t ringCount(const PortEntry& e);
size_t ringFree(const PortEntry& e);  // bytes that still fit (at most RX_RING_SIZE - 1 unread)

enum class FillResult { Drained, RingFull, EndOfStream, Error };
// Reads from fd straight into the ring until the descriptor has nothing more ready or the
// ring is full; what does not fit stays in the descriptor for a later pump. Sockets use
// recv() so that a zero-length read means the peer closed. errno is kept on Error.
FillResult ringFillFromFd(PortEntry& e, uint16_t port, int fd, bool isSocket);

// ---- serial (serial_posix.cpp) ----
struct termios2;
// Puts baud (0 = 4800), data bits, parity letter and stop-bit code into tio: a rate with a
// code of its own by that code, any other as BOTHER with the number. Stop code other than
// 1 or 2 and an unknown parity letter leave those settings unchanged. false with errno
// EINVAL for a size termios cannot express or a rate beyond any line (nothing is
// half-changed then).
bool serialBuildLine(termios2& tio, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);
// The rates tio stands for, as the kernel reads them (0 for B0 or an unknown code).
uint32_t serialOutputRate(const termios2& tio);
uint32_t serialInputRate(const termios2& tio);

// ---- sockets (socket_posix.cpp) ----
// A TCP socket that is non-blocking, close-on-exec, with keep-alive and no Nagle delay; -1 on
// failure.
int makeStreamSocket();
void closeSocket(intptr_t& fd);  // shuts down and closes; sets fd to -1
// Sends all bytes on a non-blocking socket, waiting a bounded time while the peer's
// window is full. false on failure or stall (the caller drops the connection).
bool sendAll(int fd, const uint8_t* data, size_t count);
// The decimal port number of a TCP port name ("TCPC_host:PORT", "TCPS_PORT"): digits only,
// at most 65535. Port 0 is taken only when allowZero (a listener on any free port).
bool parseTcpPortNumber(const char* text, bool allowZero, uint16_t* port);

// ---- peers of a TCP server (port_table.cpp) ----
// Tells the peer hook that the peer in the slot connected or left.
void notifyPeer(const PortEntry& e, int slot, bool connected);

// ---- clock ----
// Real monotonic milliseconds, unaffected by the fake clock (for bounds on real waits).
uint32_t monotonicMs();

// Test hook: closes every open port and forgets portTableInit, as at process start.
void portTableShutdownForTests();
