// The prompt dialog: built for each question, run modally, destroyed when answered.
#include "ui/prompt_dialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace {

constexpr int kDialogW = 380;
constexpr int kMargin = 10;
constexpr int kTextSize = 14;
constexpr int kInputH = 26;
constexpr int kButtonW = 100, kButtonH = 26;

Fl_Input* g_input = nullptr;

struct PromptState {
  Fl_Window* window = nullptr;
  bool confirmed = false;
};

void on_ok(Fl_Widget*, void* data) {
  auto* st = static_cast<PromptState*>(data);
  st->confirmed = true;
  st->window->hide();
}

void on_cancel(Fl_Widget*, void* data) {
  auto* st = static_cast<PromptState*>(data);
  st->confirmed = false;
  st->window->hide();
}

}  // namespace

Fl_Input* current_prompt_input() { return g_input; }

bool run_prompt(const std::string& prompt, const std::string& initial, bool secret,
                std::string* answer) {
  // The question may take several lines; the dialog grows to show them all.
  fl_font(FL_HELVETICA, kTextSize);
  int textW = kDialogW - 2 * kMargin, textH = 0;
  fl_measure(prompt.c_str(), textW, textH, 0);
  textH = std::max(textH, fl_height());
  const int inputY = kMargin + textH + 6;
  const int buttonY = inputY + kInputH + kMargin;
  const int h = buttonY + kButtonH + kMargin;

  PromptState st;
  // Every widget belongs to the window and goes with it.
  Fl_Window* win = new Fl_Window(kDialogW, h, "Korvane v3");
  st.window = win;
  Fl_Box* text = new Fl_Box(kMargin, kMargin, kDialogW - 2 * kMargin, textH);
  text->copy_label(prompt.c_str());
  text->labelsize(kTextSize);
  text->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_TOP);
  Fl_Input* input = secret ? new Fl_Secret_Input(kMargin, inputY, kDialogW - 2 * kMargin, kInputH)
                           : new Fl_Input(kMargin, inputY, kDialogW - 2 * kMargin, kInputH);
  input->textsize(kTextSize);
  input->value(initial.c_str());
  Fl_Button* cancel =
      new Fl_Button(kDialogW - 2 * (kButtonW + kMargin), buttonY, kButtonW, kButtonH, fl_cancel);
  Fl_Return_Button* ok =
      new Fl_Return_Button(kDialogW - kButtonW - kMargin, buttonY, kButtonW, kButtonH, fl_ok);
  cancel->callback(on_cancel, &st);
  ok->callback(on_ok, &st);
  win->callback(on_cancel, &st);  // Escape and the window's close box
  win->end();
  win->set_modal();
  win->hotspot(ok);

  win->show();
  input->take_focus();
  // The whole initial text selected: a typed character replaces it instead of joining it.
  input->position(input->size(), 0);
  g_input = input;
  while (win->shown()) Fl::wait();
  g_input = nullptr;
  const bool confirmed = st.confirmed;
  if (confirmed) *answer = input->value() ? input->value() : "";
  delete win;
  return confirmed;
}
