// Codec between the channel window's form and the board's channel and meter records, and
// the blocking load/save of one channel.
#include "settings/channel_form.h"

#include <cstdio>
#include <cstring>

#include "protocol/board.h"
#include "protocol/utrk_device.h"
#include "util/catalog.h"
#include "util/operator.h"
#include "util/text.h"

namespace {

using F = ChannelField;
using C = ChanControl;

std::string hundredths(uint32_t v) {
  return strprintf("%lu.%02lu", (unsigned long)(v / 100), (unsigned long)(v % 100));
}

}  // namespace

const char* const kStateTexts[kStateEntryCount] = {"Free",
                                                   "Free, overfill",
                                                   "Start, waiting nozzle",
                                                   "Start, display init",
                                                   "Filling slow",
                                                   "Filling",
                                                   "Filling end slow",
                                                   "PC paused",
                                                   "Nozzle down - paused",
                                                   "Phase timeout - paused",
                                                   "PC timeout - paused",
                                                   "reserved",
                                                   "Connection ext - paused",
                                                   "Meter error - paused",
                                                   "Valve 220V - paused",
                                                   "Fill too slow - paused",
                                                   "Wait for enable command",
                                                   "Error - paused",
                                                   "Filling end ok",
                                                   "Filling end overfill",
                                                   "Continue, waiting nozzle",
                                                   "Unknown state"};
const int kStateCodes[kStateEntryCount - 1] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9, 10,
                                               11, 12, 13, 14, 15, 16, 43, 44, 45, 46};
const char* const kStatusTexts[kStatusItemCount] = {"Meter error",
                                                    "Nozzle up",
                                                    "Satellite nozzle up",
                                                    "Activated",
                                                    "Fill suspend, can continue",
                                                    "BMU fill",
                                                    "Calibration fill",
                                                    "AZT ready",
                                                    "AZT continue",
                                                    "Fulltank",
                                                    "Wireless"};
const uint16_t kStatusMasks[kStatusItemCount] = {0x0004, 0x0008, 0x0010, 0x0080, 0x0100, 0x0200,
                                                 0x0800, 0x1000, 0x2000, 0x4000, 0x8000};
const char* const kFlagTexts[kFlagItemCount] = {"Summ set", "Card set", "Bonus spend"};
const char* const kPhaseTexts[kPhaseEntryCount] = {"Phase 1", "Phase 1+2", "Phase 2"};

int stateEntryForCode(uint8_t code) {
  for (int e = 0; e < kStateEntryCount - 1; ++e)
    if (kStateCodes[e] == code) return e;
  return kUnknownStateEntry;
}

uint8_t stateCodeForEntry(int entry) {
  if (entry < 0 || entry >= kStateEntryCount - 1) return 0;
  return uint8_t(kStateCodes[entry]);
}

std::string hexStatusFromChecks(const std::array<bool, kStatusItemCount>& checks) {
  unsigned v = 0;
  for (int k = 0; k < kStatusItemCount; ++k)
    if (checks[k]) v |= kStatusMasks[k];
  return strprintf("0x%04X", v);
}

int selectorChannelCount(int nozCount) {
  if (nozCount <= 0) return 0;
  return nozCount >= kChannelCount / 2 ? kChannelCount : 2 * nozCount;
}

std::vector<std::string> channelSelectorEntries(int nozCount) {
  std::vector<std::string> out;
  for (int i = 0; i < selectorChannelCount(nozCount); ++i) {
    char buf[100];
    std::snprintf(buf, sizeof buf, tr(i % 2 == 0 ? "Side A channel %d" : "Side B channel %d"),
                  i / 2 + 1);
    out.emplace_back(buf);
  }
  return out;
}

bool channelIndexValid(int index) { return index >= 0 && index < kChannelCount; }

std::string channelColumnName(int index) {
  return strprintf("%d%c", channelNozzle(index), channelSideLetter(index));
}

namespace {
// The hundredths fields of the form and the record variable each one shows.
struct HundredthsField {
  F field;
  ChanControl text;
};
const HundredthsField kHundredthsFields[] = {
    {F::load_vol_hi, C::LoadedVolume},
    {F::set_vol, C::VolumeSet},
    {F::vol_end, C::SlowEndVolume},
    {F::s_count, C::SummCounter},
    {F::set_summ, C::SummSet},
    {F::d_count, C::DeltaCounter},
    {F::b_count, C::BmuTotal},
    {F::k_vol_hi, C::LeftVolume},
    {F::last_vol, C::LastVolume},
    {F::m_count, C::CalibrationTotal},
    {F::vol_start, C::SlowStartVolume},
    {F::l_count, C::VolumeCounter},
    {F::price, C::Price},
    {F::base_price, C::BasePrice},
};
}  // namespace

