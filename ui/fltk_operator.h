// The Operator of the FLTK program: modal dialogs (fl_alert, fl_choice, fl_input,
// fl_password), the native file chooser, and the log it is given (the main window's).
#pragma once
#include "ui/log_sink.h"
#include "util/operator.h"

class FltkOperator : public Operator {
 public:
  explicit FltkOperator(LogSink* log) : log_(log) {}

  void alert(const std::string& text) override;
  bool confirm(const std::string& question) override;
  bool askText(const std::string& prompt, const std::string& initial, std::string* answer) override;
  bool askPassword(const std::string& prompt, std::string* answer) override;
  bool chooseFile(const std::string& title, const std::string& filter, bool forSave,
                  std::string* path) override;
  void logLine(const std::string& line) override;
  void logAppend(const std::string& text) override;
  void logReplaceTail(size_t count, const std::string& text) override;
  void clearLog() override;
  void repaint() override;

 private:
  LogSink* log_;
};

// Sets the toolkit's standard dialog button labels through the catalog.
void translate_dialog_buttons();
