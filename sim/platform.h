// What korvane-sim's event loop needs from the system: a way to be asked to stop, a wait on
// its transport handles that ends at a given time, timers precise enough for a paced line,
// local time stamps, and its arguments as UTF-8. platform_posix.cpp and platform_win32.cpp
// implement it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace sim {

// Call once before the loop: lets SIGINT and SIGTERM (Linux) or Ctrl+C, a closed console and
// the stop event (Windows) end it, makes timed waits as precise as the system allows (one byte
// at 115200 baud lasts 87 us), and has standard output end lines with "\n" alone.
void setUpProcess();
bool stopRequested();
// The name of the event that stops the simulator with the given process id on Windows, as
// the tests' harness signals it ("" on Linux, where SIGTERM does).
std::string stopEventName(unsigned long processId);

struct WaitHandle {
  intptr_t handle;
  bool forWrite;  // readiness to write (a connection being made) rather than to read
  bool ready;     // set by waitForEvents
};
// Sleeps until a handle is ready, a stop is asked for, or the steady clock reaches dueNs
// (kNeverNs: no limit). A stop that comes while waiting ends the wait at once.
void waitForEvents(WaitHandle* items, int n, uint64_t dueNs);

// Writes a line to standard output only as far as that never holds the boards up: a reader
// that stops reading loses such lines.
void writeNoteLine(const std::string& line);

// The local time of day with milliseconds, "HH:MM:SS.mmm".
std::string timeStamp();
// The local calendar time of t.
std::tm localTime(std::time_t t);
// The command-line arguments as UTF-8.
std::vector<std::string> utf8Arguments(int argc, char** argv);
// fopen() of a UTF-8 path.
FILE* openFile(const std::string& path, const char* mode);

}  // namespace sim
