// The global keyboard shortcuts, caught whichever window has the focus: F1..F12 select bus
// address 1..12 and identify the board there, Alt+F12 opens the channel settings window,
// Alt+F11 the channel variables table, Ctrl+T the traffic window. The windows are reached
// through hooks, which window_links wires.
#pragma once
#include <functional>

struct ShortcutHooks {
  // Asked before a key uses the bus (pauses the side monitor); false: the key does nothing.
  std::function<bool()> claimBus;
  // Sets the device address and the "Pump address %d" banner, and shows the "Main" tab.
  std::function<void(int address)> selectAddress;
  // Identification (not quiet) at the address; returns its result.
  std::function<int(int address)> identify;
  // The identified board runs its boot loader.
  std::function<bool()> bootMode;
  // The refresh after identification.
  std::function<void()> refresh;
  std::function<void()> openChannelForm;
  std::function<void()> openVariablesTable;
  std::function<void()> openTraffic;
};

// Replaces the hooks; unset hooks make their keys do nothing.
void set_shortcut_hooks(ShortcutHooks hooks);
// The handler for Fl::add_handler: looks only at FL_SHORTCUT events; 1 when it used the key.
int global_shortcut_handler(int event);
// The same decision for an explicit key and modifier state (tests drive it without events).
int handle_shortcut_key(int key, int state);
