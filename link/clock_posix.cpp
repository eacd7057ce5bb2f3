// The monotonic millisecond clock behind the tick, read from CLOCK_MONOTONIC on demand,
// so the tick needs no thread of its own.
#include <time.h>

#include "link/port_internal.h"

uint32_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}