ChannelForm::ChannelForm() {
  for (const ControlDesc& d : kChanControls)
    if (d.kind == ControlKind::Input) text[static_cast<size_t>(d.id)] = "0";
}

ChannelForm channelFormFromRecords(const ChannelRecord& ch, const MeterRecord& m) {
  ChannelForm f;
  for (const HundredthsField& h : kHundredthsFields) f.textOf(h.text) = hundredths(ch.get(h.field));
  f.textOf(C::LoadedVolumeLo) = strprintf("0x%08X", ch.get(F::load_vol_lo));
  f.textOf(C::LeftVolumeLo) = strprintf("0x%08X", ch.get(F::k_vol_lo));
  f.textOf(C::GrandTotal) =
      strprintf("%lu.%02d", (unsigned long)ch.get(F::f_count), int(ch.get(F::f_c_mil)));
  uint32_t status = ch.get(F::bit_status);
  f.textOf(C::HexStatus) = strprintf("0x%04X", status);
  f.state = stateEntryForCode(uint8_t(ch.get(F::state)));
  for (int k = 0; k < kStatusItemCount; ++k) f.status[k] = (status & kStatusMasks[k]) != 0;
  uint32_t flags = ch.get(F::bit_status2);
  for (int k = 0; k < kFlagItemCount; ++k) f.flags[k] = (flags >> k & 1) != 0;

  f.textOf(C::CalibrationCount) = strprintf("%u", unsigned(m.calibrationCount()));
  f.textOf(C::MeterType) = strprintf("%u", unsigned(m.typeWord() >> 1));
  f.textOf(C::ImpulseWeight) = strprintf("0x%02X%08X", unsigned(m.bytes[kMeterWeightHigh.offset]),
                                         getU32(&m.bytes[kMeterWeightLow.offset]));
  // No phase (0xFF) or a code beyond the list clears the choice: showing the previous
  // channel's phase instead would write it to this channel on the next save.
  f.phase = m.phase() < kPhaseEntryCount ? m.phase() : -1;
  return f;
}

void channelFormToRecords(const ChannelForm& f, ChannelRecord* ch, MeterRecord* m) {
  // The form shows the meter type word shifted right by one, which loses its low bit (the
  // Astra preset writes 1583, shown as 791). A type left as shown keeps the word it came
  // from, so saving a channel for a price never changes its meter type.
  const uint16_t shownTypeWord = m->typeWord();
  *ch = ChannelRecord{};
  *m = MeterRecord{};
  // parseFixed wraps modulo 2^32, which is exactly the stored width (vol_start keeps the
  // low 16 bits through set()).
  for (const HundredthsField& h : kHundredthsFields)
    ch->set(h.field, uint32_t(parseFixed(f.textOf(h.text).c_str(), 2)));

  // The grand total is read 64 bits wide: beyond 21 million whole units it still splits into
  // whole part and hundredths.
  uint64_t total = uint64_t(parseFixedWrapping(f.textOf(C::GrandTotal).c_str(), 2));
  ch->set(F::f_count, uint32_t(total / 100));
  ch->set(F::f_c_mil, uint32_t(total % 100));

  ch->set(F::load_vol_lo, uint32_t(parseHex64AfterPrefix(f.textOf(C::LoadedVolumeLo))));
  ch->set(F::k_vol_lo, uint32_t(parseHex64AfterPrefix(f.textOf(C::LeftVolumeLo))));
  ch->set(F::bit_status, uint32_t(parseHex64AfterPrefix(f.textOf(C::HexStatus)) & 0xFFFF));
  ch->set(F::state, stateCodeForEntry(f.state));
  uint32_t flags = 0;
  for (int k = 0; k < kFlagItemCount; ++k)
    if (f.flags[k]) flags |= 1u << k;
  ch->set(F::bit_status2, flags);

  m->setCalibrationCount(uint16_t(parseLeadingDecimalWrapping(f.textOf(C::CalibrationCount))));
  const uint64_t typed = parseLeadingDecimalWrapping(f.textOf(C::MeterType));
  m->setTypeWord(typed == uint64_t(shownTypeWord >> 1) ? shownTypeWord : uint16_t(typed * 2));
  // "0x" + two digits of byte 11 + eight digits of the low word; a short text leaves the
  // parts it does not reach at 0. The digits are read at the same places when the prefix
  // was deleted: dropping the whole weight to 0 would wreck the meter's calibration.
  {
    const std::string& weight = f.textOf(C::ImpulseWeight);
    size_t pos = hasHexPrefix(weight) ? 2 : 0;
    int digits = 0;
    uint64_t high = readHexDigits(weight, &pos, 2, &digits);
    uint64_t low = digits > 0 ? readHexDigits(weight, &pos, 8, &digits) : 0;
    m->setImpulseWeight(high << 32 | low);
  }
  m->setPhase(f.phase >= 0 && f.phase < kPhaseEntryCount ? uint8_t(f.phase) : kPhaseNone);
}

