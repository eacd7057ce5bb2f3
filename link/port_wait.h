// The platform's half of waiting for input on an open port: blocking on the handles a row's
// transport names, and sleeping. The port table's portWaitInput decides what to wait for;
// port_wait_posix.cpp does the blocking with poll(), another platform brings its own file.
#pragma once
#include <cstdint>

#include "link/port_internal.h"

// Blocks until a handle of the row is ready (input, a TCP connection's progress, a peer
// knocking) or timeoutMs passes. With no handle to wait on it sleeps the whole time, never
// spins. true when a handle is ready.
bool waitTransportReady(PortEntry& e, const PortTransport& t, uint32_t timeoutMs);

// Sleeps ms of real time (the fake clock of the tests does not shorten it).
void sleepRealMs(uint32_t ms);
