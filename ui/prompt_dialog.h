// The program's text and password prompts: a modal dialog with the question, one input and
// "Cancel" / "OK". The initial text comes selected, so that what the engineer types replaces
// it; a password is typed into an input that shows no characters.
#pragma once
#include <string>

class Fl_Input;

// Runs the dialog until it is answered. Returns false when cancelled (Cancel, Escape or the
// window closed); *answer is then untouched.
bool run_prompt(const std::string& prompt, const std::string& initial, bool secret,
                std::string* answer);

// The input of the prompt now on screen, nullptr when none (tests type into it).
Fl_Input* current_prompt_input();
