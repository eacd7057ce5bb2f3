// The board's settings records (MainSettings 68 bytes, ExtraSettings 60 bytes), the
// per-side SideData and the status values read with them, as little-endian byte images,
// each described by one field table that drives the byte codec, the settings file and the
// forms of the settings tabs.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/memory_map.h"
#include "settings/le_bytes.h"

constexpr uint8_t kRecTag = 0x22;

// How a field is shown in its control and taken back from it.
enum class FieldCodec : uint8_t {
  Hidden,         // no control: 0 in a record built from the controls, or kept as read
  BaudChoice,     // baud / 100: 48, 96, 192, 384 <-> items 0..3
  CountChoice,    // choice index + 1 (0 when none chosen)
  SideAddress,    // side bus address, validated
  Satellite,      // four 4-bit entries, multi-line text
  AztCell,        // AZT2.0 address table cell, validated
  Scaled,         // typed value / divisor; shown as value x divisor
  Decimal,        // as typed, "%u"
  FlagList,       // one check-list item per bit
  DisplayChoice,  // choice index = value, 0xFF when none
  DotFlags,       // price dot radios, shift, volume dot
  MassFlags,      // check list bits 0..7, massmeter type in bits 13..15
  Tenths,         // decimal real x 10, shown "%d.%d"
  SmartFillTmt,   // two 4-bit inputs
  Density,        // ten-thousandths, shown "%.4f"
  Hex,            // "0x%X"
  Ipv4,           // four octets, "%u.%u.%u.%u" (entry of the first octet)
  SignedTenths,   // signed tenths, shown "%.1f"
};

struct RecordField {
  const char* name;  // field name; also the file key when keyed
  bool keyed;        // true when the settings file carries it
  uint16_t offset;
  uint8_t width;  // 1, 2 or 4
  FieldCodec codec;
  uint16_t param;  // Scaled: the divisor; Ipv4: the octet index
  int control;     // control of the settings tab (MainControl / ExtraControl), -1 none
};

template <size_t N>
struct SettingsRecord {
  std::array<uint8_t, N> bytes{};

  uint32_t get(FieldRef f) const { return getLE(&bytes[f.offset], f.width); }
  void set(FieldRef f, uint32_t v) { putLE(&bytes[f.offset], f.width, v); }
  uint32_t get(const RecordField& f) const { return getLE(&bytes[f.offset], f.width); }
  void set(const RecordField& f, uint32_t v) { putLE(&bytes[f.offset], f.width, v); }
  uint8_t* data() { return bytes.data(); }
  const uint8_t* data() const { return bytes.data(); }
  bool operator==(const SettingsRecord& o) const { return bytes == o.bytes; }
  bool operator!=(const SettingsRecord& o) const { return bytes != o.bytes; }
};

using MainSettings = SettingsRecord<kMainSettingsSize>;
using ExtraSettings = SettingsRecord<kExtraSettingsSize>;
static_assert(sizeof(MainSettings) == 68, "MainSettings is 68 bytes");
static_assert(sizeof(ExtraSettings) == 60, "ExtraSettings is 60 bytes");

// MainSettings fields.
namespace ms {
constexpr FieldRef pc_baud{0, 2};
constexpr FieldRef rec_tag{2, 1};
constexpr FieldRef side_addr0{3, 1};
constexpr FieldRef side_addr1{4, 1};
constexpr FieldRef sat_channel{5, 2};
constexpr FieldRef per_baud{7, 2};
constexpr FieldRef side_count{9, 1};
constexpr FieldRef noz_count{10, 1};
constexpr uint16_t nara_addr = 11;  // u8[12]: [2n] side A, [2n+1] side B of nozzle n+1
constexpr FieldRef slow_start{25, 1};
constexpr FieldRef slow_load{26, 1};
constexpr FieldRef nozzle_fat{27, 1};
constexpr FieldRef met_timeout{28, 1};
constexpr FieldRef nozzle_wait{29, 1};
constexpr FieldRef trk_modes{30, 2};
constexpr FieldRef trk_modes2{32, 2};
constexpr FieldRef tbl_type0{34, 1};
constexpr FieldRef tbl_type1{35, 1};
constexpr FieldRef min_speed{36, 1};
constexpr FieldRef min_sp_time{37, 1};
constexpr FieldRef hydro_hit{38, 1};
constexpr FieldRef pc_timeout{39, 1};
constexpr FieldRef shim_duration{40, 1};
constexpr FieldRef min_vol{41, 1};
constexpr FieldRef st_wait_force{42, 1};
constexpr FieldRef valve_delay{43, 1};
constexpr FieldRef pb_timeout{44, 1};
constexpr uint16_t bmu_p_user = 46;  // u32[4]
constexpr FieldRef bmu_p_adm{62, 4};
constexpr FieldRef tbl_dot_flags{66, 2};
constexpr FieldRef nara(int i) { return FieldRef{static_cast<uint16_t>(nara_addr + i), 1}; }
constexpr FieldRef bmuUser(int i) { return FieldRef{static_cast<uint16_t>(bmu_p_user + 4 * i), 4}; }
}  // namespace ms

