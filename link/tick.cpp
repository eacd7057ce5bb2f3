// The shared millisecond tick with its wrap-safe deadline rules, the fake clock that tests
// step by hand, and the pool of 512 one-shot timers.
#include "link/tick.h"

#include <atomic>
#include <mutex>

#include "link/port_internal.h"

namespace {
std::atomic<bool> g_fakeActive{false};
std::atomic<uint32_t> g_fakeMs{0};

struct TimerSlot {
  bool busy;
  uint32_t deadline;
};
TimerSlot g_timers[kTimerSlots];
std::mutex g_timerLock;  // the simulator may run timers on its own threads
}  // namespace

void tickStart() {
  std::lock_guard<std::mutex> lock(g_timerLock);
  for (auto& t : g_timers) t = TimerSlot{false, 0};
}

uint32_t nowMs() {
  return g_fakeActive.load(std::memory_order_relaxed) ? g_fakeMs.load() : monotonicMs();
}
uint16_t nowMs16() { return static_cast<uint16_t>(nowMs()); }

bool deadlineReached(uint32_t deadline) { return static_cast<int32_t>(nowMs() - deadline) >= 0; }
bool deadlineReached16(uint16_t deadline) {
  return static_cast<int16_t>(static_cast<uint16_t>(nowMs16() - deadline)) >= 0;
}

void tickSleepMs(uint32_t ms) {
  if (g_fakeActive.load()) {
    g_fakeMs.fetch_add(ms);
    return;
  }
  sleepRealMs(ms);
}

int timerStart(uint32_t ms) {
  std::lock_guard<std::mutex> lock(g_timerLock);
  for (int i = 0; i < kTimerSlots; ++i) {
    if (!g_timers[i].busy) {
      g_timers[i] = TimerSlot{true, nowMs() + ms};
      return i;
    }
  }
  return -1;
}

int timerExpired(int index) {
  if (index < 0 || index >= kTimerSlots) return 1;
  std::lock_guard<std::mutex> lock(g_timerLock);
  TimerSlot& t = g_timers[index];
  if (!t.busy) return 1;
  if (static_cast<int32_t>(nowMs() - t.deadline) < 0) return 0;
  t.busy = false;
  return 1;
}

void tickUseFakeClock(bool on) {
  if (on && !g_fakeActive.load()) g_fakeMs.store(monotonicMs());
  g_fakeActive.store(on);
}
void tickSetFake(uint32_t ms) { g_fakeMs.store(ms); }
void tickAdvanceFake(uint32_t ms) { g_fakeMs.fetch_add(ms); }
bool tickFakeClockActive() { return g_fakeActive.load(); }
