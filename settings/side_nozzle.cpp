// Side and nozzle settings: read, display and the meter type / phase write.
#include "settings/side_nozzle.h"

#include "protocol/board_io.h"
#include "settings/settings_form.h"
#include "util/catalog.h"

namespace {
constexpr unsigned kMaxSides = 2;
constexpr unsigned kMaxNozzles = 5;

unsigned nozzlesOf(const SettingsState& st) {
  return st.nozzleCount() > kMaxNozzles ? kMaxNozzles : st.nozzleCount();
}
unsigned sidesOf(const SettingsState& st) {
  return st.sideCount() > kMaxSides ? kMaxSides : st.sideCount();
}

// Row k: side k / nozzles, nozzle k % nozzles.
int rowChannel(int k, unsigned nozzles) {
  return channelIndex(static_cast<int>(k / nozzles), static_cast<int>(k % nozzles));
}
const char* sideLetter(int ch) { return tr(channelSide(ch) ? "B" : "A"); }
}  // namespace

int shownMeterRows(const SettingsState& st) {
  return static_cast<int>(sidesOf(st) * nozzlesOf(st));
}

void readSideNozzle(BoardSession& s, SettingsState& st) {
  const int channels = static_cast<int>(2 * nozzlesOf(st));
  for (int ch = 0; ch < channels; ++ch) {
    MeterRecord m;
    if (readBlockPolled(s, meterRecordAddress(ch), kBankData, kMeterRecordSize, m.data(),
                        kCheckCrc) == kResultDone) {
      st.records.meters[ch] = m;
      st.records.meterRead[ch] = true;
    }
  }
  for (int side = 0; side < 2; ++side) {
    SideData d;
    if (readBlockPolled(s, sideDataAddress(side), kBankData, kSideDataSize, d.data(), kCheckCrc) ==
        kResultDone)
      st.sides[side] = d;
  }
  if (st.onSideNozzleRead) st.onSideNozzleRead();
}

void displaySideNozzle(const SettingsState& st, SideNozzleForm* f) {
  for (int side = 0; side < 2; ++side) {
    const SideData& d = st.sides[side];
    SideGroupForm& g = f->sides[side];
    g.activeNozzle = strprintf("%u", d.activeNozzle());
    g.calibrationCount = strprintf("%u", d.calibrationCount());
    const uint8_t* date = d.calibrationDate();
    g.calibrationDate = strprintf("%02u.%02u.%02u", date[0], date[1], date[2]);
    g.deliveryCount = strprintf("%lu", static_cast<unsigned long>(d.deliveryCount()));
    g.wrongClearCount = strprintf("%u", d.wrongClearCount());
  }
  const int shown = shownMeterRows(st);
  const unsigned nozzles = nozzlesOf(st);
  for (int k = 0; k < kChannelCount; ++k) {
    MeterRowForm& row = f->rows[k];
    row.shown = k < shown;
    if (!row.shown) continue;
    const int ch = rowChannel(k, nozzles);
    const MeterRecord& m = st.records.meters[ch];
    const int nozzle = static_cast<int>(k % nozzles) + 1;
    row.channel = ch;
    row.typeLabel = strprintf(tr("Meter %d%s type"), nozzle, sideLetter(ch));
    row.phaseLabel = strprintf(tr("Meter %d%s phase"), nozzle, sideLetter(ch));
    row.calibrationLabel = strprintf(tr("Calibration %d%s count"), nozzle, sideLetter(ch));
    row.type = strprintf("%d", m.typeWord() >> 1);
    // 0xFF means no phase chosen: the choice is cleared rather than left showing whatever the
    // row showed before (another board's phase), which the next write would then send.
    // Other values beyond the list leave the choice as it was.
    if (m.phase() < 3)
      row.phase = m.phase();
    else if (m.phase() == kPhaseNone)
      row.phase = -1;
    row.calibration = strprintf("%d", m.calibrationCount());
    row.coefficient = strprintf("%f", m.coefficient());
  }
}

