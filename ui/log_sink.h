// Where the FLTK operator writes the message log: the main window's log, or whatever a test
// puts in its place. Knowing only this, the operator needs no window.
#pragma once
#include <cstddef>

class LogSink {
 public:
  virtual ~LogSink() = default;
  // A line (the newline is added), text without a newline, the last count characters
  // replaced by text, and the whole log cleared.
  virtual void log_line(const char* text) = 0;
  virtual void log_append(const char* text) = 0;
  virtual void log_replace_tail(size_t count, const char* text) = 0;
  virtual void log_clear() = 0;
};