std::vector<std::string> channelTableColumn(const ChannelRecord& ch) {
  std::vector<std::string> col;
  for (const ChannelFieldDesc& d : kChannelFields) {
    uint32_t v = ch.get(d.field);
    switch (d.show) {
      case ChannelShow::Code:
        col.push_back(strprintf("%u", unsigned(v)));
        break;
      case ChannelShow::Hex:
        col.push_back(strprintf(d.width == 4 ? "$%08X" : "$%04X", unsigned(v)));
        break;
      case ChannelShow::Hundredths:
        col.push_back(hundredths(v));
        break;
      case ChannelShow::Whole:
        col.push_back(strprintf("%lu", (unsigned long)v));
        break;
      case ChannelShow::Cents:
        col.push_back(strprintf("%02u", unsigned(v)));
        break;
    }
  }
  return col;
}

namespace {
int readInto(UTRKDevice& dev, uint32_t address, uint8_t* slot, size_t count) {
  // A failed read never lands in the slot: a later save would write back what it left.
  uint8_t buf[kChannelRecordSize] = {};
  int r = pollRequest(
      dev, [&] { return dev.readBlock(address, kBankData, uint8_t(count), buf, kCheckCrc, 0); });
  if (r == kResultDone) std::memcpy(slot, buf, count);
  return r;
}
int writeFrom(UTRKDevice& dev, uint32_t address, const uint8_t* slot, size_t count) {
  return pollRequest(dev, [&] { return dev.writeBlock(address, kBankData, slot, uint8_t(count)); });
}
}  // namespace

int readChannelRecord(UTRKDevice& dev, ChannelCopies& c, int index) {
  if (!channelIndexValid(index)) return kResultRefused;
  const int r =
      readInto(dev, channelRecordAddress(index), c.channels[index].data(), kChannelRecordSize);
  if (r == kResultDone) c.channelRead[index] = true;
  return r;
}

int loadChannel(UTRKDevice& dev, ChannelCopies& c, int index) {
  if (!channelIndexValid(index)) return kResultRefused;
  int r1 = readInto(dev, channelRecordAddress(index), c.channels[index].data(), kChannelRecordSize);
  if (r1 == kResultDone) c.channelRead[index] = true;
  int r2 = readInto(dev, meterRecordAddress(index), c.meters[index].data(), kMeterRecordSize);
  if (r2 == kResultDone) c.meterRead[index] = true;
  // Showing the new meter record beside the previous channel's values would invite saving
  // them to the wrong channel, so both reads must succeed.
  return r1 != kResultDone ? r1 : r2;
}

int saveChannel(BoardSession& s, ChannelCopies& c, int index) {
  if (!channelIndexValid(index) || s.dev == nullptr) return kResultRefused;
  if (enterAdminPassword(s, false) != 1) return 0;
  int r =
      writeFrom(*s.dev, channelRecordAddress(index), c.channels[index].data(), kChannelRecordSize);
  // The copies now hold the edited values: they are the board's only once written.
  c.channelRead[index] = r == kResultDone;
  c.meterRead[index] = false;
  // A board that refused the channel record (a filling in progress, the key off) would take
  // the meter record alone and leave the two out of step, so the meter write waits for it.
  if (r != kResultDone) return r;
  r = writeFrom(*s.dev, meterRecordAddress(index), c.meters[index].data(), kMeterRecordSize);
  c.meterRead[index] = r == kResultDone;
  return r;
}
