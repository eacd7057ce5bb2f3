// The sockets seam of the link layer: TCP sockets as the TCP client and server transports use
// them, over BSD sockets (socket_posix.cpp) or Winsock 2 (socket_win32.cpp). A socket is kept
// as an intptr_t; kNoSocket stands for none.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/port_internal.h"

constexpr intptr_t kNoSocket = -1;

// A TCP socket that is non-blocking, not inherited by child processes, with keep-alive on and
// the Nagle delay off; kNoSocket on failure.
intptr_t socketOpenStream();
// A socket set up as socketOpenStream's, bound to the local IPv4 address (network byte order;
// 0 for every local address) at tcpPort (0: any free port) and listening; kNoSocket on failure.
intptr_t socketListen(uint32_t address, uint16_t tcpPort, int backlog);
// One waiting connection, set up as socketOpenStream's, its peer's address written to peer as
// "a.b.c.d:port"; kNoSocket when none is waiting.
intptr_t socketAccept(intptr_t listener, char* peer, size_t peerSize);
// Shuts the socket down both ways and closes it; sets s to kNoSocket.
void socketClose(intptr_t& s);

enum class ConnectStep { Connected, Pending, Failed };
// Starts connecting to an IPv4 address (network byte order) and port.
ConnectStep socketConnect(intptr_t s, uint32_t ipAddress, uint16_t tcpPort);
// Checks a pending connect without waiting: Connected, Pending, or Failed (refused or
// unreachable; such a socket cannot connect again).
ConnectStep socketConnectCheck(intptr_t s);
// The IPv4 address of dotted-decimal text, in network byte order (no name resolution).
bool socketParseIpv4(const char* text, uint32_t* address);

// Sends all bytes, waiting a bounded time while the peer's window is full. false on failure
// or stall (the caller drops the connection). Never raises SIGPIPE.
bool socketSendAll(intptr_t s, const uint8_t* data, size_t count);
// Receives straight into the ring until the socket has nothing more ready or the ring is
// full; what does not fit stays in the socket for a later pump.
FillResult socketFill(PortEntry& e, uint16_t port, intptr_t s);

struct SocketWait {
  intptr_t socket;
  bool forWrite;  // readiness to write (a connect finishing) rather than to read or accept
  bool ready;     // set by socketWait: ready, closed by the peer, or in error
  bool invalid;   // set by socketWait: not an open socket at all
};
// Sleeps until one of the sockets is ready or timeoutMs passes (0: only looks). Returns the
// number of ready or invalid entries, 0 on time-out, -1 when the wait itself failed.
int socketWait(SocketWait* items, int n, uint32_t timeoutMs);
