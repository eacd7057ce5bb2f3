// Backing up and restoring the boards of a bus: one board's records read whole (settings
// with their CRC, channel and meter records, side data) into a backup file that is also a
// settings file the import accepts unchanged, and the runs over a list of bus addresses with
// a progress line per board and a table of results at the end.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/board.h"
#include "settings/channel_record.h"
#include "settings/settings_records.h"

// Addresses a bus scan visits, as "Search pumps.." does.
constexpr uint8_t kBusScanFirstAddress = 1;
constexpr uint8_t kBusScanLastAddress = 32;

// Everything a backup keeps of one board.
struct BoardBackup {
  uint8_t address = 0;
  char kind = 0;
  std::string textId;  // UTF-8
  std::string time;    // local time of the backup, "2024-05-01T12:34:56+0300"
  MainSettings main;
  ExtraSettings extra;
  int channelCount = 0;  // channel and meter records read: 2 x the nozzle count, at most ten
  std::array<ChannelRecord, kChannelCount> channels{};
  std::array<MeterRecord, kChannelCount> meters{};
  std::array<SideData, 2> sides{};
};

// "board-03.json".
std::string backupFileName(uint8_t address);
// The address of a name backupFileName gives (1..239); false for any other name.
bool backupFileAddress(const std::string& name, uint8_t* address);
// The file: "main_setts" and "mass_setts" exactly as an export writes them, then the objects
// "board", "channel_records", "meter_records" and "side_data", which the import ignores.
std::string backupFileText(const BoardBackup& b);
// Writes it atomically (kJsonOk, or kJsonCannotOpen with errno telling why).
int saveBackupFile(const std::string& path, const BoardBackup& b);

// Reads the board at address whole, after it answered identification: text identifier,
// both settings records, the channel and meter records of its channels and the side data,
// every record CRC-checked. Returns 1, or 0 with *why saying which read failed (translated).
int readBoardBackup(BoardSession& s, uint8_t address, BoardBackup* out, std::string* why);

enum class BusResult { Done, Failed, NotFound, NotWritten };

// One row of the table at the end of a run.
struct BusRow {
  uint8_t address = 0;
  std::string textId;
  BusResult result = BusResult::Failed;
};

// The table: address, text identifier, result; one line each, the heading first.
std::vector<std::string> busTableLines(const std::vector<BusRow>& rows, bool restore);
// True when every board the run was about was done: none failed, and none of the addresses
// named by the engineer (listed) was missing; a run that found no board at all is a failure.
bool busRunSucceeded(const std::vector<BusRow>& rows, bool listed);

// Makes the folder (and its parents) and checks that files can be written there. False with
// a translated reason otherwise.
bool prepareBackupFolder(const std::string& dir, std::string* why);

// Backs up every board found at the addresses into dir/board-NN.json, logging a line per
// address as it goes ("Pump 03 found", "Pump 03 saved to ...", "Pump 03 failed: ...") and
// the table at the end. A board whose reads fail gets no file. Addresses where no board
// answers get a row only when the engineer listed them.
std::vector<BusRow> backupBus(BoardSession& s, const std::string& dir,
                              const std::vector<uint8_t>& addresses, bool listed);

// Restores dir/board-NN.json into the board at NN for every file (or every address listed):
// identifies each board and lists what its import changes, asks "Start writing?" once for
// the whole run, then imports board by board. Bus addresses are never changed: the main
// record keeps the board's own side addresses, baud rates and tag.
std::vector<BusRow> restoreBus(BoardSession& s, const std::string& dir,
                               const std::vector<uint8_t>& addresses);
// The addresses of the board-NN.json files in dir, in order; false with a translated reason
// when the folder cannot be read.
bool backupFilesIn(const std::string& dir, std::vector<uint8_t>* addresses, std::string* why);
