// The process-wide port table: up to 32 open byte pipes to the service bus (serial line,
// TCP client, TCP server, null port), each known by its port number 1..32 (0 = no port).
// Reads never block: they pump what the transport has ready into the row's receive ring.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class PortKind : uint8_t { Serial = 0, Stub = 3, TcpServer = 4, TcpClient = 6 };

constexpr int kPortTableRows = 32;
constexpr int RX_RING_SIZE = 10000;
constexpr int kPortNameSize = 100;  // a name holds at most 99 characters
constexpr int kTcpServerClients = 16;
constexpr uint32_t kTcpClientIdleDropMs = 60000;
constexpr uint16_t kTcpConnectDeadlineMs = 10000;
constexpr int kPeerTextSize = 24;  // "255.255.255.255:65535" and its NUL

struct PortEntry {
  char name[kPortNameSize];
  intptr_t handle;  // file descriptor or socket, -1 when none
  uint8_t* rxRing;  // RX_RING_SIZE bytes while open
  uint32_t inUse;
  uint16_t rxWrite;
  uint16_t rxRead;
  uint16_t connectDeadline;
  PortKind kind;
  uint32_t baud;
  uint8_t dataBits;
  char parity;
  uint8_t stopBits;
  intptr_t clientSocket[kTcpServerClients];
  uint32_t clientDeadline[kTcpServerClients];
  uint32_t connected;
  uint32_t connecting;
  uint32_t ipAddress;  // network byte order
  uint16_t tcpPort;
  // TCP server: the address of the peer in each client slot ("a.b.c.d:port").
  char clientPeer[kTcpServerClients][kPeerTextSize];
  // Serial: bytes the driver gathers before it reports input ready (0 until first set).
  uint8_t wakeThreshold;
  void* transportState;  // what a transport keeps beyond these fields (Windows serial: its wait)
};

// Result codes of portOpen besides 0 and the OS error codes of a serial open.
constexpr int kPortOpenTableFull = 1;
constexpr int kPortOpenEmptyName = 3;
constexpr int kPortOpenNotInitialised = 9;
constexpr int kPortOpenBadName = -1;  // also a name of 100 characters or more
// Results of portSetLine / portProbeLine besides 0 and the OS error codes.
constexpr int kPortRateNotTaken = -2;  // the driver took the call but runs another rate
constexpr int kPortNoOwnLine = -3;     // probe: TCP and stub ports carry no line of their own

// The settings of a serial line: rate and framing.
struct LineSettings {
  uint32_t baud = 4800;
  uint8_t dataBits = 8;
  char parity = 'N';
  uint8_t stopBits = 1;
};

void portTableInit();
int portOpen(const char* name, uint16_t* port);
int portClose(uint16_t port);
int portSetLine(uint16_t port, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);
// Whether the port's own line can run at these settings: 0 when a serial line took them
// (and was put back to its previous settings), kPortNoOwnLine for a TCP or stub port (the
// rate of a gateway's line is not the tool's to change) or no port, else the refusal.
int portProbeLine(uint16_t port, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);
int portWrite(uint16_t port, const uint8_t* data, size_t count);
int portAvailable(uint16_t port);
int portRead(uint16_t port, uint8_t* dst, size_t n);
// 1 when all n bytes arrived within the time-out; 0 otherwise, and then nothing is taken
// (what did arrive stays buffered). n of RX_RING_SIZE or more can never fit and gives 0.
int portReadWait(uint16_t port, uint8_t* dst, size_t n, uint32_t timeoutMs);
int portReadByte(uint16_t port, uint8_t* dst, uint16_t timeoutMs);
void portFlushInput(uint16_t port);
// Drops every byte received so far, those still held by the transport (socket or driver)
// included, with one receive step when little is pending. Used before a request is sent,
// so that a late reply to an earlier request cannot be taken for the new one.
void portDiscardInput(uint16_t port);
int portTxEmpty(uint16_t port);

// Waits until input arrives that the ring did not hold at the call (new bytes are pumped in),
// or timeoutMs passes. Returns 1 when new input came (or the ring is full), 0 on time-out.
// Bytes already buffered do not end the wait: a poller whose reply is still short sleeps until
// more of it arrives instead of spinning. Used by pollers instead of a blind sleep; for port 0,
// Stub and an unopened row it simply sleeps (never busy-spins).
// Under the fake clock it gives real peers at most 1 ms of real time, and when nothing came
// it advances the fake clock by timeoutMs (like tickSleepMs), so polling loops end.
// The ring keeps at most RX_RING_SIZE - 1 unread bytes; when it is full, further bytes are
// left in the transport (socket or tty) and pumped in once the reader has made room.
int portWaitInput(uint16_t port, uint32_t timeoutMs);
// Waits until the ring holds at least count bytes, or timeoutMs passes; takes nothing. 1 when
// they are in (or the ring is full), 0 on time-out. A serial driver is told the count, so a
// reply arriving byte by byte on a slow line wakes the wait once, not once a byte. Fake clock,
// port 0 and Stub as for portWaitInput.
int portWaitReply(uint16_t port, size_t count, uint32_t timeoutMs);

// The row of an open port, or nullptr (for inspection and tests).
const PortEntry* portEntry(uint16_t port);

// A TCP port reaches the board through a link that comes up after the open: a client's
// connection, or the first peer that joins a listening port. Serial and stub ports (and a
// port that is not open) have none and need no wait.
enum class PortLink { NoLink, ClientConnection, ServerPeer };
PortLink portLinkKind(uint16_t port);
// Whether that link is up: the client is connected, the listening port has a peer.
bool portLinkUp(uint16_t port);

// Traffic monitor: called with every chunk written to or received from a port.
using PortTraceFn = std::function<void(uint16_t port, bool sent, const uint8_t* data, size_t n)>;
void portSetTrace(PortTraceFn fn);

// Words for a portOpen/portSetLine result: the table's own codes, or the system's text of an
// OS error code (errno on Linux, a Windows error code on Windows).
const char* portErrorText(int code);

// Who may open a serial device, read from the device itself: its path, the name of the group
// owning it, whether the user is listed as a member of that group, and whether this process
// has that group now (a user added to a group has it only from the next log-in).
struct SerialDeviceAccess {
  std::string path;
  std::string group;
  bool userListed = false;
  bool groupInSession = false;
};
// false when the device or its group cannot be read.
bool serialDeviceAccess(const char* name, SerialDeviceAccess* out);

// Peers of a listening port ("TCPS_"): called when one connects and when one leaves (it
// closed, fell silent for 60 s, failed, or the port was closed), with its address as
// "a.b.c.d:port". The link layer itself prints nothing.
using PortPeerFn = std::function<void(uint16_t port, const char* peer, bool connected)>;
void portSetPeerHook(PortPeerFn fn);
