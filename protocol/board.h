// Procedures over UTRKDevice that every front end shares: identification, the admin log-in
// and the display-mode switch. They reach the engineer only through
// the Operator and a few hooks, so the GUI, the command line and the tests run them unchanged.
#pragma once
#include <cstdint>
#include <string>

#include "protocol/board_session.h"
#include "protocol/utrk_device.h"
#include "util/operator.h"

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
