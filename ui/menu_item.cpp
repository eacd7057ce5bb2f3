// Plain menu items: every markup character of Fl_Menu_::add() and of label drawing escaped.
#include "ui/menu_item.h"

std::string plain_menu_text(const char* text) {
  std::string s;
  for (const char* p = text; *p; ++p) {
    // add() drops the backslash and keeps the next character as it is.
    if (*p == '/' || *p == '\\' || *p == '_') s += '\\';
    // The label keeps "&&", which draws as one '&' and marks no shortcut.
    if (*p == '&') s += '&';
    s += *p;
  }
  return s;
}

void add_plain_menu_item(Fl_Menu_* menu, const char* text) {
  menu->add(plain_menu_text(text).c_str());
}
