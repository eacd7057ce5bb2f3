// The only way logic reaches the engineer: alerts, No/Yes questions, prompts, file choice,
// the message log and "let the window repaint now". The GUI, the command line and the
// tests each implement it; texts passed in are already translated where the tool translates.
#pragma once
#include <cstdint>
#include <string>

class Operator {
 public:
  virtual ~Operator() = default;

  // Message box with one button.
  virtual void alert(const std::string& text) = 0;
  // No/Yes question; true only for "Yes".
  virtual bool confirm(const std::string& question) = 0;
  // Text prompt with an initial value; false when cancelled.
  virtual bool askText(const std::string& prompt, const std::string& initial,
                       std::string* answer) = 0;
  // Password prompt (input hidden); false when cancelled.
  virtual bool askPassword(const std::string& prompt, std::string* answer) = 0;
  // File choice. filter is "Description\t*.ext" (one or more lines separated by '\n'); false when
  // cancelled.
  virtual bool chooseFile(const std::string& title, const std::string& filter, bool forSave,
                          std::string* path) = 0;

  // The log: a line (a newline is added), raw text without newline, replacing the last
  // count characters of the log text, and clearing it.
  virtual void logLine(const std::string& line) = 0;
  virtual void logAppend(const std::string& text) = 0;
  virtual void logReplaceTail(size_t count, const std::string& text) = 0;
  virtual void clearLog() = 0;

  // Let the window repaint now (the GUI runs one pass of its event loop).
  virtual void repaint() {}

  // How far a long transfer (the firmware image) has come: bytes done of total. Called once
  // with 0 before the first byte and again after each part the board acknowledged.
  virtual void progress(uint64_t done, uint64_t total) {
    (void)done;
    (void)total;
  }
};

// printf-style formatting into a std::string.
std::string strprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
