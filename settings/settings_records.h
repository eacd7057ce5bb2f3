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
#include "settings/settings_controls.h"

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

namespace fields_detail {
constexpr int mc(MainControl c) { return static_cast<int>(c); }
constexpr int ec(ExtraControl c) { return static_cast<int>(c); }
constexpr int kNoControl = -1;

constexpr bool sameName(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}
// The field of that name; a name the table lacks stops the build (a throw is no constant).
template <size_t N>
constexpr FieldRef fieldNamed(const RecordField (&table)[N], const char* name) {
  for (const RecordField& f : table)
    if (sameName(f.name, name)) return FieldRef{f.offset, f.width};
  throw "no field of that name in the table";
}
// Each field starts where the one before it ends, and the last one ends with the record.
template <size_t N>
constexpr bool tiles(const RecordField (&table)[N], size_t recordSize) {
  size_t at = 0;
  for (const RecordField& f : table) {
    if (f.offset != at || (f.width != 1 && f.width != 2 && f.width != 4)) return false;
    at += f.width;
  }
  return at == recordSize;
}

// The field tables, in record order (which is also the order of the settings file): the one
// place that says where each field lies. The named fields below are looked up in them.
inline constexpr RecordField kMainFields[] = {
    {"pc_baud", false, 0, 2, FieldCodec::BaudChoice, 0, mc(MainControl::PrimaryChannel)},
    {"rec_tag", false, 2, 1, FieldCodec::Hidden, 0, kNoControl},
    {"side_addr[0]", false, 3, 1, FieldCodec::SideAddress, 0, mc(MainControl::SideAAddress)},
    {"side_addr[1]", false, 4, 1, FieldCodec::SideAddress, 1, mc(MainControl::SideBAddress)},
    {"sat_channel", true, 5, 2, FieldCodec::Satellite, 0, mc(MainControl::Satellite)},
    {"per_baud", false, 7, 2, FieldCodec::BaudChoice, 0, mc(MainControl::Peripherals)},
    {"side_count", true, 9, 1, FieldCodec::CountChoice, 0, mc(MainControl::SideCount)},
    {"noz_count", true, 10, 1, FieldCodec::CountChoice, 0, mc(MainControl::NozzleCount)},
    {"nara_addr[0]", true, 11, 1, FieldCodec::AztCell, 0, mc(MainControl::AztSideA)},
    {"nara_addr[1]", true, 12, 1, FieldCodec::AztCell, 0, mc(MainControl::AztSideB)},
    {"nara_addr[2]", true, 13, 1, FieldCodec::AztCell, 1, mc(MainControl::AztSideA)},
    {"nara_addr[3]", true, 14, 1, FieldCodec::AztCell, 1, mc(MainControl::AztSideB)},
    {"nara_addr[4]", true, 15, 1, FieldCodec::AztCell, 2, mc(MainControl::AztSideA)},
    {"nara_addr[5]", true, 16, 1, FieldCodec::AztCell, 2, mc(MainControl::AztSideB)},
    {"nara_addr[6]", true, 17, 1, FieldCodec::AztCell, 3, mc(MainControl::AztSideA)},
    {"nara_addr[7]", true, 18, 1, FieldCodec::AztCell, 3, mc(MainControl::AztSideB)},
    {"nara_addr[8]", true, 19, 1, FieldCodec::AztCell, 4, mc(MainControl::AztSideA)},
    {"nara_addr[9]", true, 20, 1, FieldCodec::AztCell, 4, mc(MainControl::AztSideB)},
    {"nara_addr[10]", true, 21, 1, FieldCodec::AztCell, 5, mc(MainControl::AztSideA)},
    {"nara_addr[11]", true, 22, 1, FieldCodec::AztCell, 5, mc(MainControl::AztSideB)},
    {"reserved[0]", false, 23, 1, FieldCodec::Hidden, 0, kNoControl},
    {"reserved[1]", false, 24, 1, FieldCodec::Hidden, 0, kNoControl},
    {"slow_start", true, 25, 1, FieldCodec::Scaled, 100, mc(MainControl::SlowStart)},
    {"slow_load", true, 26, 1, FieldCodec::Scaled, 100, mc(MainControl::SlowFinish)},
    {"nozzle_fat", true, 27, 1, FieldCodec::Scaled, 10, mc(MainControl::NozzleFat)},
    {"met_timeout", true, 28, 1, FieldCodec::Scaled, 1, mc(MainControl::PhaseTimeout)},
    {"nozzle_wait", true, 29, 1, FieldCodec::Hidden, 0, kNoControl},
    {"trk_modes", true, 30, 2, FieldCodec::FlagList, 16, mc(MainControl::ModeList)},
    {"trk_modes2", true, 32, 2, FieldCodec::FlagList, 11, mc(MainControl::ModeList2)},
    {"tbl_type[0]", true, 34, 1, FieldCodec::DisplayChoice, 0, mc(MainControl::DisplayA)},
    {"tbl_type[1]", true, 35, 1, FieldCodec::DisplayChoice, 0, mc(MainControl::DisplayB)},
    {"min_speed", true, 36, 1, FieldCodec::Scaled, 1, mc(MainControl::MinPerformance)},
    {"min_sp_time", true, 37, 1, FieldCodec::Scaled, 1, mc(MainControl::MinPerfTimeout)},
    {"hydro_hit", true, 38, 1, FieldCodec::Scaled, 10, mc(MainControl::OverfillBuffer)},
    {"pc_timeout", true, 39, 1, FieldCodec::Scaled, 1, mc(MainControl::ForecourtTimeout)},
    {"shim_duration", true, 40, 1, FieldCodec::Scaled, 1, mc(MainControl::ValvePwmLength)},
    {"min_vol", true, 41, 1, FieldCodec::Scaled, 100, mc(MainControl::MinVolumeSet)},
    {"st_wait_force", true, 42, 1, FieldCodec::Scaled, 1, mc(MainControl::ForceStartDelay)},
    {"valve_delay", true, 43, 1, FieldCodec::Scaled, 1, mc(MainControl::ValveOpenDelay)},
    {"pb_timeout", true, 44, 1, FieldCodec::Scaled, 1, mc(MainControl::FulltankTimeout)},
    {"reserved[2]", false, 45, 1, FieldCodec::Hidden, 0, kNoControl},
    {"bmu_p_user[0]", true, 46, 4, FieldCodec::Decimal, 0, mc(MainControl::BmuUser0)},
    {"bmu_p_user[1]", true, 50, 4, FieldCodec::Decimal, 0, mc(MainControl::BmuUser1)},
    {"bmu_p_user[2]", true, 54, 4, FieldCodec::Decimal, 0, mc(MainControl::BmuUser2)},
    {"bmu_p_user[3]", true, 58, 4, FieldCodec::Decimal, 0, mc(MainControl::BmuUser3)},
    {"bmu_p_adm", true, 62, 4, FieldCodec::Decimal, 0, mc(MainControl::BmuAdmin)},
    {"tbl_dot_flags", true, 66, 2, FieldCodec::DotFlags, 0, mc(MainControl::PriceDotXXYY)},
};
inline constexpr size_t kMainFieldCount = sizeof(kMainFields) / sizeof(kMainFields[0]);
inline constexpr RecordField kExtraFields[] = {
    {"dens_mult", true, 0, 4, FieldCodec::Decimal, 0, ec(ExtraControl::DensityMultiplier)},
    {"mass_mult", true, 4, 2, FieldCodec::Decimal, 0, ec(ExtraControl::MassMultiplier)},
    {"temp_mult", true, 6, 2, FieldCodec::Decimal, 0, ec(ExtraControl::TcMultiplier)},
    {"mass_flags", true, 8, 2, FieldCodec::MassFlags, 0, ec(ExtraControl::MassFlagList)},
    {"fail_pressure", true, 10, 2, FieldCodec::Tenths, 0, ec(ExtraControl::FailPressure)},
    {"fail_flow", true, 12, 1, FieldCodec::Decimal, 0, ec(ExtraControl::FailFlowRate)},
    {"smart_fill_pressure", true, 13, 1, FieldCodec::Hidden, 0, kNoControl},
    {"smart_fill_tmt", true, 14, 1, FieldCodec::SmartFillTmt, 0,
     ec(ExtraControl::FinalPressureTimeout)},
    {"pressure_max", true, 15, 1, FieldCodec::Decimal, 0, ec(ExtraControl::MeterMaxPressure)},
    {"density_manual", true, 16, 2, FieldCodec::Density, 0, ec(ExtraControl::ManualDensity)},
    {"finish_pressure", true, 18, 2, FieldCodec::Tenths, 0, ec(ExtraControl::FinalPressure)},
    {"fall_pressure", true, 20, 2, FieldCodec::Tenths, 0, ec(ExtraControl::PressureFallSpeed)},
    {"pressure_offset", true, 22, 2, FieldCodec::Hex, 0, ec(ExtraControl::PressureOffset4mA)},
    {"pressure_top", true, 24, 2, FieldCodec::Hex, 0, ec(ExtraControl::PressureOffset20mA)},
    {"line_max_flow[0]", true, 26, 2, FieldCodec::Hidden, 0, kNoControl},
    {"line_max_flow[1]", true, 28, 2, FieldCodec::Hidden, 0, kNoControl},
    {"line_max_flow[2]", true, 30, 2, FieldCodec::Hidden, 0, kNoControl},
    {"vol_mult", true, 32, 2, FieldCodec::Decimal, 0, ec(ExtraControl::VolumeMultiplier)},
    {"line_min_flow[0]", true, 34, 1, FieldCodec::Decimal, 0, ec(ExtraControl::Line1MinFlow)},
    {"line_min_flow[1]", true, 35, 1, FieldCodec::Decimal, 0, ec(ExtraControl::Line2MinFlow)},
    {"line_min_flow[2]", true, 36, 1, FieldCodec::Decimal, 0, ec(ExtraControl::Line3MinFlow)},
    {"line_min_tmt[0]", true, 37, 1, FieldCodec::Tenths, 0, ec(ExtraControl::Line1MinFlowTimeout)},
    {"line_min_tmt[1]", true, 38, 1, FieldCodec::Tenths, 0, ec(ExtraControl::Line2MinFlowTimeout)},
    {"line_min_tmt[2]", true, 39, 1, FieldCodec::Tenths, 0, ec(ExtraControl::Line3MinFlowTimeout)},
    {"w_ip[0]", true, 40, 1, FieldCodec::Ipv4, 0, ec(ExtraControl::TcpIp)},
    {"w_ip[1]", true, 41, 1, FieldCodec::Ipv4, 1, ec(ExtraControl::TcpIp)},
    {"w_ip[2]", true, 42, 1, FieldCodec::Ipv4, 2, ec(ExtraControl::TcpIp)},
    {"w_ip[3]", true, 43, 1, FieldCodec::Ipv4, 3, ec(ExtraControl::TcpIp)},
    {"w_mask[0]", true, 44, 1, FieldCodec::Ipv4, 0, ec(ExtraControl::TcpSubnet)},
    {"w_mask[1]", true, 45, 1, FieldCodec::Ipv4, 1, ec(ExtraControl::TcpSubnet)},
    {"w_mask[2]", true, 46, 1, FieldCodec::Ipv4, 2, ec(ExtraControl::TcpSubnet)},
    {"w_mask[3]", true, 47, 1, FieldCodec::Ipv4, 3, ec(ExtraControl::TcpSubnet)},
    {"w_gw[0]", true, 48, 1, FieldCodec::Ipv4, 0, ec(ExtraControl::TcpGateway)},
    {"w_gw[1]", true, 49, 1, FieldCodec::Ipv4, 1, ec(ExtraControl::TcpGateway)},
    {"w_gw[2]", true, 50, 1, FieldCodec::Ipv4, 2, ec(ExtraControl::TcpGateway)},
    {"w_gw[3]", true, 51, 1, FieldCodec::Ipv4, 3, ec(ExtraControl::TcpGateway)},
    {"w_port", true, 52, 2, FieldCodec::Decimal, 0, ec(ExtraControl::ModbusPort)},
    {"reserved", false, 54, 2, FieldCodec::Hidden, 0, kNoControl},
    {"heat_on_temp", false, 56, 2, FieldCodec::SignedTenths, 0, ec(ExtraControl::HeaterOnTemp)},
    {"heat_off_temp", false, 58, 2, FieldCodec::SignedTenths, 0, ec(ExtraControl::HeaterOffTemp)},
};
inline constexpr size_t kExtraFieldCount = sizeof(kExtraFields) / sizeof(kExtraFields[0]);
}  // namespace fields_detail

