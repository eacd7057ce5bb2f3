// Waiting for a port's handles with poll(): the descriptors come from the transport.
#include <errno.h>
#include <poll.h>
#include <time.h>

#include "link/port_wait.h"

namespace {
// poll() takes a signed int; a longer wait ends early and the caller waits again.
constexpr uint32_t kMaxPollMs = 0x7FFFFFFF;
}  // namespace

bool waitTransportReady(PortEntry& e, const PortTransport& t, uint32_t timeoutMs) {
  pollfd fds[kPortMaxPollFds];
  const int nfds = t.pollFds(e, fds, kPortMaxPollFds);
  if (nfds == 0) {
    // Nothing to wait on (a TCP client whose connect was refused): sleep, never spin.
    sleepRealMs(timeoutMs);
    return false;
  }
  const uint32_t start = monotonicMs();
  for (;;) {
    const uint32_t elapsed = monotonicMs() - start;
    const uint32_t left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    const int r = poll(fds, static_cast<nfds_t>(nfds),
                       static_cast<int>(left > kMaxPollMs ? kMaxPollMs : left));
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) {
      // A failing poll() would fail again at once: sleep the time out instead of spinning.
      sleepRealMs(left);
      return false;
    }
  }
}

void sleepRealMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
