// Real toolkit events for the window tests: keys and mouse clicks go through Fl::handle, so
// focus, shortcuts, the global handler and the widgets' own event code all take part; and the
// frames the tool sent, split into headers to check whom they went to.
#pragma once
#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "protocol/utrk_device.h"

namespace guitest {

// One key as the X server would report it to the window (text: what the key types).
inline int sendKey(Fl_Window* w, int key, int state = 0, const char* text = "") {
  static char buf[16];
  std::snprintf(buf, sizeof buf, "%s", text);
  Fl::e_keysym = key;
  Fl::e_state = state;
  Fl::e_text = buf;
  Fl::e_length = static_cast<int>(std::strlen(buf));
  const int used = Fl::handle(FL_KEYBOARD, w);
  Fl::e_state = 0;
  return used;
}

// A left click in the middle of the widget: press, then release.
inline void click(Fl_Widget* wd) {
  Fl_Window* win = wd->window();
  Fl::e_x = wd->x() + wd->w() / 2;
  Fl::e_y = wd->y() + wd->h() / 2;
  Fl::e_x_root = win->x_root() + Fl::e_x;
  Fl::e_y_root = win->y_root() + Fl::e_y;
  Fl::e_keysym = FL_Button + 1;
  Fl::e_is_click = 1;
  Fl::e_clicks = 0;
  Fl::e_state = FL_BUTTON1;
  Fl::handle(FL_PUSH, win);
  Fl::e_state = 0;
  Fl::handle(FL_RELEASE, win);
}

// (bus address, command) of every frame header [0x60, address, command, checksum] in bytes.
inline std::vector<std::pair<int, int>> frameHeaders(const std::vector<uint8_t>& bytes) {
  std::vector<std::pair<int, int>> out;
  for (size_t i = 0; i + 4 <= bytes.size(); ++i)
    if (bytes[i] == 0x60 && frameChecksum(&bytes[i], 3) == bytes[i + 3])
      out.emplace_back(bytes[i + 1], bytes[i + 2]);
  return out;
}

// The bus addresses the frames went to, as text ("1 1 2"), for readable failures.
inline std::string addressesOf(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (const auto& h : frameHeaders(bytes)) s += (s.empty() ? "" : " ") + std::to_string(h.first);
  return s;
}

// Every frame as hex, for the failure messages.
inline std::string hexOf(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (uint8_t x : bytes) {
    std::snprintf(b, sizeof b, "%02X ", x);
    s += b;
  }
  return s;
}

}  // namespace guitest