using fields_detail::kExtraFieldCount;
using fields_detail::kExtraFields;
using fields_detail::kMainFieldCount;
using fields_detail::kMainFields;
static_assert(fields_detail::tiles(kMainFields, kMainSettingsSize), "MainSettings fields tile it");
static_assert(fields_detail::tiles(kExtraFields, kExtraSettingsSize),
              "ExtraSettings fields tile it");
constexpr FieldRef mainField(const char* name) {
  return fields_detail::fieldNamed(kMainFields, name);
}
constexpr FieldRef extraField(const char* name) {
  return fields_detail::fieldNamed(kExtraFields, name);
}

// MainSettings fields.
namespace ms {
constexpr FieldRef pc_baud = mainField("pc_baud");
constexpr FieldRef rec_tag = mainField("rec_tag");
constexpr FieldRef side_addr0 = mainField("side_addr[0]");
constexpr FieldRef side_addr1 = mainField("side_addr[1]");
constexpr FieldRef sat_channel = mainField("sat_channel");
constexpr FieldRef per_baud = mainField("per_baud");
constexpr FieldRef side_count = mainField("side_count");
constexpr FieldRef noz_count = mainField("noz_count");
constexpr uint16_t nara_addr =
    mainField("nara_addr[0]").offset;  // u8[12]: [2n] side A, [2n+1] side B of nozzle n+1
constexpr FieldRef slow_start = mainField("slow_start");
constexpr FieldRef slow_load = mainField("slow_load");
constexpr FieldRef nozzle_fat = mainField("nozzle_fat");
constexpr FieldRef met_timeout = mainField("met_timeout");
constexpr FieldRef nozzle_wait = mainField("nozzle_wait");
constexpr FieldRef trk_modes = mainField("trk_modes");
constexpr FieldRef trk_modes2 = mainField("trk_modes2");
constexpr FieldRef tbl_type0 = mainField("tbl_type[0]");
constexpr FieldRef tbl_type1 = mainField("tbl_type[1]");
constexpr FieldRef min_speed = mainField("min_speed");
constexpr FieldRef min_sp_time = mainField("min_sp_time");
constexpr FieldRef hydro_hit = mainField("hydro_hit");
constexpr FieldRef pc_timeout = mainField("pc_timeout");
constexpr FieldRef shim_duration = mainField("shim_duration");
constexpr FieldRef min_vol = mainField("min_vol");
constexpr FieldRef st_wait_force = mainField("st_wait_force");
constexpr FieldRef valve_delay = mainField("valve_delay");
constexpr FieldRef pb_timeout = mainField("pb_timeout");
constexpr uint16_t bmu_p_user = mainField("bmu_p_user[0]").offset;  // u32[4]
constexpr FieldRef bmu_p_adm = mainField("bmu_p_adm");
constexpr FieldRef tbl_dot_flags = mainField("tbl_dot_flags");
constexpr FieldRef nara(int i) { return FieldRef{static_cast<uint16_t>(nara_addr + i), 1}; }
constexpr FieldRef bmuUser(int i) { return FieldRef{static_cast<uint16_t>(bmu_p_user + 4 * i), 4}; }
}  // namespace ms

