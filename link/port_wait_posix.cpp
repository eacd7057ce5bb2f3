// Waiting for a port's handles on POSIX: the transport polls its descriptors (and retries
// after a signal); what is left here is sleeping when there is nothing to poll.
#include "link/port_wait.h"

bool waitTransportReady(PortEntry& e, const PortTransport& t, uint32_t timeoutMs) {
  const int r = t.wait(e, timeoutMs);
  if (r > 0) return true;
  // Nothing to wait on (a TCP client whose connect was refused), or a poll() that failed and
  // would fail again at once: sleep the time out instead of spinning.
  if (r < 0) sleepRealMs(timeoutMs);
  return false;
}
