// Factory presets: the fixed MainSettings, meter phase and meter type values per pump type,
// the C4000 ExtraSettings, the form of the "Factory settings" window and the write sequence.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/board.h"
#include "settings/settings_state.h"

enum PumpType : int {
  kPumpShelf = 0,
  kPumpGeneral = 1,
  kPumpC4000 = 2,
  kPumpAstra = 3,
  kPumpTokheim = 4
};
constexpr int kPumpTypeCount = 5;
extern const char* const kPumpTypeItems[kPumpTypeCount];  // "Shelf" .. "Tokheim"
extern const char* const kPresetSideItems[2];             // "One side", "Two sides"

// What the "Factory settings" window shows.
struct PresetForm {
  int pumpType = -1;     // -1 none chosen
  int sideChoice = 1;    // 0 "One side", 1 "Two sides", -1 none
  int nozzleChoice = 0;  // item, nozzle count - 1; -1 none
  std::string sideA = "1", sideB = "2";
  int columns = 1;  // columns of both AZT tables
  std::array<std::string, 5> aztA{{"1", "", "", "", ""}};
  std::array<std::string, 5> aztB{{"2", "", "", "", ""}};
};

// The description of a type ("" for none), untranslated.
const char* presetDescription(int pumpType);
// "Pump type" changed: for "Astra" one side and one nozzle are chosen. Returns the description.
const char* describePumpType(PresetForm* form);
// "Nozzle count" changed: both tables get n columns, A 1..n and B n+1..2n.
void onPresetNozzlesChosen(PresetForm* form);

MainSettings presetMainSettings(const PresetForm& form);
uint8_t presetPhase(int pumpType);
uint16_t presetTypeWord(int pumpType);
ExtraSettings presetExtraSettings();  // C4000

// Percent of the preset write reached before each step, for a progress bar.
constexpr int kPresetStepClear = 5;
constexpr int kPresetStepPhases = 20;
constexpr int kPresetStepTypes = 40;
constexpr int kPresetStepMain = 60;
constexpr int kPresetStepExtra = 75;
constexpr int kPresetStepRestart = 90;
constexpr int kPresetStepDone = 100;

// "Factory settings" button. Refuses without a pump type or nozzle count; asks before the
// controller clear. progress (optional) hears the percent before each step, 100 before
// "All ok". Returns 1 when every step succeeded ("All ok").
int applyPreset(BoardSession& s, SettingsState& st, const PresetForm& form,
                const std::function<void(int percent)>& progress = {});
