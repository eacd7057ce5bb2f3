// Waiting for a port's handles on Windows: a serial row sleeps in WaitCommEvent on its
// overlapped handle, a TCP row in WSAPoll on its sockets. A row with nothing to wait on, or
// whose wait failed, sleeps the time out in one Sleep, so a failing handle is never spun on.
#include <windows.h>

#include "link/port_wait.h"

bool waitTransportReady(PortEntry& e, const PortTransport& t, uint32_t timeoutMs) {
  const int r = t.wait(e, timeoutMs);
  if (r > 0) return true;
  if (r < 0) Sleep(timeoutMs);
  return false;
}
