// The channel window's form codec without a display: record bytes to texts, choices and
// checks and back, the "Hex status" rule, the selector entries and record addresses.
#include <gtest/gtest.h>

#include "protocol/utrk_device.h"
#include "settings/channel_form.h"
#include "util/number_text.h"

namespace {

using F = ChannelField;

TEST(ChannelFormState, CodesMapToEntriesAndBack) {
  ChannelRecord ch, out;
  MeterRecord m, mout;
  ch.set(F::state, 30);  // codes 17..42 have no entry, and an unknown state is saved as 0
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.state, kUnknownStateEntry);
  EXPECT_STREQ(kStateTexts[f.state], "Unknown state");
  channelFormToRecords(f, &out, &mout);
  EXPECT_EQ(out.get(F::state), 0u);

  ch.set(F::state, 43);
  f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.state, 17);
  EXPECT_STREQ(kStateTexts[f.state], "Error - paused");
  for (const auto& [entry, code] :
       {std::pair<int, unsigned>{20, 46}, {-1, 0}}) {  // 20: "Continue, waiting nozzle"
    f.state = entry;
    channelFormToRecords(f, &out, &mout);
    EXPECT_EQ(out.get(F::state), code) << entry;
  }
  for (const auto& [code, entry] :
       {std::pair<int, int>{0, 0}, {16, 16}, {17, kUnknownStateEntry}, {255, kUnknownStateEntry}})
    EXPECT_EQ(stateEntryForCode(code), entry) << code;
}

TEST(ChannelFormStatus, ChecksFollowBitsHexStatusKeepsOnlyItemBitsAndTypedTextIsStored) {
  ChannelRecord ch;
  MeterRecord m;
  ch.set(F::bit_status, 0x0088);
  ch.set(F::bit_status2, 0x05);
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.textOf(ChanControl::HexStatus), "0x0088");
  for (int k = 0; k < kStatusItemCount; ++k)
    EXPECT_EQ(f.status[k], k == 1 || k == 3) << kStatusTexts[k];  // "Nozzle up", "Activated"
  f.status[0] = true;                                             // "Meter error" toggled on
  EXPECT_EQ(hexStatusFromChecks(f.status), "0x008C");
  EXPECT_EQ(f.flags, (std::array<bool, 3>{true, false, true}));  // flag checks are bits of status 2
  f.flags = {false, true, false};
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::bit_status2), 0x02u);

  ch.set(F::bit_status, 0x0043);  // only 0x0040 and 0x0001/0x0002: no items
  f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.textOf(ChanControl::HexStatus), "0x0043");
  f.status[0] = true;
  EXPECT_EQ(hexStatusFromChecks(f.status), "0x0004");
  std::array<bool, kStatusItemCount> all{};
  all.fill(true);
  EXPECT_EQ(hexStatusFromChecks(all), "0xFB9C");

  f.textOf(ChanControl::HexStatus) =
      "0x0043";  // bits without items survive when typed, not toggled
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::bit_status), 0x43u);
  f.textOf(ChanControl::HexStatus) = "0x12345";  // only 16 bits
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::bit_status), 0x2345u);
  EXPECT_EQ(ch.bytes[3], 0x02);  // bit_status2 untouched by the overflow
}

