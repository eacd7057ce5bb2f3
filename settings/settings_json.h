// The settings file: both settings records as a small JSON document ("main_setts" and
// "mass_setts"), one key per field with its unsigned value as a decimal string. The key
// order and spelling come from the records' field tables.
#pragma once
#include <string>
#include <vector>

#include "settings/settings_records.h"

constexpr size_t kSettingsFileMaxBytes = 16383;  // a longer file is cut here

constexpr int kJsonOk = 0;
constexpr int kJsonCannotOpen = -1;  // load: cannot open; save: cannot create
constexpr int kJsonNotJson = -2;
constexpr int kJsonMissingObject = -3;  // "main_setts" or "mass_setts" absent

// Writes the file through a temporary name and a rename, so a failed write never leaves
// a half-written file under the chosen name.
int saveSettingsFile(const std::string& path, const MainSettings& main, const ExtraSettings& extra);
// The same for any text (kJsonOk, or kJsonCannotOpen with errno telling why).
int saveTextFileAtomically(const std::string& path, const std::string& text);
// The text saveSettingsFile writes.
std::string settingsFileText(const MainSettings& main, const ExtraSettings& extra);
// Overlays the keyed fields found in the file onto *main and *extra (nothing is applied on
// failure). Keys whose value is not a string holding an unsigned decimal number that fits
// in 32 bits are left untouched and listed in *skipped (as "main_setts.key"); the keys
// applied are listed in *applied the same way.
int loadSettingsFile(const std::string& path, MainSettings* main, ExtraSettings* extra,
                     std::vector<std::string>* skipped = nullptr,
                     std::vector<std::string>* applied = nullptr);
// The same from text already in memory.
int loadSettingsText(const std::string& text, MainSettings* main, ExtraSettings* extra,
                     std::vector<std::string>* skipped = nullptr,
                     std::vector<std::string>* applied = nullptr);
// The export name: used as it is when it holds ".json" anywhere, else with ".json" added.
std::string settingsFileName(const std::string& chosen);