// ExtraSettings fields.
namespace es {
constexpr FieldRef dens_mult{0, 4};
constexpr FieldRef mass_mult{4, 2};
constexpr FieldRef temp_mult{6, 2};
constexpr FieldRef mass_flags{8, 2};
constexpr FieldRef fail_pressure{10, 2};
constexpr FieldRef fail_flow{12, 1};
constexpr FieldRef smart_fill_pressure{13, 1};
constexpr FieldRef smart_fill_tmt{14, 1};
constexpr FieldRef pressure_max{15, 1};
constexpr FieldRef density_manual{16, 2};
constexpr FieldRef finish_pressure{18, 2};
constexpr FieldRef fall_pressure{20, 2};
constexpr FieldRef pressure_offset{22, 2};
constexpr FieldRef pressure_top{24, 2};
constexpr uint16_t line_max_flow = 26;  // u16[3]
constexpr FieldRef vol_mult{32, 2};
constexpr uint16_t line_min_flow = 34;  // u8[3]
constexpr uint16_t line_min_tmt = 37;   // u8[3]
constexpr uint16_t w_ip = 40;           // u8[4]
constexpr uint16_t w_mask = 44;         // u8[4]
constexpr uint16_t w_gw = 48;           // u8[4]
constexpr FieldRef w_port{52, 2};
constexpr FieldRef heat_on_temp{56, 2};   // i16
constexpr FieldRef heat_off_temp{58, 2};  // i16
constexpr uint16_t kMassTypeShift = 13;
constexpr uint16_t kMassTypeNone = 7;
}  // namespace es

// The field tables, in record order (which is also the order of the settings file).
extern const RecordField kMainFields[];
extern const size_t kMainFieldCount;
extern const RecordField kExtraFields[];
extern const size_t kExtraFieldCount;

// ---- SideData (14 bytes) ----
struct SideData {
  std::array<uint8_t, kSideDataSize> bytes{};
  uint8_t activeNozzle() const { return bytes[0]; }
  uint16_t calibrationCount() const { return getU16(&bytes[1]); }
  const uint8_t* calibrationDate() const { return &bytes[3]; }  // three numbers, stored order
  uint32_t deliveryCount() const { return getU32(&bytes[6]); }
  uint16_t unknownWord() const { return getU16(&bytes[10]); }  // not shown
  uint16_t wrongClearCount() const { return getU16(&bytes[12]); }
  uint8_t* data() { return bytes.data(); }
};
static_assert(sizeof(SideData) == kSideDataSize, "SideData is 14 bytes");
constexpr uint32_t sideDataAddress(int side) {
  return kSideDataBase + 0x100u * static_cast<uint32_t>(side);
}

// ---- status values read with the settings ----
struct PasswordStatus {
  uint8_t bytes[2] = {0, 0};
  bool adminSet() const { return bytes[0] & 0x01; }
  bool calibrationSet() const { return bytes[0] & 0x02; }
  bool adminLocked() const { return (bytes[1] & 0x07) == 0x07; }
  bool calibrationLocked() const { return (bytes[1] & 0x38) == 0x38; }
};
static_assert(sizeof(PasswordStatus) == 2, "PasswordStatus is 2 bytes");

struct ServiceCounters {
  uint8_t bytes[4] = {0, 0, 0, 0};
  uint16_t factoryClearCount() const { return getU16(&bytes[0]); }
  uint16_t reprogramCount() const { return getU16(&bytes[2]); }
};
static_assert(sizeof(ServiceCounters) == 4, "ServiceCounters is 4 bytes");

// ---- list texts of the settings controls (untranslated catalog keys) ----
extern const char* const kBaudItems[4];           // "4800" .. "38400"
extern const uint16_t kBaudCodes[4];              // 48, 96, 192, 384
extern const char* const kDisplayTypeItems[18];   // "China LCD" .. "TBL-11"
extern const char* const kModeItems[16];          // trk_modes bits
extern const char* const kMode2Items[11];         // trk_modes2 bits 0..10
extern const char* const kMassFlagItems[8];       // mass_flags bits 0..7
extern const char* const kMassmeterTypeItems[4];  // "Micromotion" .. "AMF"
extern const char* const kPhaseItems[3];          // "Phase 1", "Phase 1+2", "Phase 2"
constexpr int kDisplayTypeUntranslated = 17;      // "TBL-11" is shown as it is
