// What the "Main settings" and "Extra settings" tabs show, as plain form structures
// (texts, choice indexes, check states), and the codecs between forms and records:
// display (record -> form) and collect (form -> record, validated; the first failing
// check names its message and the control that gets the focus). No widgets here.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "settings/settings_controls.h"
#include "settings/settings_records.h"
#include "util/number_text.h"

constexpr int kAztColumns = 5;

struct MainSettingsForm {
  MainSettingsForm();
  std::array<std::string, kMainControlCount> text;  // Input and MultiLine controls
  std::array<int, kMainControlCount> choice;        // Choice controls: item, -1 none
  std::array<bool, kMainControlCount> on{};         // Radio and Check controls
  std::array<std::string, kAztColumns> aztA, aztB;  // the single row of each AZT table
  std::array<bool, 16> modes{};                     // first check list (trk_modes)
  std::array<bool, 11> modes2{};                    // second check list (trk_modes2)

  std::string& textOf(MainControl c) { return text[static_cast<size_t>(c)]; }
  const std::string& textOf(MainControl c) const { return text[static_cast<size_t>(c)]; }
  int& choiceOf(MainControl c) { return choice[static_cast<size_t>(c)]; }
  int choiceOf(MainControl c) const { return choice[static_cast<size_t>(c)]; }
  bool& onOf(MainControl c) { return on[static_cast<size_t>(c)]; }
  bool onOf(MainControl c) const { return on[static_cast<size_t>(c)]; }
};

struct ExtraSettingsForm {
  ExtraSettingsForm();
  std::array<std::string, kExtraControlCount> text;
  int massmeterType = -1;           // choice item, -1 none
  std::array<bool, 8> massFlags{};  // option list

  std::string& textOf(ExtraControl c) { return text[static_cast<size_t>(c)]; }
  const std::string& textOf(ExtraControl c) const { return text[static_cast<size_t>(c)]; }
};

// Result of a collect: ok, or the message (untranslated catalog key) and the focus.
struct CollectResult {
  bool ok = true;
  const char* message = nullptr;
  MainControl focus = MainControl::NoControl;
};

// Validation messages.
extern const char* const kMsgSideAddressesSame;  // "Side addresses must not be the same"
extern const char* const kMsgSideAddressRange;   // "Side addresses must be 1..0x20"
extern const char* const kMsgAztRange;           // "AZT addresses must be 1..210"
extern const char* const kMsgAztOverlap;         // "AZT addresses overlap"
extern const char* const kMsgSatelliteOverlap;   // "Satellite channels overlap"
extern const char* const kMsgSatelliteRange;     // "Satellite channels must be 0..15"
extern const char* const kMsgFastTokheim;        // "Must be 2 nozzles set for fast Tokheim"
extern const char* const kMsgMixedTokheim;  // "Must be 2 or more nozzles set for mixed Tokheim"

// Record -> form. Choices whose stored value has no item keep their selection.
void displayMainSettings(const MainSettings& rec, MainSettingsForm* form);
// Form -> record, in the board's rule order; *out may hold a partial record on failure.
CollectResult collectMainSettings(const MainSettingsForm& form, MainSettings* out);

// Record -> form; rawPressure (two raw readings) fills "Pressure (debug)" when given.
void displayExtraSettings(const ExtraSettings& rec, const uint16_t* rawPressure,
                          ExtraSettingsForm* form);
// Builds the candidate from base and the form (base supplies the fields without control).
ExtraSettings collectExtraSettings(const ExtraSettings& base, const ExtraSettingsForm& form);

// ---- coupled controls and the exclusive option rule ----
void onImmediateStartChosen(MainSettingsForm* form);  // "Slow start" = 25500
void onStart20mlChosen(MainSettingsForm* form);       // "Slow start" = 0
void onSlowStartEdited(MainSettingsForm* form);       // radios follow the value
void onNoCountingChosen(MainSettingsForm* form);      // "Overfill buffer" = 2550
void onCount3SecondsChosen(MainSettingsForm* form);   // "Overfill buffer" = 2540
void onOverfillBufferEdited(MainSettingsForm* form);
// "Fast tokheim" checked clears "Fast tokheim, one fat nozzle" and "Mixed tokheim, ...".
void applyExclusiveOptions(std::array<bool, 11>* modes2);

// ---- satellite channel text ----
struct SatelliteScan {
  uint32_t entries[4] = {0, 0, 0, 0};
};
SatelliteScan scanSatelliteText(const std::string& text);
std::string satelliteText(uint16_t word, const char* notAssigned);

// ---- password state ----
struct PasswordView {
  const char* text;  // "Not set", "Locked" (catalog keys) or "****"
  bool locked;       // the board locks the entry: the window marks the field
};
PasswordView passwordView(const PasswordStatus& st, bool calibration);
