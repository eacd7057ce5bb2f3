// One rule for putting a plain text into an FLTK menu or choice: Fl_Menu_::add() reads '/'
// as a submenu, a leading '_' as a divider and '\' as an escape, and the label drawing reads
// '&' as a shortcut mark; port names and catalog texts must show as they are.
#pragma once
#include <FL/Fl_Menu_.H>

#include <string>

// The text that Fl_Menu_::add() turns into a label showing text as it is.
std::string plain_menu_text(const char* text);
// Adds text to the menu as one plain item.
void add_plain_menu_item(Fl_Menu_* menu, const char* text);
