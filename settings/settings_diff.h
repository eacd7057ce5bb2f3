// What an import would change: the keyed fields of the two settings records compared one by
// one, by file key, with the values in decimal as the settings file stores them. Used for
// "diff" of two settings files, the import's list before "Start writing?" and its dry run.
#pragma once
#include <string>
#include <vector>

#include "settings/settings_records.h"

// One keyed field whose value differs.
struct FieldChange {
  std::string key;     // the file key, e.g. "slow_start" or "w_ip[0]"
  std::string before;  // decimal, or the text of a value the file leaves to the board
  std::string after;
};

// Every keyed field of both records that differs, in file order ("main_setts" first).
std::vector<FieldChange> diffSettings(const MainSettings& beforeMain,
                                      const ExtraSettings& beforeExtra,
                                      const MainSettings& afterMain,
                                      const ExtraSettings& afterExtra);

// "key: before → after".
std::string fieldChangeLine(const FieldChange& c);

// A settings file as the import reads it: the keyed values it sets over all-zero records,
// and which "main_setts" keys it sets (a "main_setts" key it lacks keeps the board's own
// value, while a "mass_setts" key it lacks is written as 0).
struct SettingsFileContent {
  MainSettings main;
  ExtraSettings extra;
  std::vector<bool> mainKeySet;      // by index into kMainFields
  std::vector<std::string> skipped;  // keys whose value is not a decimal number
};

// Reads a settings file. Returns kJsonOk or the load error (kJsonCannotOpen with errno set,
// kJsonNotJson, kJsonMissingObject).
int readSettingsFileContent(const std::string& path, SettingsFileContent* out);
// Why a settings file could not be read, translated (for kJsonCannotOpen give the errno).
std::string settingsLoadErrorText(int code, int err);

// The import of file b compared with the import of file a: every keyed field whose written
// value would differ. A "main_setts" key missing from one file shows "(not in file)".
std::vector<FieldChange> diffSettingsFiles(const SettingsFileContent& a,
                                           const SettingsFileContent& b);
