// FltkOperator: how the shared logic reaches the engineer in the FLTK program. Texts arrive
// already translated; they are shown with "%s" so a '%' in a message is never a format.
// Prompts use the program's own dialog, which comes with its default text selected.
#include "ui/fltk_operator.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/fl_ask.H>

#include "ui/prompt_dialog.h"
#include "util/catalog.h"

void translate_dialog_buttons() {
  fl_no = tr("No");
  fl_yes = tr("Yes");
  fl_ok = tr("OK");
  fl_cancel = tr("Cancel");
  fl_close = tr("Close");
}

void FltkOperator::alert(const std::string& text) { fl_alert("%s", text.c_str()); }

bool FltkOperator::confirm(const std::string& question) {
  return fl_choice("%s", tr("No"), tr("Yes"), nullptr, question.c_str()) == 1;
}

bool FltkOperator::askText(const std::string& prompt, const std::string& initial,
                           std::string* answer) {
  return run_prompt(prompt, initial, false, answer);
}

bool FltkOperator::askPassword(const std::string& prompt, std::string* answer) {
  return run_prompt(prompt, "", true, answer);
}

bool FltkOperator::chooseFile(const std::string& title, const std::string& filter, bool forSave,
                              std::string* path) {
  Fl_Native_File_Chooser chooser;
  chooser.title(title.c_str());
  chooser.type(forSave ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE
                       : Fl_Native_File_Chooser::BROWSE_FILE);
  chooser.filter(filter.c_str());
  if (chooser.show() != 0) return false;  // 1 cancelled, -1 error
  const char* name = chooser.filename();
  if (!name || !*name) return false;
  *path = name;
  return true;
}

void FltkOperator::logLine(const std::string& line) { log_->log_line(line.c_str()); }
void FltkOperator::logAppend(const std::string& text) { log_->log_append(text.c_str()); }
void FltkOperator::logReplaceTail(size_t count, const std::string& text) {
  log_->log_replace_tail(count, text.c_str());
}
void FltkOperator::clearLog() { log_->log_clear(); }
void FltkOperator::repaint() { Fl::wait(0); }
