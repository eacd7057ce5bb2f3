// PasswordField: status text in the clear, typed text hidden.
#include "ui/password_field.h"

#include <FL/Fl.H>

PasswordField::PasswordField(int x, int y, int w, int h, const char* label)
    : Fl_Input(x, y, w, h, label) {}

void PasswordField::show_status(const char* text) {
  type(FL_NORMAL_INPUT);
  value(text);
  status_ = true;
}

int PasswordField::handle(int event) {
  if (status_ && (event == FL_KEYBOARD || event == FL_PASTE)) {
    const char* text = Fl::event_text();
    const bool printable = Fl::event_length() > 0 && text &&
                           static_cast<unsigned char>(text[0]) >= 32 && text[0] != 127;
    const bool edits = event == FL_PASTE || printable || Fl::event_key() == FL_BackSpace ||
                       Fl::event_key() == FL_Delete;
    // Shortcuts (Ctrl+T, F-keys) and moving keys leave the status as it is.
    if (edits && !(Fl::event_state() & (FL_CTRL | FL_ALT | FL_META))) {
      status_ = false;
      value("");
      type(FL_SECRET_INPUT);
    }
  }
  return Fl_Input::handle(event);
}
