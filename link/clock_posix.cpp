// The monotonic millisecond clock behind the tick, read from CLOCK_MONOTONIC on demand,
// so the tick needs no thread of its own; and a real sleep that signals do not cut short.
#include <time.h>

#include <cerrno>

#include "link/port_internal.h"

uint32_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void sleepRealMs(uint32_t ms) {
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
}
