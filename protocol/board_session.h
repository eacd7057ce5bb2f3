// What the tool knows about the board it serves: the device handle and the engineer's
// Operator it is reached through, the address the banner names, what identification found,
// and the admin log-in. Replaced by every identification.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/utrk_device.h"
#include "util/operator.h"

// The admin log-in of one board: the password the engineer typed (asked once per board) and
// the board's PasswordStatus word, read with the settings, which says whether one is needed.
struct AdminLogin {
  bool cached = false;
  uint16_t password = 0;
  uint8_t status[2] = {0, 0};

  void forget() { *this = AdminLogin{}; }
};

struct BoardSession {
  UTRKDevice* dev = nullptr;
  Operator* op = nullptr;

  uint8_t pumpAddress = 1;  // current pump address
  char kind = 0;            // '#' or '$' after a successful identification
  std::string textId;       // text identifier, converted to UTF-8
  bool bootMode = false;    // text identifier contains "boot load"

  AdminLogin login;

  // What the front end keeps of the board it served (its settings copies, its open tabs) is
  // dropped through this one hook, called by forgetBoard.
  std::function<void()> onForgetBoard;
  // the current pump address changed (banner "Pump address %d").
  std::function<void(uint8_t)> onPumpAddress;

  // Everything known of the board served so far goes: what identification found, the
  // log-in, and (through the hook) what the front end keeps of it.
  void forgetBoard() {
    kind = 0;
    textId.clear();
    bootMode = false;
    login.forget();
    if (onForgetBoard) onForgetBoard();
  }
};
