// The "Side and nozzle settings" tab: per-side service data and per-channel meter type and
// phase, with the tab's read, display and write sequences.
#pragma once
#include <array>
#include <string>

#include "protocol/board.h"
#include "settings/settings_state.h"

struct SideGroupForm {
  std::string activeNozzle, calibrationCount, calibrationDate, deliveryCount, wrongClearCount;
};

struct MeterRowForm {
  bool shown = false;
  int channel = -1;                                     // channel index of the row
  std::string typeLabel, phaseLabel, calibrationLabel;  // translated
  std::string type = "0";                               // meter type (word >> 1)
  int phase = -1;                                       // choice item, -1 none
  std::string calibration, coefficient;
};

struct SideNozzleForm {
  std::array<SideGroupForm, 2> sides;
  std::array<MeterRowForm, kChannelCount> rows;
};

// Shown rows: side count x nozzle count, limited to the board's two sides and five nozzles.
int shownMeterRows(const SettingsState& st);
// Reads the meter records of the 2 x nozzle-count channels and both SideData records.
void readSideNozzle(BoardSession& s, SettingsState& st);
void displaySideNozzle(const SettingsState& st, SideNozzleForm* form);
// "Write settings". Returns 1 when every table write it made succeeded, 0 when nothing was
// written (no change, a refused type change, no log-in), else the failing write's result.
int writeSideNozzle(BoardSession& s, SettingsState& st, const SideNozzleForm& form);
