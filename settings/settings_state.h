// What the settings tabs keep between actions: the read and write copies of the main
// settings, the extra copy, the service values read with them, the channel and meter record
// copies and the per-side data, plus optional hooks the window uses to refresh itself.
// The GUI's AppState holds one; the command line and the tests hold their own.
#pragma once
#include <array>
#include <cstdint>
#include <functional>

#include "settings/channel_record.h"
#include "settings/settings_records.h"

struct SettingsState {
  MainSettings readCopy;   // last record read from the board
  MainSettings writeCopy;  // record being written
  ExtraSettings extra;     // last read, last collected, or last preset
  bool extraRead = false;  // extra holds a record read from the board now served
  uint16_t rawPressure[2] = {0, 0};
  ServiceCounters counters;
  uint8_t imitatorByte = 0;     // last known mode byte (register 0x24)
  bool imitatorActive = false;  // the "Imitator" button is usable
  bool tabsEnabled = false;     // the three settings tabs are active
  ChannelCopies records;        // channel and meter record copies of the ten channels
  std::array<SideData, 2> sides{};

  // Window hooks (all optional).
  std::function<void(bool on)> onTabsEnabled;  // enable or disable the settings tabs
  std::function<void()> onMainRead;            // show the read copy on "Main settings"
  std::function<void()> onExtraRead;           // show the extra copy on "Extra settings"
  std::function<void()> onServiceValues;       // password state and the "Imitator" button
  std::function<void()> onSideNozzleRead;      // show sides and meters

  // Side and nozzle counts of the read copy.
  unsigned sideCount() const { return readCopy.get(ms::side_count); }
  unsigned nozzleCount() const { return readCopy.get(ms::noz_count); }
};

// Forgets what was read from the previous board (called when a board is identified): the
// main and extra copies, the service values and which channel copies came from the board.
void forgetBoardSettings(SettingsState* st);
