// The channel window's form codec without a display: record bytes to texts, choices and
// checks and back, the "Hex status" rule, the selector entries and record addresses.
#include <gtest/gtest.h>

#include "settings/channel_form.h"

#include "protocol/utrk_device.h"

namespace {

using F = ChannelField;

ChannelForm roundTrip(const ChannelForm& in, ChannelRecord* ch, MeterRecord* m) {
  channelFormToRecords(in, ch, m);
  return channelFormFromRecords(*ch, *m);
}

TEST(ChannelFormState, CodesMapToEntriesAndBack) {
  ChannelRecord ch;
  MeterRecord m;
  ch.set(F::state, 30);  // codes 17..42 have no entry
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.state, kUnknownStateEntry);
  EXPECT_STREQ(kStateTexts[f.state], "Unknown state");
  ChannelRecord out;
  MeterRecord mout;
  channelFormToRecords(f, &out, &mout);
  EXPECT_EQ(out.get(F::state), 0u);

  ch.set(F::state, 43);
  f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.state, 17);
  EXPECT_STREQ(kStateTexts[f.state], "Error - paused");
  f.state = 20;  // "Continue, waiting nozzle"
  channelFormToRecords(f, &out, &mout);
  EXPECT_EQ(out.get(F::state), 46u);

  f.state = -1;
  channelFormToRecords(f, &out, &mout);
  EXPECT_EQ(out.get(F::state), 0u);
  EXPECT_EQ(stateEntryForCode(0), 0);
  EXPECT_EQ(stateEntryForCode(16), 16);
  EXPECT_EQ(stateEntryForCode(17), kUnknownStateEntry);
  EXPECT_EQ(stateEntryForCode(255), kUnknownStateEntry);
}

TEST(ChannelFormStatus, ChecksFollowBitsAndHexStatusKeepsOnlyItemBits) {
  ChannelRecord ch;
  MeterRecord m;
  ch.set(F::bit_status, 0x0088);
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.hexStatus, "0x0088");
  for (int k = 0; k < kStatusItemCount; ++k)
    EXPECT_EQ(f.status[k], k == 1 || k == 3) << kStatusTexts[k];  // "Nozzle up", "Activated"
  f.status[0] = true;  // "Meter error" toggled on
  EXPECT_EQ(hexStatusFromChecks(f.status), "0x008C");

  ch.set(F::bit_status, 0x0043);  // only 0x0040 and 0x0001/0x0002: no items
  f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.hexStatus, "0x0043");
  f.status[0] = true;
  EXPECT_EQ(hexStatusFromChecks(f.status), "0x0004");

  std::array<bool, kStatusItemCount> all{};
  all.fill(true);
  EXPECT_EQ(hexStatusFromChecks(all), "0xFB9C");
}

TEST(ChannelFormStatus, HexStatusTextIsStoredAsTyped) {
  ChannelForm f;
  ChannelRecord ch;
  MeterRecord m;
  f.hexStatus = "0x0043";  // bits without items survive when typed, not toggled
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::bit_status), 0x43u);
  f.hexStatus = "0x12345";  // only 16 bits
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::bit_status), 0x2345u);
  EXPECT_EQ(ch.bytes[3], 0);  // bit_status2 untouched by the overflow
}

TEST(ChannelFormFlags, FlagChecksAreBitsOfStatus2) {
  ChannelRecord ch;
  MeterRecord m;
  ch.set(F::bit_status2, 0x05);
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_TRUE(f.flags[0]);
  EXPECT_FALSE(f.flags[1]);
  EXPECT_TRUE(f.flags[2]);
  f.flags = {false, true, false};
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::bit_status2), 0x02u);
}

