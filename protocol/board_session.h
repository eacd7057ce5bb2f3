// What the tool knows about the board it serves: the device handle and the engineer's
// Operator it is reached through, the address the banner names, what identification found,
// and the admin log-in. Replaced by every identification.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/utrk_device.h"
#include "util/operator.h"

struct BoardSession {
  UTRKDevice* dev = nullptr;
  Operator* op = nullptr;

  uint8_t pumpAddress = 1;  // current pump address
  char kind = 0;            // '#' or '$' after a successful identification
  std::string textId;       // text identifier, converted to UTF-8
  bool bootMode = false;    // text identifier contains "boot load"

  bool passwordCached = false;  // admin password typed once per board
  uint16_t cachedPassword = 0;
  uint8_t passwordStatus[2] = {0, 0};  // PasswordStatus word as read with the settings

  // Hooks to the window (all optional):
  // forget the cached service values and main settings copy, disable the settings tabs.
  std::function<void()> onForgetBoard;
  // the current pump address changed (banner "Pump address %d").
  std::function<void(uint8_t)> onPumpAddress;
};
