// The controls of the "Main settings" and "Extra settings" tabs and of the "Channel settings"
// window: one enumeration each, and one table each saying what kind of control it is and its
// caption. The field tables of the records name these controls; the forms and the windows
// are built from them.
#pragma once
#include <array>
#include <cstdint>

enum class ControlKind : uint8_t { Choice, Input, MultiLine, Radio, Check, Table, CheckList };

// Every control of the "Main settings" tab.
enum class MainControl : int {
  PrimaryChannel,
  Peripherals,
  NozzleCount,
  SideCount,
  DisplayA,
  DisplayB,
  SlowStart,
  NozzleFat,
  SlowFinish,
  OverfillBuffer,
  PhaseTimeout,
  FulltankTimeout,
  ForecourtTimeout,
  MinVolumeSet,
  MinPerformance,
  MinPerfTimeout,
  ValveOpenDelay,
  ForceStartDelay,
  ValvePwmLength,
  SideAAddress,
  SideBAddress,
  ShiftPriceLeft,
  ImmediateStart,
  Start20ml,
  NoCounting,
  Count3Seconds,
  PriceDotXXYY,
  PriceDotXXXY,
  PriceDotXXXX,
  VolumeDot,
  AztSideA,
  AztSideB,
  Satellite,
  BmuAdmin,
  BmuUser0,
  BmuUser1,
  BmuUser2,
  BmuUser3,
  ModeList,
  ModeList2,
  Count,
  NoControl = -1,
};
constexpr int kMainControlCount = static_cast<int>(MainControl::Count);

// Every control of the "Extra settings" tab.
enum class ExtraControl : int {
  DensityMultiplier,
  MassMultiplier,
  TcMultiplier,
  VolumeMultiplier,
  Line1MinFlow,
  Line2MinFlow,
  Line3MinFlow,
  FailFlowRate,
  PressureOffset4mA,
  PressureOffset20mA,
  PressureDebug,
  FinalPressureTimeout,
  FinalPressureMeasureTime,
  ModbusPort,
  FailPressure,
  FinalPressure,
  PressureFallSpeed,
  MeterMaxPressure,
  Line1MinFlowTimeout,
  Line2MinFlowTimeout,
  Line3MinFlowTimeout,
  ManualDensity,
  HeaterOnTemp,
  HeaterOffTemp,
  TcpIp,
  TcpSubnet,
  TcpGateway,
  MassmeterType,
  MassFlagList,
  Count,
  NoControl = -1,
};
constexpr int kExtraControlCount = static_cast<int>(ExtraControl::Count);

// Every control of the "Channel settings" window, with the channel or meter record variable
// it shows.
enum class ChanControl : int {
  LoadedVolume,      // load_vol_hi
  VolumeSet,         // set_vol
  SlowEndVolume,     // vol_end
  SummCounter,       // s_count
  LoadedVolumeLo,    // load_vol_lo (hex)
  SummSet,           // set_summ
  DeltaCounter,      // d_count
  BmuTotal,          // b_count
  LeftVolume,        // k_vol_hi
  LastVolume,        // last_vol
  GrandTotal,        // f_count, f_c_mil
  CalibrationTotal,  // m_count
  LeftVolumeLo,      // k_vol_lo (hex)
  SlowStartVolume,   // vol_start
  VolumeCounter,     // l_count
  CalibrationCount,  // meter record
  Price,             // price
  State,             // state
  BasePrice,         // base_price
  HexStatus,         // bit_status
  StatusList,        // bit_status, one item per known bit
  FlagList,          // flags
  MeterType,         // meter record
  Phase,             // meter record
  ImpulseWeight,     // meter record
  Count,
  NoControl = -1,
};
constexpr int kChanControlCount = static_cast<int>(ChanControl::Count);

struct ControlDesc {
  int id;
  ControlKind kind;
  const char* label;  // untranslated; passes through tr where shown
};
extern const std::array<ControlDesc, kMainControlCount> kMainControls;
extern const std::array<ControlDesc, kExtraControlCount> kExtraControls;
extern const std::array<ControlDesc, kChanControlCount> kChanControls;
