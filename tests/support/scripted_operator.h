// An Operator for tests: records every alert, question, prompt and log line, and answers
// from queues the test fills beforehand.
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "util/operator.h"

class ScriptedOperator : public Operator {
 public:
  std::vector<std::string> alerts;
  std::vector<std::string> questions;
  std::vector<std::string> prompts;
  std::string log;  // the whole log text
  int repaints = 0;

  std::deque<bool> confirmAnswers;          // empty: answer "No"
  std::deque<std::string> textAnswers;      // empty: cancel
  std::deque<std::string> passwordAnswers;  // empty: cancel
  std::deque<std::string> fileAnswers;      // empty: cancel

  void alert(const std::string& text) override { alerts.push_back(text); }
  bool confirm(const std::string& q) override {
    questions.push_back(q);
    if (confirmAnswers.empty()) return false;
    bool a = confirmAnswers.front();
    confirmAnswers.pop_front();
    return a;
  }
  bool askText(const std::string& p, const std::string&, std::string* answer) override {
    return take(p, textAnswers, answer);
  }
  bool askPassword(const std::string& p, std::string* answer) override {
    return take(p, passwordAnswers, answer);
  }
  bool chooseFile(const std::string& title, const std::string&, bool, std::string* path) override {
    return take(title, fileAnswers, path);
  }
  void logLine(const std::string& line) override { log += line + "\n"; }
  void logAppend(const std::string& text) override { log += text; }
  void logReplaceTail(size_t count, const std::string& text) override {
    log.erase(log.size() - std::min(count, log.size()));
    log += text;
  }
  void clearLog() override { log.clear(); }
  void repaint() override { ++repaints; }

  // The log split into lines (without the newlines).
  std::vector<std::string> logLines() const;

 private:
  bool take(const std::string& p, std::deque<std::string>& q, std::string* out) {
    prompts.push_back(p);
    if (q.empty()) return false;
    *out = q.front();
    q.pop_front();
    return true;
  }
};