// ExtraSettings fields.
namespace es {
constexpr FieldRef dens_mult = extraField("dens_mult");
constexpr FieldRef mass_mult = extraField("mass_mult");
constexpr FieldRef temp_mult = extraField("temp_mult");
constexpr FieldRef mass_flags = extraField("mass_flags");
constexpr FieldRef fail_pressure = extraField("fail_pressure");
constexpr FieldRef fail_flow = extraField("fail_flow");
constexpr FieldRef smart_fill_pressure = extraField("smart_fill_pressure");
constexpr FieldRef smart_fill_tmt = extraField("smart_fill_tmt");
constexpr FieldRef pressure_max = extraField("pressure_max");
constexpr FieldRef density_manual = extraField("density_manual");
constexpr FieldRef finish_pressure = extraField("finish_pressure");
constexpr FieldRef fall_pressure = extraField("fall_pressure");
constexpr FieldRef pressure_offset = extraField("pressure_offset");
constexpr FieldRef pressure_top = extraField("pressure_top");
constexpr uint16_t line_max_flow = extraField("line_max_flow[0]").offset;  // u16[3]
constexpr FieldRef vol_mult = extraField("vol_mult");
constexpr uint16_t line_min_flow = extraField("line_min_flow[0]").offset;  // u8[3]
constexpr uint16_t line_min_tmt = extraField("line_min_tmt[0]").offset;    // u8[3]
constexpr uint16_t w_ip = extraField("w_ip[0]").offset;                    // u8[4]
constexpr uint16_t w_mask = extraField("w_mask[0]").offset;                // u8[4]
constexpr uint16_t w_gw = extraField("w_gw[0]").offset;                    // u8[4]
constexpr FieldRef w_port = extraField("w_port");
constexpr FieldRef heat_on_temp = extraField("heat_on_temp");    // i16
constexpr FieldRef heat_off_temp = extraField("heat_off_temp");  // i16
constexpr uint16_t kMassTypeShift = 13;
constexpr uint16_t kMassTypeNone = 7;
}  // namespace es

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