int writeSideNozzle(BoardSession& s, SettingsState& st, const SideNozzleForm& f) {
  const unsigned nozzles = nozzlesOf(st);
  const int channels = static_cast<int>(2 * nozzles);
  // Both tables are written whole from the meter copies: a copy whose read failed (or that
  // belongs to another board) would overwrite that channel's type and phase.
  for (int ch = 0; ch < channels; ++ch)
    if (!st.records.meterRead[ch]) {
      s.op->alert(tr("Meter settings were not read from this board"));
      return 0;
    }
  uint8_t phases[kChannelCount];
  uint16_t types[kChannelCount];
  for (int ch = 0; ch < kChannelCount; ++ch) {
    phases[ch] = st.records.meters[ch].phase();
    types[ch] = st.records.meters[ch].typeWord();
  }
  bool typesChanged = false, phasesChanged = false;
  const int shown = shownMeterRows(st);
  for (int k = 0; k < shown; ++k) {
    const int ch = rowChannel(k, nozzles);
    const MeterRowForm& row = f.rows[k];
    const int64_t typed = parseLeadingInt(row.type);
    const uint8_t phase =
        (row.phase >= 0 && row.phase < 3) ? static_cast<uint8_t>(row.phase) : kPhaseNone;
    const int nozzle = static_cast<int>(k % nozzles) + 1;
    // The row shows the word shifted right by one, so an odd word (the Astra preset's 1583)
    // shows as 791. A row left as shown is no change: doubling it again would turn 1583 into
    // 1582 and reset the meter's calibration on a save that touched nothing.
    const uint16_t type = static_cast<uint16_t>(2 * typed);
    if (typed != static_cast<int64_t>(types[ch] >> 1) && type != types[ch]) {
      // The grand total decides: a copy not read from this board (none read since the
      // identification, or another board's) is read now, and without it nothing changes.
      if (!st.records.channelRead[ch]) {
        ChannelRecord rec;
        if (readBlockPolled(s, channelRecordAddress(ch), kBankData, kChannelRecordSize, rec.data(),
                            kCheckCrc) != kResultDone) {
          s.op->alert(tr("Read error"));
          return 0;
        }
        st.records.channels[ch] = rec;
        st.records.channelRead[ch] = true;
      }
      if (st.records.channels[ch].get(ChannelField::f_count) != 0) {
        s.op->alert(strprintf(
            tr("Cannot change meter type %d%s - run 'factory settings'/'controller clear'"), nozzle,
            sideLetter(ch)));
        return 0;
      }
      s.op->alert(strprintf(tr("Meter %d%s type changed - factory calibration will be set"), nozzle,
                            sideLetter(ch)));
      typesChanged = true;
      types[ch] = type;
    }
    if (phase != phases[ch]) {
      phasesChanged = true;
      phases[ch] = phase;
    }
  }
  if (!typesChanged && !phasesChanged) {
    s.op->alert(tr("No values changed"));
    return 0;
  }
  if (enterAdminPassword(s, false) != 1) return 0;
  // Each table write reports its own outcome; the result is a failure when any failed.
  int result = kResultDone;
  if (phasesChanged) {
    const int r = writeBlockPolled(s, kMeterPhaseTableAddress, kBankData, phases,
                                   static_cast<uint8_t>(channels));
    if (r == kResultDone) {
      for (int ch = 0; ch < channels; ++ch) st.records.meters[ch].setPhase(phases[ch]);
      s.op->alert(tr("Write meter phase ok"));
    } else {
      s.op->alert(writeFailureText(s, "Write meter phase error\n(all fillings must be finished)"));
      result = r;
    }
  }
  if (typesChanged) {
    uint8_t bytes[2 * kChannelCount];
    for (int ch = 0; ch < channels; ++ch) putU16(&bytes[2 * ch], types[ch]);
    const int r = writeBlockPolled(s, kMeterTypeTableAddress, kBankData, bytes,
                                   static_cast<uint8_t>(2 * channels));
    if (r == kResultDone) {
      for (int ch = 0; ch < channels; ++ch) st.records.meters[ch].setTypeWord(types[ch]);
      s.op->alert(tr("Write meter types ok"));
    } else {
      s.op->alert(writeFailureText(s, "Write meter types error"));
      if (result == kResultDone) result = r;
    }
  }
  readSideNozzle(s, st);
  return result;
}
