// The monotonic millisecond clock behind the tick on Windows: the performance counter, read on
// demand (GetTickCount64 moves in steps of the 15.6 ms system tick, too coarse for time-outs
// of a few milliseconds), and a plain Sleep.
#include <windows.h>

#include "link/port_internal.h"

uint32_t monotonicMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const int64_t c = now.QuadPart;
  // Whole seconds and the rest apart, so the product cannot overflow.
  const int64_t ms = (c / frequency) * 1000 + (c % frequency) * 1000 / frequency;
  return static_cast<uint32_t>(ms);
}

void sleepRealMs(uint32_t ms) { Sleep(ms); }
