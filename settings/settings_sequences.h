// The read and write sequences of the settings tabs over the device handle: main settings
// read, the refresh after identification, main and extra saves, password changes and the
// settings file export and import. Each talks to the engineer only through the session's
// Operator and returns when done; messages are shown translated.
#pragma once
#include <string>
#include <vector>

#include "protocol/board.h"
#include "settings/settings_form.h"
#include "settings/settings_state.h"

// How often the board is asked for after a restart at a new side A address.
constexpr int kFollowIdentifyAttempts = 10;
constexpr uint32_t kFollowRetryDelayMs = 200;

// Reads MainSettings into the read copy; enables and shows the tabs on success, disables
// them on failure (the previous copy stays). Returns the result code.
int readMainSettings(BoardSession& s, SettingsState& st);
// Counters to the log, imitator flag, password status, main settings read.
void refreshAfterIdentify(BoardSession& s, SettingsState& st);
// The same without the counters in the log (used before a command-line action).
void readServiceState(BoardSession& s, SettingsState& st);
// "Get identifier": identification at the current pump address and, when a board that is
// not in its boot loader answered, the refresh. Returns the identification result.
int identifyAndRefresh(BoardSession& s, SettingsState& st, uint8_t address, bool refresh = true);

// "Save settings" of "Main settings". Returns 1 when the record was written; on a
// validation failure *focus names the control that takes the focus.
int saveMainSettings(BoardSession& s, SettingsState& st, const MainSettingsForm& form,
                     MainControl* focus = nullptr);
// After a restart at a new side A address: make it the pump address, wait for the board
// to answer there, then identify and refresh.
int followBoardToAddress(BoardSession& s, SettingsState& st, uint8_t address);
// The main save from its admin log-in onward, writing st.writeCopy.
int writeMainSettings(BoardSession& s, SettingsState& st);
// The same after a log-in already made (the import logs in once for both records).
int writeMainSettingsLoggedIn(BoardSession& s, SettingsState& st);

// "Read settings" of "Extra settings": the record and the raw pressure readings.
int readExtraSettings(BoardSession& s, SettingsState& st);
// "Save settings" of "Extra settings". Returns 1 when written; refuses (0) while the extra
// copy was not read from the board now served.
int saveExtraSettings(BoardSession& s, SettingsState& st, const ExtraSettingsForm& form);

// "Change" beside "Admin password" (calibration false) or "Calibration password".
int changePassword(BoardSession& s, SettingsState& st, bool calibration, const std::string& typed);

// "Read image to file..": path empty asks the Operator for a file. Returns 1 when saved;
// writes no file without a main record read from this board or when the extra read fails.
int exportSettings(BoardSession& s, SettingsState& st, const std::string& path = "");
// Copies into *loaded the bytes of the extra record that no file key covers (the reserved
// word and the heater temperatures), from the record read from the board.
void keepUnkeyedExtraBytes(const ExtraSettings& board, ExtraSettings* loaded);
// "Write image from file..": path empty asks the Operator; lists the fields that change,
// then asks "Start writing?". Returns 1 only when both records were written.
int importSettings(BoardSession& s, SettingsState& st, const std::string& path = "");

// An import worked out before anything is written: the board's two records as read (CRC
// checked) and the records the import writes, the file's keyed values over the board's own.
struct ImportPlan {
  MainSettings boardMain, writeMain;
  ExtraSettings boardExtra, writeExtra;
  std::vector<std::string> skipped;  // file keys whose value is not a decimal number
};
// Reads the file, then both records of the board at the handle's address. 1 when the plan is
// ready; otherwise an alert said why ("File load error", "Read error") and nothing was sent
// after a bad file.
int prepareImport(BoardSession& s, const std::string& path, ImportPlan* plan);
// Logs the fields the import changes ("key: board value → file value") under a heading, or
// "No values changed". Returns how many change.
size_t logImportChanges(BoardSession& s, const ImportPlan& plan);
// Writes a prepared import: the admin log-in, the extra record, the main record with its
// restart and re-read. Returns 1 only when both records were written.
int writeImport(BoardSession& s, SettingsState& st, const ImportPlan& plan);
// The import's dry run: prepares it and lists what it would change; writes nothing.
// Returns 1 when the list could be made.
int previewImport(BoardSession& s, const std::string& path);
