// The placement tables of the settings windows.
#include "ui/settings_placement.h"

#include "settings/channel_form.h"
#include "settings/settings_form.h"
#include "settings/settings_records.h"
#include "util/catalog.h"

namespace {

// "Main settings": the left column holds the line speeds, counts, displays, satellite
// channels and start/count radios; the middle two columns the numeric fields and under them
// the AZT address grids, the volume and price dot positions and the read/save buttons; the
// two option lists take the right side at the width of their longest item, and the BMU
// passwords sit under them.
constexpr int kLeftX = 10, kLeftW = 156;
constexpr int kColW = 166;
constexpr int kListX = 522, kListW = 986 - kListX;
constexpr int kAztCellW = 32;
// Three password inputs to a row, each caption on two lines ("Password" above "user 0" in
// Russian) so that the row fits the lists' width.
constexpr int kBmuY = 474, kBmuX = kListX + 8, kBmuW = 128, kBmuPitch = 148;

const char* const kNozzleItems[] = {"1", "2", "3", "4", "5"};
const char* const kSideItems[] = {"1", "2"};

constexpr uint8_t kGridField = kCaptionWraps | kStartsAtZero;
constexpr ItemList kNoItems{nullptr, 0, -1};

using G = MainGroup;
using C = MainControl;
constexpr Anchor kAt = Anchor::Window, kGrid = Anchor::Grid, kUnder = Anchor::UnderGrid;

}  // namespace

const GridPlacement kMainGrid = {82, {174, 348}, kColW, 6};

const std::array<MainGroupPlacement, 5> kMainGroups = {{
    {G::BaudRates, N_("Baud rates"), {kAt, kLeftX, 82, kLeftW, 104}},
    {G::StartMode, nullptr, {kAt, kLeftX, 476, kLeftW, 48}},
    {G::CountMode, nullptr, {kAt, kLeftX, 528, kLeftW, 48}},
    {G::PriceDot, nullptr, {kUnder, 174, 68, kColW, 3 * kRowH}},
    {G::BmuPasswords, N_("BMU passwords"), {kAt, kListX, kBmuY, kListW, 600 - kBmuY}},
}};

