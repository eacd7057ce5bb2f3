// A password input that also shows the board's password status ("****", "Not set",
// "Locked") in plain text until the engineer starts typing; what is typed is never shown.
#pragma once
#include <FL/Fl_Input.H>

class PasswordField : public Fl_Input {
 public:
  PasswordField(int x, int y, int w, int h, const char* label = nullptr);

  // Shows a status text in the clear; the next key typed replaces it.
  void show_status(const char* text);
  // True while the status text is shown (nothing typed since).
  bool showing_status() const { return status_; }

  int handle(int event) override;

 private:
  bool status_ = false;
};