TEST(ChannelFormNumbers, GrandTotalSplitsIntoWholeAndHundredths) {
  ChannelRecord ch;
  MeterRecord m;
  ch.set(F::f_count, 1234);
  ch.set(F::f_c_mil, 5);
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.grandTotal, "1234.05");
  f.grandTotal = "1234.5";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::f_count), 1234u);
  EXPECT_EQ(ch.get(F::f_c_mil), 50u);
  // Beyond the 32-bit range of hundredths the whole part must still come out right.
  f.grandTotal = "4000000000.99";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::f_count), 4000000000u);
  EXPECT_EQ(ch.get(F::f_c_mil), 99u);
  EXPECT_EQ(channelFormFromRecords(ch, m).grandTotal, "4000000000.99");
}

TEST(ChannelFormNumbers, HundredthsAreCutNotRoundedAndKeepTheirWidth) {
  ChannelForm f;
  ChannelRecord ch;
  MeterRecord m;
  f.loadVol = "12.3";
  f.setVol = "12.345";
  f.price = "45,6";
  f.volStart = "700.01";   // 70001 does not fit 16 bits
  f.sCount = "42949672.95";  // the largest 32-bit count of hundredths
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::load_vol_hi), 1230u);
  EXPECT_EQ(ch.get(F::set_vol), 1234u);
  EXPECT_EQ(ch.get(F::price), 4560u);
  EXPECT_EQ(ch.get(F::vol_start), 70001u & 0xFFFF);
  EXPECT_EQ(ch.bytes[46], 0);  // the neighbour d_count is not overwritten
  EXPECT_EQ(ch.get(F::s_count), 4294967295u);
  ChannelForm back = channelFormFromRecords(ch, m);
  EXPECT_EQ(back.loadVol, "12.30");
  EXPECT_EQ(back.setVol, "12.34");
  EXPECT_EQ(back.sCount, "42949672.95");
  EXPECT_EQ(back.volStart, "44.65");
}

TEST(ChannelFormNumbers, CompanionWordsAreHex) {
  ChannelForm f;
  ChannelRecord ch;
  MeterRecord m;
  f.loadVolLo = "0x";
  f.kVolLo = "0xDEADbeef";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(ch.get(F::load_vol_lo), 0u);
  EXPECT_EQ(ch.get(F::k_vol_lo), 0xDEADBEEFu);
  ChannelForm back = channelFormFromRecords(ch, m);
  EXPECT_EQ(back.loadVolLo, "0x00000000");
  EXPECT_EQ(back.kVolLo, "0xDEADBEEF");
  EXPECT_EQ(readHexField("0x12zz"), 0x12u);
  EXPECT_EQ(readHexField(""), 0u);
  EXPECT_EQ(readHexField("ff"), 0xFFu);  // typed without the prefix: still hexadecimal
}

TEST(ChannelFormMeter, TypeIsDoubledAndWeightHasFortyBits) {
  ChannelForm f;
  ChannelRecord ch;
  MeterRecord m;
  f.meterType = "7";
  f.impulseWeight = "0x0100000001";
  f.calCount = "321";
  f.phase = 2;
  ChannelForm back = roundTrip(f, &ch, &m);
  EXPECT_EQ(m.typeWord(), 14);
  EXPECT_EQ(m.bytes[11], 1);
  EXPECT_EQ(getU32(&m.bytes[0]), 1u);
  EXPECT_EQ(m.calibrationCount(), 321);
  EXPECT_EQ(m.phase(), 2);
  for (int i : {4, 5, 6, 7, 14}) EXPECT_EQ(m.bytes[i], 0) << i;
  EXPECT_EQ(back.meterType, "7");
  EXPECT_EQ(back.impulseWeight, "0x0100000001");
  EXPECT_EQ(back.calCount, "321");
  EXPECT_EQ(back.phase, 2);

  f.phase = -1;
  f.impulseWeight = "0x7";  // stops after the high byte: the low word stays 0
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.phase(), kPhaseNone);
  EXPECT_EQ(m.impulseWeight(), uint64_t(7) << 32);
  EXPECT_EQ(channelFormFromRecords(ch, m).phase, -1);
  f.impulseWeight = "garbage";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.impulseWeight(), 0u);
}

