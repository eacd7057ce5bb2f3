// Link-layer internals shared by the port table and its transports: the small operations
// table every transport fills in, the receive-ring helpers, the real monotonic clock and the
// operating system's error texts. Not for use above the link layer (tests may include it for
// the reset hook). Platform files implement the serial line, the sockets and the clock.
#pragma once
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
  // Sleeps until the transport may have new input (or connection progress) or timeoutMs
  // passes, without reading anything: 1 woken, 0 timed out, -1 nothing to wait on (the
  // caller sleeps instead).
  int (*wait)(PortEntry& e, uint32_t timeoutMs);
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

// ---- receive ring (owned by the port table) ----
size_t ringCount(const PortEntry& e);
size_t ringFree(const PortEntry& e);  // bytes that still fit (at most RX_RING_SIZE - 1 unread)

// Contiguous free room starting at rxWrite, where a transport may receive straight into the
// ring; ringCommit then makes n bytes of it count (and shows them to the traffic monitor).
size_t ringSpan(const PortEntry& e);
void ringCommit(PortEntry& e, uint16_t port, size_t n);

enum class FillResult { Drained, RingFull, EndOfStream, Error };

// The decimal port number of a TCP port name ("TCPC_host:PORT", "TCPS_PORT"): digits only,
// at most 65535. Port 0 is taken only when allowZero (a listener on any free port).
bool parseTcpPortNumber(const char* text, bool allowZero, uint16_t* port);

// ---- peers of a TCP server (port_table.cpp) ----
// Tells the peer hook that the peer in the slot connected or left.
void notifyPeer(const PortEntry& e, int slot, bool connected);

// ---- clock (clock_posix.cpp, clock_win32.cpp) ----
// Real monotonic milliseconds, unaffected by the fake clock (for bounds on real waits).
uint32_t monotonicMs();
// Sleeps for real, whatever clock the tick uses.
void sleepRealMs(uint32_t ms);

// ---- operating system errors (serial_posix.cpp, serial_win32.cpp) ----
// The system's words for an error code a serial open or line setting returned (errno on
// Linux, a Windows error code on Windows).
const char* osErrorText(int code);
// The system's code for "out of memory", returned when a receive ring cannot be allocated.
extern const int kOsErrorNoMemory;

// Test hook: closes every open port and forgets portTableInit, as at process start.
void portTableShutdownForTests();
