// The board's per-channel records: the 72-byte channel record (state, presets, volumes,
// prices, totals) and the 15-byte meter record (impulse weight, meter type, phase,
// calibration count), with one descriptor table each and the channel numbering rules.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/memory_map.h"
#include "settings/le_bytes.h"

constexpr int kChannelCount = 10;  // 5 nozzles x 2 sides

// Channel index: 2 x nozzle (from 0) + side (A = 0, B = 1).
constexpr int channelIndex(int side, int nozzleFrom0) { return 2 * nozzleFrom0 + side; }
constexpr int channelSide(int channel) { return channel & 1; }
constexpr int channelNozzle(int channel) { return channel / 2 + 1; }  // counted from 1
constexpr char channelSideLetter(int channel) { return (channel & 1) ? 'B' : 'A'; }
constexpr uint32_t channelRecordAddress(int channel) {
  return kChannelRecordBase + kRecordRowStride * static_cast<uint32_t>(channel);
}
constexpr uint32_t meterRecordAddress(int channel) {
  return kMeterRecordBase + kRecordRowStride * static_cast<uint32_t>(channel);
}

// The 21 variables of the channel record, in record order (also the row order of the
// channel variables table).
enum class ChannelField : uint8_t {
  state,
  bit_status,
  bit_status2,
  load_vol_lo,
  load_vol_hi,
  k_vol_lo,
  k_vol_hi,
  set_vol,
  set_summ,
  last_vol,
  price,
  base_price,
  vol_end,
  vol_start,
  d_count,
  f_count,
  f_c_mil,
  l_count,
  s_count,
  b_count,
  m_count
};
constexpr int kChannelFieldCount = 21;

// How a variable is shown.
enum class ChannelShow : uint8_t {
  Code,        // state code
  Hex,         // status bits, companion words
  Hundredths,  // unsigned count of 0.01 units
  Whole,       // grand total, whole units
  Cents,       // grand total, hundredths 0..99
};

struct ChannelFieldDesc {
  ChannelField field;
  const char* name;  // variable name (row header of the variables table)
  uint8_t offset;
  uint8_t width;
  ChannelShow show;
};
extern const std::array<ChannelFieldDesc, kChannelFieldCount> kChannelFields;

// Offsets used outside the descriptor table.
constexpr size_t kChannelMoneyTotal64Offset = 55;  // '$' boards: 64-bit money total
constexpr size_t kChannelMassTotal64Offset = 63;   // '$' boards: 64-bit mass total

struct ChannelRecord {
  std::array<uint8_t, kChannelRecordSize> bytes{};

  uint32_t get(ChannelField f) const;
  void set(ChannelField f, uint32_t value);
  uint8_t* data() { return bytes.data(); }
  const uint8_t* data() const { return bytes.data(); }
};
static_assert(sizeof(ChannelRecord) == kChannelRecordSize, "channel record is 72 bytes");

// Meter record fields.
constexpr FieldRef kMeterWeightLow{0, 4};    // impulse weight bits 0..31
constexpr FieldRef kMeterReserved4{4, 4};    // not shown; written as 0
constexpr FieldRef kMeterType{8, 2};         // meter type x 2
constexpr FieldRef kMeterPhase{10, 1};       // 0 "Phase 1", 1 "Phase 1+2", 2 "Phase 2"; 0xFF none
constexpr FieldRef kMeterWeightHigh{11, 1};  // impulse weight bits 32..39
constexpr FieldRef kMeterCalibrationCount{12, 2};
constexpr FieldRef kMeterReserved14{14, 1};  // not shown; written as 0
constexpr uint8_t kPhaseNone = 0xFF;

struct MeterRecord {
  std::array<uint8_t, kMeterRecordSize> bytes{};

  uint16_t typeWord() const { return getU16(&bytes[kMeterType.offset]); }
  void setTypeWord(uint16_t v) { putU16(&bytes[kMeterType.offset], v); }
  uint8_t phase() const { return bytes[kMeterPhase.offset]; }
  void setPhase(uint8_t v) { bytes[kMeterPhase.offset] = v; }
  uint16_t calibrationCount() const { return getU16(&bytes[kMeterCalibrationCount.offset]); }
  void setCalibrationCount(uint16_t v) { putU16(&bytes[kMeterCalibrationCount.offset], v); }
  // 40-bit impulse weight: byte 11 is bits 32..39, bytes 0..3 bits 0..31.
  uint64_t impulseWeight() const;
  void setImpulseWeight(uint64_t v);
  // The weight as a real number: byte 11 + (bytes 0..3) / 2^32.
  double coefficient() const;
  uint8_t* data() { return bytes.data(); }
  const uint8_t* data() const { return bytes.data(); }
};
static_assert(sizeof(MeterRecord) == kMeterRecordSize, "meter record is 15 bytes");

// The tool's copies of the ten channel and meter records (zeroed at start).
struct ChannelCopies {
  std::array<ChannelRecord, kChannelCount> channels{};
  std::array<MeterRecord, kChannelCount> meters{};
  // Which copies were read from the board now served (cleared when a board is identified):
  // a copy left from another board, or never read, must not decide or be written to this one.
  std::array<bool, kChannelCount> channelRead{};
  std::array<bool, kChannelCount> meterRead{};
};
