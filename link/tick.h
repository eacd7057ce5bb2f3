// The shared millisecond tick, its deadline rules and the pool of 512 one-shot timers.
// The tick comes from a monotonic clock; tests can switch to a fake clock and step it.
#pragma once
#include <cstdint>

// Starts the tick (first reading) and clears every timer slot. Safe to call more than once.
void tickStart();

// Current tick in milliseconds (32-bit, wraps) and its low 16 bits.
uint32_t nowMs();
uint16_t nowMs16();

// True once the tick has reached the deadline (signed difference, correct across the wrap).
bool deadlineReached(uint32_t deadline);
bool deadlineReached16(uint16_t deadline);

// Sleeps for the given milliseconds (with the fake clock: advances it instead).
void tickSleepMs(uint32_t ms);

constexpr int kTimerSlots = 512;
// Takes the lowest free slot with deadline nowMs()+ms; -1 when all are busy.
int timerStart(uint32_t ms);
// 1 for an index out of range or a free slot; 0 while running; 1 (and frees the slot) once expired.
int timerExpired(int index);

// Fake clock for tests: while enabled nowMs() returns the fake value, which only moves
// by tickSetFake/tickAdvanceFake (and tickSleepMs).
void tickUseFakeClock(bool on);
void tickSetFake(uint32_t ms);
void tickAdvanceFake(uint32_t ms);
bool tickFakeClockActive();
