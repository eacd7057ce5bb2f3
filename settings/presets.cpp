// Factory preset values and their write sequence.
#include "settings/presets.h"

#include "protocol/board_io.h"
#include "settings/service_actions.h"
#include "settings/settings_form.h"
#include "settings/settings_sequences.h"
#include "util/catalog.h"

const char* const kPumpTypeItems[kPumpTypeCount] = {"Shelf", "General pumps", "C4000", "Astra",
                                                    "Tokheim"};
const char* const kPresetSideItems[2] = {"One side", "Two sides"};

namespace {
const char* const kDescriptions[kPumpTypeCount] = {
    "'Shelf' pump\n100 pulses/litre\n1-phase pulser (phase 1)\nInverted nozzle\nDisplay type: "
    "T209-17",
    "General pumps' pump\n80 pulses/litre\n2-phase pulser\nInverted nozzle\nDisplay type: MI-21",
    "RM STARK pump\nCNG dispenser, micromotion meters\n20mA pressure meters\nInverted "
    "nozzle\nDisplay type: MI-21 soft ",
    "Astron pump\nLPG dispenser\nInverted nozzle\nDisplay type: MI-21 i2c ",
    "'Tokheim' pump\n100 pulses/litre\n1-phase pulser (phase 1)\nnon-inverted LCD data "
    "pin\nDisplay type: Tokheim",
};
constexpr uint8_t kControllerClearByte = 0x55;
}  // namespace

const char* presetDescription(int t) {
  return (t >= 0 && t < kPumpTypeCount) ? kDescriptions[t] : "";
}

const char* describePumpType(PresetForm* f) {
  if (f->pumpType == kPumpAstra) {
    f->sideChoice = 0;
    f->nozzleChoice = 0;
  }
  return presetDescription(f->pumpType);
}

void onPresetNozzlesChosen(PresetForm* f) {
  const int n = f->nozzleChoice < 0 ? 0 : (f->nozzleChoice > 4 ? 5 : f->nozzleChoice + 1);
  f->columns = n;
  for (int c = 0; c < 5; ++c) {
    f->aztA[c] = c < n ? strprintf("%d", c + 1) : std::string();
    f->aztB[c] = c < n ? strprintf("%d", n + c + 1) : std::string();
  }
}

MainSettings presetMainSettings(const PresetForm& f) {
  MainSettings r;
  const int t = f.pumpType;
  r.set(ms::rec_tag, kRecTag);
  r.set(ms::pc_baud, 48);
  r.set(ms::per_baud, 48);
  const uint32_t nozzles = static_cast<uint32_t>(f.nozzleChoice + 1);
  const uint32_t sides = static_cast<uint32_t>(f.sideChoice + 1);
  r.set(ms::noz_count, nozzles);
  r.set(ms::side_count, sides);
  r.set(ms::side_addr0, parseUnsigned(f.sideA));
  if (sides > 1) r.set(ms::side_addr1, parseUnsigned(f.sideB));
  for (uint32_t c = 0; c < nozzles && c < 5; ++c) {
    r.set(ms::nara(2 * c), parseUnsigned(f.aztA[c]));
    if (sides > 1) r.set(ms::nara(2 * c + 1), parseUnsigned(f.aztB[c]));
  }
  r.set(ms::sat_channel, 0xFFFF);
  r.set(ms::slow_start, 1);
  r.set(ms::slow_load, 3);
  r.set(ms::nozzle_fat, (t == kPumpAstra || t == kPumpTokheim) ? 15 : 30);
  r.set(ms::met_timeout, 30);
  uint32_t modes = 5;
  if (t == kPumpC4000)
    modes = 1;
  else if (t == kPumpAstra)
    modes = 7;
  else if (t == kPumpTokheim)
    modes = 0x304;
  r.set(ms::trk_modes, modes);
  r.set(ms::trk_modes2, (t == kPumpAstra || t == kPumpTokheim) ? 1 : 0);
  uint32_t display = 6;
  if (t == kPumpGeneral)
    display = 7;
  else if (t == kPumpC4000 || t == kPumpAstra)
    display = 13;
  else if (t == kPumpTokheim)
    display = 9;
  r.set(ms::tbl_type0, display);
  r.set(ms::tbl_type1, display);
  r.set(ms::min_speed, t == kPumpAstra ? 3 : 0);
  r.set(ms::min_sp_time, t == kPumpAstra ? 5 : 0);
  r.set(ms::hydro_hit, t == kPumpAstra ? 255 : (t == kPumpTokheim ? 5 : 0));
  r.set(ms::shim_duration, 4);
  r.set(ms::pb_timeout, 45);
  return r;
}

uint8_t presetPhase(int t) {
  switch (t) {
    case kPumpShelf:
    case kPumpAstra:
    case kPumpTokheim:
      return 0;
    default:
      return 1;  // General pumps, C4000, none chosen
  }
}

uint16_t presetTypeWord(int t) {
  if (t == kPumpGeneral) return 160;
  if (t == kPumpAstra) return 1583;
  return 200;
}

