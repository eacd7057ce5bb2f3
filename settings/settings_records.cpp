// Field tables of the settings records and the item lists of their controls.
#include "settings/settings_records.h"

#include "settings/settings_controls.h"

namespace {
constexpr int mc(MainControl c) { return static_cast<int>(c); }
constexpr int ec(ExtraControl c) { return static_cast<int>(c); }
constexpr int kNoControl = -1;
}  // namespace

const RecordField kMainFields[] = {
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
const size_t kMainFieldCount = sizeof(kMainFields) / sizeof(kMainFields[0]);

const RecordField kExtraFields[] = {
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
const size_t kExtraFieldCount = sizeof(kExtraFields) / sizeof(kExtraFields[0]);

const char* const kBaudItems[4] = {"4800", "9600", "19200", "38400"};
const uint16_t kBaudCodes[4] = {48, 96, 192, 384};

const char* const kDisplayTypeItems[18] = {
    "China LCD", "reserved",  "202",        "217",     "218",      "209",
    "209_17",    "MI-21",     "Shelf",      "Tokheim", "485",      "Spi",
    "Shelf led", "MI-21 i2c", "MI-18 soft", "485 RGB", "UNSG i2c", "TBL-11"};

const char* const kModeItems[16] = {
    "Inverse nozzles",
    "Push nozzle button to start",
    "Nozzle down suspends filling",
    "Autostart when nozzle up",
    "BMU mirror",
    "BMU allow load",
    "enable BMU only for preset",
    "Strict meter phase control",
    "Divide displayed summ by 10",
    "Non-inverted signal to the displays",
    "Preset summ round-up",
    "Satellite pump support",
    "Fast dresser wayne",
    "Use sound relay",
    "Fueler counter",
    "'Sever' mode / Report nozzle down AZT2.0",
};

const char* const kMode2Items[11] = {
    "Use mains 220V for valves",
    "Fast S&B",
    "Fast tokheim",
    "Proportional valves",
    "No valve stop prediction",
    "Enable BMU",
    "Disable simultaneous satellite and main nozzle load",
    "Fast tokheim, one fat nozzle",
    "Display A+B",
    "Mixed tokheim, one fat nozzle on side B",
    "Summ round-up when preset volume",
};

const char* const kMassFlagItems[8] = {
    "Use pressure meter",        "Work with pressure line 3",
    "Work with pressure line 2", "Use manual density for volume calculation",
    "Use mass for retail",       "Leave line 1 open",
    "Leave line 2 open",         "Use normalized m3",
};

const char* const kMassmeterTypeItems[4] = {"Micromotion", "Flomak", "Shtraymass", "AMF"};
const char* const kPhaseItems[3] = {"Phase 1", "Phase 1+2", "Phase 2"};
