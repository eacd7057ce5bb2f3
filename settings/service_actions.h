// The service commands of the "Main" tab that the GUI and the command line share:
// diagnostics, totals, restart, controller clear, imitator toggle and the serial number.
// Results go to the log or to alerts through the session's Operator, in the tool's texts.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "protocol/board.h"
#include "settings/settings_state.h"

constexpr size_t kSerialRecordSize = 14;
constexpr size_t kSerialTextLength = 8;
constexpr uint32_t kSerialMin = 1000;

// "Restart": logs "Reset result=%d"; returns the result code.
int restartController(BoardSession& s);
// "Controller clear": admin log-in, "This will set all pump totals to 0", clear, restart.
// Returns the clear's result code, or 0 when stopped before it.
int controllerClear(BoardSession& s);
// "Read diagnostics": the register lines and the twelve counter lines to the log.
void readDiagnostics(BoardSession& s);
// "Show totals": each nozzle's volume total to the log (channel copies updated).
// Returns false (after "Please read device id first") when the counts are unknown.
bool showTotals(BoardSession& s, SettingsState& st);
// "Imitator": writes the known mode byte with the imitator bit inverted. Returns the result.
int toggleImitator(BoardSession& s, SettingsState& st);
bool imitatorOn(const SettingsState& st);
// "Enter serial number": checks the text, asks, writes. Returns the result code, or 0 when
// refused or not confirmed.
int writeSerialNumber(BoardSession& s, const std::string& text);
// The 14-byte serial record of a checked text; false for a text that is not accepted.
bool buildSerialRecord(const std::string& text, std::array<uint8_t, kSerialRecordSize>* out);
// "Clear" of a side group: "Ok" or "Operation failed". Returns the result code.
int clearWrongClearCount(BoardSession& s, int side);