// clang-format off
const std::array<MainControlPlacement, kMainControlCount> kMainPlacement = {{
    {C::PrimaryChannel, G::BaudRates, {kAt, kLeftX + 8, 106, kLeftW - 16, kRowH}, 0,
     itemList(kBaudItems),
     N_("Primary channel baud rate (for connecting forecourt controller)")},
    {C::Peripherals, G::BaudRates, {kAt, kLeftX + 8, 154, kLeftW - 16, kRowH}, 0,
     itemList(kBaudItems), N_("Peripheral channel baud rate")},
    {C::NozzleCount, G::NoGroup, {kAt, kLeftX, 212, kLeftW, kRowH}, 0, itemList(kNozzleItems), nullptr},
    {C::SideCount, G::NoGroup, {kAt, kLeftX, 256, kLeftW, kRowH}, 0, itemList(kSideItems), nullptr},
    {C::DisplayA, G::NoGroup, {kAt, kLeftX, 300, kLeftW, kRowH}, 0,
     itemList(kDisplayTypeItems, kDisplayTypeUntranslated), nullptr},
    {C::DisplayB, G::NoGroup, {kAt, kLeftX, 344, kLeftW, kRowH}, 0,
     itemList(kDisplayTypeItems, kDisplayTypeUntranslated), nullptr},
    // Four channel lines and the empty line after the last one, where the cursor stays.
    {C::Satellite, G::NoGroup, {kAt, kLeftX, 388, kLeftW, 80}, kStartsAtZero, kNoItems, nullptr},

    {C::SlowStart,        G::NoGroup, {kGrid, 0, 0, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::NozzleFat,        G::NoGroup, {kGrid, 1, 0, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::SlowFinish,       G::NoGroup, {kGrid, 0, 1, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::OverfillBuffer,   G::NoGroup, {kGrid, 1, 1, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::PhaseTimeout,     G::NoGroup, {kGrid, 0, 2, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::FulltankTimeout,  G::NoGroup, {kGrid, 1, 2, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::ForecourtTimeout, G::NoGroup, {kGrid, 0, 3, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::MinVolumeSet,     G::NoGroup, {kGrid, 1, 3, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::MinPerformance,   G::NoGroup, {kGrid, 0, 4, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::MinPerfTimeout,   G::NoGroup, {kGrid, 1, 4, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::ValveOpenDelay,   G::NoGroup, {kGrid, 0, 5, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::ForceStartDelay,  G::NoGroup, {kGrid, 1, 5, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::ValvePwmLength,   G::NoGroup, {kGrid, 0, 6, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::SideAAddress,     G::NoGroup, {kGrid, 1, 6, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::SideBAddress,     G::NoGroup, {kGrid, 0, 7, kColW, kRowH}, kGridField, kNoItems, nullptr},
    {C::ShiftPriceLeft,   G::NoGroup, {kGrid, 1, 7, kColW, kRowH}, kGridField, kNoItems, nullptr},

    {C::ImmediateStart, G::StartMode, {kAt, kLeftX, 476, kLeftW, kRowH}, 0, kNoItems, nullptr},
    {C::Start20ml,      G::StartMode, {kAt, kLeftX, 500, kLeftW, kRowH}, 0, kNoItems, nullptr},
    {C::NoCounting,     G::CountMode, {kAt, kLeftX, 528, kLeftW, kRowH}, 0, kNoItems, nullptr},
    {C::Count3Seconds,  G::CountMode, {kAt, kLeftX, 552, kLeftW, kRowH}, 0, kNoItems, nullptr},

    // Under the address grids; the volume dot first, as its caption reaches past the column
    // and the read/save buttons start lower.
    {C::VolumeDot,    G::NoGroup,     {kUnder, 174, 46,  kColW, kRowH}, 0, kNoItems, nullptr},
    {C::PriceDotXXYY, G::PriceDot, {kUnder, 174, 68,  kColW, kRowH}, 0, kNoItems, nullptr},
    {C::PriceDotXXXY, G::PriceDot, {kUnder, 174, 90,  kColW, kRowH}, 0, kNoItems, nullptr},
    {C::PriceDotXXXX, G::PriceDot, {kUnder, 174, 112, kColW, kRowH}, 0, kNoItems, nullptr},
    // Cells wide enough for every address (1..210, 255) at the normal size; a typed 65535
    // ("no address") is drawn smaller.
    {C::AztSideA, G::NoGroup, {kUnder, 174, 14, kAztColumns * kAztCellW + 4, 24}, 0, kNoItems, nullptr},
    {C::AztSideB, G::NoGroup, {kUnder, 348, 14, kAztColumns * kAztCellW + 4, 24}, 0, kNoItems, nullptr},

    {C::BmuAdmin, G::BmuPasswords, {kAt, kBmuX + kBmuPitch,     kBmuY + 88, kBmuW, kRowH}, kCaptionWraps, kNoItems, nullptr},
    {C::BmuUser0, G::BmuPasswords, {kAt, kBmuX,                 kBmuY + 34, kBmuW, kRowH}, kCaptionWraps, kNoItems, nullptr},
    {C::BmuUser1, G::BmuPasswords, {kAt, kBmuX + kBmuPitch,     kBmuY + 34, kBmuW, kRowH}, kCaptionWraps, kNoItems, nullptr},
    {C::BmuUser2, G::BmuPasswords, {kAt, kBmuX + 2 * kBmuPitch, kBmuY + 34, kBmuW, kRowH}, kCaptionWraps, kNoItems, nullptr},
    {C::BmuUser3, G::BmuPasswords, {kAt, kBmuX,                 kBmuY + 88, kBmuW, kRowH}, kCaptionWraps, kNoItems, nullptr},

    // Each option list tall enough for all its items.
    {C::ModeList,  G::NoGroup, {kAt, kListX, 64,  kListW, 228}, 0, itemList(kModeItems), nullptr},
    {C::ModeList2, G::NoGroup, {kAt, kListX, 298, kListW, 158}, 0, itemList(kMode2Items), nullptr},
}};
// clang-format on

namespace {
// The inputs stand four to a row, a row every 48 px; the lists and the meter's own
// variables take the right.
constexpr int kChanColX[4] = {16, 152, 288, 424};
constexpr int kChanRowY[6] = {64, 112, 160, 208, 256, 304};
constexpr int kChanInputW = 96, kChanH = 24, kMeterX = 560, kMeterW = 152;
constexpr uint8_t kDec = kDecimal;
constexpr Placement kNoBox{kAt, 0, 0, 0, 0};
using H = ChanControl;
}  // namespace

// clang-format off
const std::array<ChanControlPlacement, kChanControlCount> kChanPlacement = {{
    {H::LoadedVolume,     {kAt, kChanColX[0], kChanRowY[0], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::VolumeSet,        {kAt, kChanColX[1], kChanRowY[0], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::SlowEndVolume,    {kAt, kChanColX[2], kChanRowY[0], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::SummCounter,      {kAt, kChanColX[3], kChanRowY[0], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::LoadedVolumeLo,   {kAt, kChanColX[0], kChanRowY[1], kChanInputW, kChanH}, 0,    kNoItems, kNoBox},
    {H::SummSet,          {kAt, kChanColX[1], kChanRowY[1], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::DeltaCounter,     {kAt, kChanColX[2], kChanRowY[1], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::BmuTotal,         {kAt, kChanColX[3], kChanRowY[1], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::LeftVolume,       {kAt, kChanColX[0], kChanRowY[2], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::LastVolume,       {kAt, kChanColX[1], kChanRowY[2], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::GrandTotal,       {kAt, kChanColX[2], kChanRowY[2], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::CalibrationTotal, {kAt, kChanColX[3], kChanRowY[2], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::LeftVolumeLo,     {kAt, kChanColX[0], kChanRowY[3], kChanInputW, kChanH}, 0,    kNoItems, kNoBox},
    {H::SlowStartVolume,  {kAt, kChanColX[1], kChanRowY[3], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    // Hundredths like the other counters, so the decimal point must be typeable.
    {H::VolumeCounter,    {kAt, kChanColX[2], kChanRowY[3], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::CalibrationCount, {kAt, kChanColX[3], kChanRowY[3], kChanInputW, kChanH}, 0,    kNoItems, kNoBox},
    {H::Price,            {kAt, kChanColX[0], kChanRowY[4], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::State,            {kAt, kChanColX[1], kChanRowY[4], 240, kChanH},         0,    kNoItems, kNoBox},
    {H::BasePrice,        {kAt, kChanColX[0], kChanRowY[5], kChanInputW, kChanH}, kDec, kNoItems, kNoBox},
    {H::HexStatus,        {kAt, kChanColX[1], kChanRowY[5], kChanInputW, kChanH}, 0,    kNoItems, kNoBox},
    {H::StatusList,       {kAt, kChanColX[3], 240, 344, 264}, 0, itemList(kStatusTexts), kNoBox},
    {H::FlagList,         {kAt, kChanColX[0], 344, 376, 160}, 0, itemList(kFlagTexts),   kNoBox},
    {H::MeterType,        {kAt, kMeterX, 64,  kMeterW, kChanH}, 0, kNoItems, kNoBox},
    {H::Phase,            {kAt, kMeterX, 112, kMeterW, kChanH}, 0, itemList(kPhaseTexts),
                          {kAt, kMeterX, 96, 144, 16}},
    {H::ImpulseWeight,    {kAt, kMeterX, 160, kMeterW, kChanH}, 0, kNoItems, kNoBox},
}};
// clang-format on