TEST(ChannelFormMeter, TypeLeftAsShownKeepsItsWordAndWeightReadsWithoutPrefix) {
  ChannelRecord ch;
  MeterRecord m;
  m.setTypeWord(1583);   // odd word, as the Astra preset writes it
  m.setImpulseWeight((uint64_t(0x12) << 32) | 0x3456789Au);
  ChannelForm f = channelFormFromRecords(ch, m);
  EXPECT_EQ(f.meterType, "791");
  f.price = "45.60";
  channelFormToRecords(f, &ch, &m);   // m is the slot the form was filled from
  EXPECT_EQ(m.typeWord(), 1583u);
  EXPECT_EQ(ch.get(F::price), 4560u);
  f.meterType = "792";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.typeWord(), 1584u);
  MeterRecord fresh;   // from zeros the typed value is simply doubled
  f.meterType = "791";
  channelFormToRecords(f, &ch, &fresh);
  EXPECT_EQ(fresh.typeWord(), 1582u);

  // The weight typed without its "0x": two digits of byte 11, then the low word.
  f.impulseWeight = "123456789A";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.bytes[11], 0x12);
  EXPECT_EQ(getU32(&m.bytes[0]), 0x3456789Au);
  f.impulseWeight = "0X0100000002";
  channelFormToRecords(f, &ch, &m);
  EXPECT_EQ(m.impulseWeight(), (uint64_t(1) << 32) | 2u);
}

TEST(ChannelFormMeter, CollectStartsFromZeros) {
  ChannelRecord ch;
  MeterRecord m;
  ch.bytes.fill(0xAA);
  m.bytes.fill(0xAA);
  channelFormToRecords(ChannelForm{}, &ch, &m);
  EXPECT_EQ(ch.bytes[71], 0);
  EXPECT_EQ(m.bytes[14], 0);
  EXPECT_EQ(m.phase(), kPhaseNone);
}

TEST(ChannelSelector, EntriesAndAddressesForTheNozzleCount) {
  std::vector<std::string> e = channelSelectorEntries(2);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0], "Side A channel 1");
  EXPECT_EQ(e[1], "Side B channel 1");
  EXPECT_EQ(e[2], "Side A channel 2");
  EXPECT_EQ(e[3], "Side B channel 2");
  EXPECT_EQ(channelRecordAddress(3), 0x2300u);
  EXPECT_EQ(meterRecordAddress(3), 0x1300u);
  EXPECT_EQ(channelColumnName(0), "1A");
  EXPECT_EQ(channelColumnName(9), "5B");
}

TEST(ChannelSelector, OddNozzleCountsNeverNameChannelsOutsideTheTen) {
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
  ch.set(F::state, 43);
  ch.set(F::bit_status, 0x0088);
  ch.set(F::bit_status2, 0x3);
  ch.set(F::load_vol_lo, 0xAB);
  ch.set(F::load_vol_hi, 1205);
  ch.set(F::vol_start, 150);
  ch.set(F::f_count, 1234);
  ch.set(F::f_c_mil, 5);
  ch.set(F::m_count, 99);
  std::vector<std::string> c = channelTableColumn(ch);
  ASSERT_EQ(c.size(), size_t(kChannelFieldCount));
  EXPECT_EQ(c[0], "43");
  EXPECT_EQ(c[1], "$0088");
  EXPECT_EQ(c[2], "$0003");
  EXPECT_EQ(c[3], "$000000AB");
  EXPECT_EQ(c[4], "12.05");
  EXPECT_EQ(c[5], "$00000000");
  EXPECT_EQ(c[13], "1.50");
  EXPECT_EQ(c[15], "1234");
  EXPECT_EQ(c[16], "05");
  EXPECT_EQ(c[20], "0.99");
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