TEST(ChannelFormNumbers, HundredthsAreCutNotRoundedKeepTheirWidthAndCompanionsAreHex) {
  ChannelForm f;
  ChannelRecord ch;
  MeterRecord m;
  f.textOf(ChanControl::LoadedVolume) = "12.3";
  f.textOf(ChanControl::VolumeSet) = "12.345";
  f.textOf(ChanControl::Price) = "45,6";
  f.textOf(ChanControl::SlowStartVolume) = "700.01";   // 70001 does not fit 16 bits
  f.textOf(ChanControl::SummCounter) = "42949672.95";  // the largest 32-bit count of hundredths
  f.textOf(ChanControl::GrandTotal) = "1234.5";
  f.textOf(ChanControl::LoadedVolumeLo) = "0x";
  f.textOf(ChanControl::LeftVolumeLo) = "0xDEADbeef";
  channelFormToRecords(f, &ch, &m);
  const std::pair<F, uint32_t> stored[] = {
      {F::load_vol_hi, 1230},    {F::set_vol, 1234},
      {F::price, 4560},          {F::vol_start, 70001u & 0xFFFF},
      {F::s_count, 4294967295u}, {F::f_count, 1234},
      {F::f_c_mil, 50},          {F::load_vol_lo, 0},
      {F::k_vol_lo, 0xDEADBEEFu}};
  for (const auto& [field, value] : stored)
    EXPECT_EQ(ch.get(field), value) << static_cast<int>(field);
  EXPECT_EQ(ch.bytes[46], 0);  // the neighbour d_count is not overwritten
  ChannelForm back = channelFormFromRecords(ch, m);
  EXPECT_EQ((std::vector<std::string>{
                back.textOf(ChanControl::LoadedVolume), back.textOf(ChanControl::VolumeSet),
                back.textOf(ChanControl::SummCounter), back.textOf(ChanControl::SlowStartVolume),
                back.textOf(ChanControl::LoadedVolumeLo), back.textOf(ChanControl::LeftVolumeLo)}),
            (std::vector<std::string>{"12.30", "12.34", "42949672.95", "44.65", "0x00000000",
                                      "0xDEADBEEF"}));
  EXPECT_EQ(parseHex64AfterPrefix("0x12zz"), 0x12u);
  EXPECT_EQ(parseHex64AfterPrefix(""), 0u);
  EXPECT_EQ(parseHex64AfterPrefix("ff"), 0xFFu);  // typed without the prefix: still hexadecimal

  // Grand total: whole units and hundredths, also beyond the 32-bit range of hundredths.
  ch.set(F::f_count, 1234);
  ch.set(F::f_c_mil, 5);
  EXPECT_EQ(channelFormFromRecords(ch, m).textOf(ChanControl::GrandTotal), "1234.05");
  f.textOf(ChanControl::GrandTotal) = "4000000000.99";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::f_count), 4000000000u);
  EXPECT_EQ(ch.get(F::f_c_mil), 99u);
  EXPECT_EQ(channelFormFromRecords(ch, m).textOf(ChanControl::GrandTotal), "4000000000.99");
}

TEST(ChannelFormMeter, TypeIsDoubledAndWeightHasFortyBits) {
  ChannelForm f;
  ChannelRecord ch;
  MeterRecord m;
  m.bytes.fill(0xAA);  // collecting starts from zeros
  ch.bytes.fill(0xAA);
  f.textOf(ChanControl::MeterType) = "7";
  f.textOf(ChanControl::ImpulseWeight) = "0x0100000001";
  f.textOf(ChanControl::CalibrationCount) = "321";
  f.phase = 2;
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.typeWord(), 14);
  EXPECT_EQ(m.bytes[11], 1);
  EXPECT_EQ(getU32(&m.bytes[0]), 1u);
  EXPECT_EQ(m.calibrationCount(), 321);
  EXPECT_EQ(m.phase(), 2);
  for (int i : {4, 5, 6, 7, 14}) EXPECT_EQ(m.bytes[i], 0) << i;
  EXPECT_EQ(ch.bytes[71], 0);
  const ChannelForm back = channelFormFromRecords(ch, m);
  EXPECT_EQ(back.textOf(ChanControl::MeterType), "7");
  EXPECT_EQ(back.textOf(ChanControl::ImpulseWeight), "0x0100000001");
  EXPECT_EQ(back.textOf(ChanControl::CalibrationCount), "321");
  EXPECT_EQ(back.phase, 2);

  f.phase = -1;
  f.textOf(ChanControl::ImpulseWeight) = "0x7";  // stops after the high byte: the low word stays 0
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.phase(), kPhaseNone);
  EXPECT_EQ(m.impulseWeight(), uint64_t(7) << 32);
  EXPECT_EQ(channelFormFromRecords(ch, m).phase, -1);
  // Without "0x": two digits of byte 11, then the low word; "0X" and garbage read as expected.
  const std::pair<const char*, uint64_t> weights[] = {
      {"123456789A", (uint64_t(0x12) << 32) | 0x3456789Au},
      {"0X0100000002", (uint64_t(1) << 32) | 2u},
      {"garbage", 0}};
  for (const auto& [text, weight] : weights) {
    f.textOf(ChanControl::ImpulseWeight) = text;
    channelFormToRecords(f, &ch, &m);
    EXPECT_EQ(m.impulseWeight(), weight) << text;
  }
}

