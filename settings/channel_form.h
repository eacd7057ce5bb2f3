// The channel window's form and its codec: what the controls of one channel show (texts,
// choice indexes, check states) turned into the 72-byte channel record and the 15-byte
// meter record and back, plus the channel numbering, the variables-table column texts and
// the blocking load/save of one channel. No FLTK here, so every rule is tested headless.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/channel_record.h"
#include "settings/settings_controls.h"

class UTRKDevice;
struct BoardSession;

constexpr int kStateEntryCount = 22;  // 21 known codes and "Unknown state"
constexpr int kUnknownStateEntry = 21;
constexpr int kStatusItemCount = 11;
constexpr int kFlagItemCount = 3;
constexpr int kPhaseEntryCount = 3;

// What the settings window shows for one channel.
struct ChannelForm {
  ChannelForm();                                    // every input shows "0"
  std::array<std::string, kChanControlCount> text;  // Input controls
  int state = -1;                                   // state list entry, -1 none
  int phase = -1;                                   // phase list entry, -1 none
  std::array<bool, kStatusItemCount> status{};      // status check list items 1..11
  std::array<bool, kFlagItemCount> flags{};         // flags check list items 1..3

  std::string& textOf(ChanControl c) { return text[static_cast<size_t>(c)]; }
  const std::string& textOf(ChanControl c) const { return text[static_cast<size_t>(c)]; }
};

// Untranslated texts of the lists, in list order.
extern const char* const kStateTexts[kStateEntryCount];
extern const int kStateCodes[kStateEntryCount - 1];
extern const char* const kStatusTexts[kStatusItemCount];
extern const uint16_t kStatusMasks[kStatusItemCount];
extern const char* const kFlagTexts[kFlagItemCount];
extern const char* const kPhaseTexts[kPhaseEntryCount];

// Entry of the state list that shows a state code (kUnknownStateEntry for codes without one).
int stateEntryForCode(uint8_t code);
// Code written for a state list entry: entry 21 or no selection gives 0.
uint8_t stateCodeForEntry(int entry);

// "Hex status" text ("0x%04X") of the checked status items; bits without an item are dropped.
std::string hexStatusFromChecks(const std::array<bool, kStatusItemCount>& checks);

// Channels the selector lists for a nozzle count: 2 x noz_count, never more than ten and
// none for a count of 0 or less.
int selectorChannelCount(int nozCount);
// The selector's entry texts (translated) for a nozzle count.
std::vector<std::string> channelSelectorEntries(int nozCount);
bool channelIndexValid(int index);
// Column header of the variables table, "1A" .. "5B".
std::string channelColumnName(int index);

// Record bytes -> form (the state list, status and flag checks, texts).
ChannelForm channelFormFromRecords(const ChannelRecord& channel, const MeterRecord& meter);
// Form -> record bytes, starting from zeros. Never fails; text that is not a number gives
// what can be read of it. *meter's type word on entry is the one the form showed: a typed
// type equal to it shifted right by one keeps that word (low bit included).
void channelFormToRecords(const ChannelForm& form, ChannelRecord* channel, MeterRecord* meter);

// The 21 texts of one variables-table column for a channel record, in record order.
std::vector<std::string> channelTableColumn(const ChannelRecord& channel);

// Blocking exchanges of one channel. loadChannel reads both records into their slots and
// returns the result of the meter read (the form is filled only when it is 1); an index
// outside 0..9 returns kResultRefused and touches nothing.
int loadChannel(UTRKDevice& dev, ChannelCopies& copies, int index);
// Admin log-in, then writes both records from their slots. Returns the result of the meter
// write, 0 when the log-in was refused, kResultRefused for an index outside 0..9.
int saveChannel(BoardSession& session, ChannelCopies& copies, int index);
// Reads one channel record into its slot (variables table); returns the result code.
int readChannelRecord(UTRKDevice& dev, ChannelCopies& copies, int index);
