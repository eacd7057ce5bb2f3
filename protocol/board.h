// Procedures over UTRKDevice that every front end shares: identification, admin log-in, the
// board's last-error query and the display-mode switch. They reach the engineer only through
// the Operator and a few hooks, so the GUI, the command line and the tests run them unchanged.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/utrk_device.h"
#include "util/operator.h"

constexpr uint32_t kLastStatusTimeoutMs = 300;
constexpr int kLastStatusReplyLength = 16;

// What the tool knows about the board it serves; replaced by every identification.
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

// Builds the 4-byte header [0x60, address, command, checksum], flushes the port's input and
// writes the header.
void sendHeader(uint16_t port, uint8_t address, uint8_t command);
// Asks the board's last error (16-byte reply, code at byte 7); 0 when no reply came.
int readLastStatus(BoardSession& s);
// The message of a last-error code ("Turn the configuration key on", "Wrong password",
// "Password entry locked", "Write error"), untranslated.
const char* lastErrorMessage(int code);

// Reads the text identifier of the board at dev.address into *utf8 (board code page turned
// into UTF-8). Returns kResultDone or the failing result code; *utf8 is untouched on failure.
int readBoardTextId(UTRKDevice& dev, std::string* utf8);
// Identification procedure; 1 when a supported board answered.
int identifyBoard(BoardSession& s, uint8_t address, bool quiet);
// Admin log-in before a settings write; 1 when accepted or no password is set.
int enterAdminPassword(BoardSession& s, bool askOld);
// Writes the display mode byte; logs "Display mode result=%d". Returns the result code.
int setDisplayMode(BoardSession& s, uint8_t mode);

// Formats value with the given decimal places, right-aligned in width (never cut).
std::string formatDecimalRight(int64_t value, int decimals, int width);