TEST(ChannelFormMeter, TypeLeftAsShownKeepsItsOddWord) {
  ChannelRecord ch;
  MeterRecord m, fresh;
  m.setTypeWord(1583);  // odd word, as the Astra preset writes it
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.textOf(ChanControl::MeterType), "791");
  f.textOf(ChanControl::Price) = "45.60";
  channelFormToRecords(f, &ch, &m);  // m is the slot the form was filled from
  EXPECT_EQ(m.typeWord(), 1583u);
  EXPECT_EQ(ch.get(F::price), 4560u);
  f.textOf(ChanControl::MeterType) = "792";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.typeWord(), 1584u);
  f.textOf(ChanControl::MeterType) = "791";  // from zeros the typed value is simply doubled
  channelFormToRecords(f, &ch, &fresh);
  EXPECT_EQ(fresh.typeWord(), 1582u);
}

TEST(ChannelSelector, EntriesAddressesAndColumnsForTheNozzleCount) {
  EXPECT_EQ(channelSelectorEntries(2),
            (std::vector<std::string>{"Side A channel 1", "Side B channel 1", "Side A channel 2",
                                      "Side B channel 2"}));
  EXPECT_EQ(channelRecordAddress(3), 0x2300u);
  EXPECT_EQ(meterRecordAddress(3), 0x1300u);
  EXPECT_EQ(channelColumnName(0), "1A");
  EXPECT_EQ(channelColumnName(9), "5B");
  // Odd nozzle counts never name channels outside the ten.
  EXPECT_TRUE(channelSelectorEntries(0).empty());
  EXPECT_TRUE(channelSelectorEntries(-3).empty());
  EXPECT_EQ(channelSelectorEntries(5).size(), 10u);
  EXPECT_EQ(channelSelectorEntries(6).size(), 10u);
  EXPECT_EQ(channelSelectorEntries(255).back(), "Side B channel 5");
  EXPECT_FALSE(channelIndexValid(-1));
  EXPECT_FALSE(channelIndexValid(10));
  EXPECT_TRUE(channelIndexValid(9));
}

TEST(ChannelTable, ColumnTextsFollowTheVariableFormats) {
  ChannelRecord ch;
  const std::pair<F, uint32_t> values[] = {
      {F::state, 43},         {F::bit_status, 0x0088}, {F::bit_status2, 0x3},
      {F::load_vol_lo, 0xAB}, {F::load_vol_hi, 1205},  {F::vol_start, 150},
      {F::f_count, 1234},     {F::f_c_mil, 5},         {F::m_count, 99}};
  for (const auto& [field, value] : values) ch.set(field, value);
  const std::vector<std::string> c = channelTableColumn(ch);
  ASSERT_EQ(c.size(), size_t(kChannelFieldCount));
  const std::pair<int, const char*> texts[] = {
      {0, "43"},        {1, "$0088"}, {2, "$0003"}, {3, "$000000AB"}, {4, "12.05"},
      {5, "$00000000"}, {13, "1.50"}, {15, "1234"}, {16, "05"},       {20, "0.99"}};
  for (const auto& [row, text] : texts) EXPECT_EQ(c[row], text) << row;
}

}  // namespace

TEST(ChannelLoad, FailedReadsLeaveTheSlotsAsTheyWere) {
  // No port behind the device: every read fails. The slots keep what they held, so a later
  // save cannot write a half-received record back to the board.
  UTRKDevice dev(0);
  ChannelCopies copies;
  copies.channels[3].set(F::f_count, 1234);
  copies.meters[3].setTypeWord(200);
  EXPECT_NE(loadChannel(dev, copies, 3), kResultDone);
  EXPECT_EQ(copies.channels[3].get(F::f_count), 1234u);
  EXPECT_EQ(copies.meters[3].typeWord(), 200u);
  EXPECT_NE(readChannelRecord(dev, copies, 3), kResultDone);
  EXPECT_EQ(copies.channels[3].get(F::f_count), 1234u);
  // Indexes outside the ten channels touch nothing and send nothing.
  EXPECT_EQ(loadChannel(dev, copies, 10), kResultRefused);
  EXPECT_EQ(loadChannel(dev, copies, -1), kResultRefused);
  EXPECT_EQ(readChannelRecord(dev, copies, 10), kResultRefused);
}
