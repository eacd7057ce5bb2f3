// The platform's half of waiting for input on an open port. The port table's portWaitInput
// decides what to wait for; the row's transport blocks on its own handles (poll() on Linux,
// WaitCommEvent or WSAPoll on Windows), and port_wait_posix.cpp / port_wait_win32.cpp turn
// its answer into a sleep that never spins.
#pragma once
#include <cstdint>

#include "link/port_internal.h"

// Blocks until a handle of the row is ready (input, a TCP connection's progress, a peer
// knocking) or timeoutMs passes. With no handle to wait on it sleeps the whole time, never
// spins. true when a handle is ready.
bool waitTransportReady(PortEntry& e, const PortTransport& t, uint32_t timeoutMs);