ExtraSettings presetExtraSettings() {
  ExtraSettings e;
  e.set(es::dens_mult, 10000);
  e.set(es::mass_mult, 100);
  e.set(es::temp_mult, 10);
  e.set(es::mass_flags, 1);
  e.set(es::fail_pressure, 999);
  e.set(es::fail_flow, 50);
  e.set(es::pressure_max, 60);
  e.set(es::finish_pressure, 210);
  e.set(es::fall_pressure, 100);
  e.set(es::pressure_offset, 660);
  e.set(es::pressure_top, 3250);
  e.set(es::vol_mult, 1);
  const uint8_t minFlow[3] = {5, 3, 2};
  for (int i = 0; i < 3; ++i) {
    e.bytes[es::line_min_flow + i] = minFlow[i];
    e.bytes[es::line_min_tmt + i] = 50;
  }
  const uint8_t ip[4] = {192, 168, 0, 100}, mask[4] = {255, 255, 255, 0}, gw[4] = {192, 168, 0, 1};
  for (int i = 0; i < 4; ++i) {
    e.bytes[es::w_ip + i] = ip[i];
    e.bytes[es::w_mask + i] = mask[i];
    e.bytes[es::w_gw + i] = gw[i];
  }
  e.set(es::w_port, 1000);
  return e;
}

int applyPreset(BoardSession& s, SettingsState& st, const PresetForm& f,
                const std::function<void(int percent)>& progress) {
  auto step = [&progress](int percent) {
    if (progress) progress(percent);
  };
  // Without a type there is no preset to write (the record would be all defaults).
  if (f.pumpType < 0 || f.pumpType >= kPumpTypeCount) {
    s.op->alert(tr("Choose the pump type"));
    return 0;
  }
  // A zero-length table write means nothing to the board: refuse before any request.
  if (f.nozzleChoice < 0 || f.nozzleChoice > 4) {
    s.op->alert(tr("Choose the nozzle count"));
    return 0;
  }
  const MainSettings main = presetMainSettings(f);
  const int channels = 2 * (f.nozzleChoice + 1);
  uint8_t phases[kChannelCount];
  uint8_t types[2 * kChannelCount];
  for (int ch = 0; ch < channels; ++ch) {
    phases[ch] = presetPhase(f.pumpType);
    putU16(&types[2 * ch], presetTypeWord(f.pumpType));
  }
  if (enterAdminPassword(s, false) != 1) return 0;
  // The preset starts with a controller clear: the totals are lost, so the engineer says so
  // (on a board without an admin password nothing else would ask).
  if (!s.op->confirm(tr("This will set all pump totals to 0"))) return 0;

  step(kPresetStepClear);
  const uint8_t clear = kControllerClearByte;
  int r = writeBlockPolled(s, kRegControllerClear, kBankService, &clear, 1);
  if (r != kResultDone) {
    s.op->alert(strprintf(tr("Controller clear result=%d"), r));
    return 0;
  }
  step(kPresetStepPhases);
  if (writeBlockPolled(s, kMeterPhaseTableAddress, kBankData, phases,
                       static_cast<uint8_t>(channels)) != kResultDone) {
    s.op->alert(tr("Write meter phase error\n(all fillings must be finished)"));
    return 0;
  }
  step(kPresetStepTypes);
  if (writeBlockPolled(s, kMeterTypeTableAddress, kBankData, types,
                       static_cast<uint8_t>(2 * channels)) != kResultDone) {
    s.op->alert(tr("Write meter types error"));
    return 0;
  }
  for (int ch = 0; ch < channels; ++ch) st.records.meters[ch].setTypeWord(getU16(&types[2 * ch]));
  step(kPresetStepMain);
  if (writeBlockPolled(s, kMainSettingsAddress, kBankData, main.data(), kMainSettingsSize) !=
      kResultDone) {
    s.op->alert(tr("Main settings write error"));
    return 0;
  }
  st.readCopy = main;
  // The extra record goes before the restart: a restart ends the admin log-in and may move
  // the board to the preset's side A address, so a write after it would be refused.
  if (f.pumpType == kPumpC4000) {
    step(kPresetStepExtra);
    st.extra = presetExtraSettings();
    if (writeBlockPolled(s, kExtraSettingsAddress, kBankData, st.extra.data(),
                         kExtraSettingsSize) != kResultDone) {
      s.op->alert(tr("Extra settings write error"));
      return 0;
    }
    if (st.onExtraRead) st.onExtraRead();
  }
  step(kPresetStepRestart);
  restartController(s);
  step(kPresetStepDone);
  s.op->alert(tr("All ok"));
  // The restarted board answers at the preset's side A address.
  const uint8_t sideA = static_cast<uint8_t>(main.get(ms::side_addr0));
  if (sideA >= 1 && sideA <= 0x20 && sideA != s.pumpAddress)
    followBoardToAddress(s, st, sideA);
  else
    identifyAndRefresh(s, st, s.pumpAddress);
  return 1;
}
