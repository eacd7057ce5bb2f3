// Record layouts, the main and extra settings form codecs, their validation messages and
// focus targets, and the coupled-control rules.
#include <gtest/gtest.h>

#include "settings/channel_record.h"
#include "settings/settings_form.h"

namespace {

// A form that passes every check: two sides 1 and 2, two nozzles, AZT 1/2 and 3/4.
MainSettingsForm validForm() {
  MainSettingsForm f;
  f.choiceOf(MainControl::SideCount) = 1;
  f.choiceOf(MainControl::NozzleCount) = 1;
  f.textOf(MainControl::SideAAddress) = "1";
  f.textOf(MainControl::SideBAddress) = "2";
  f.aztA = {"1", "2", "", "", ""};
  f.aztB = {"3", "4", "", "", ""};
  f.textOf(MainControl::Satellite) = "";
  return f;
}

CollectResult collect(const MainSettingsForm& f, MainSettings* out = nullptr) {
  MainSettings tmp;
  return collectMainSettings(f, out ? out : &tmp);
}

}  // namespace

TEST(SettingsRecords, SizesOffsetsAndLittleEndianFields) {
  EXPECT_EQ(sizeof(MainSettings), 68u);
  EXPECT_EQ(sizeof(ExtraSettings), 60u);
  EXPECT_EQ(sizeof(SideData), 14u);
  EXPECT_EQ(sizeof(ChannelRecord), 72u);
  EXPECT_EQ(sizeof(MeterRecord), 15u);

  // Field tables cover the records without gaps or overlaps.
  size_t next = 0;
  for (size_t i = 0; i < kMainFieldCount; ++i) {
    EXPECT_EQ(kMainFields[i].offset, next) << kMainFields[i].name;
    next += kMainFields[i].width;
  }
  EXPECT_EQ(next, 68u);
  next = 0;
  for (size_t i = 0; i < kExtraFieldCount; ++i) {
    EXPECT_EQ(kExtraFields[i].offset, next) << kExtraFields[i].name;
    next += kExtraFields[i].width;
  }
  EXPECT_EQ(next, 60u);
  next = 0;
  for (const ChannelFieldDesc& d : kChannelFields) {
    EXPECT_EQ(d.offset, next) << d.name;
    next += d.width;
  }
  EXPECT_EQ(next, 71u);   // byte 71 is not a variable

  MainSettings m;
  m.set(ms::bmu_p_adm, 0x11223344);
  EXPECT_EQ(m.bytes[62], 0x44);
  EXPECT_EQ(m.bytes[65], 0x11);
  ChannelRecord c;
  c.set(ChannelField::f_count, 1234);
  c.set(ChannelField::f_c_mil, 5);
  EXPECT_EQ(c.bytes[50], 0xD2);
  EXPECT_EQ(c.bytes[51], 0x04);
  EXPECT_EQ(c.bytes[54], 5);
  MeterRecord mr;
  mr.setImpulseWeight(0x0100000001ull);
  EXPECT_EQ(mr.bytes[11], 1);
  EXPECT_EQ(mr.bytes[0], 1);
  EXPECT_DOUBLE_EQ(mr.coefficient(), 1.0 + 1.0 / 4294967296.0);
  EXPECT_EQ(channelRecordAddress(3), 0x2300u);
  EXPECT_EQ(meterRecordAddress(3), 0x1300u);

  PasswordStatus ps;
  ps.bytes[0] = 0x03;
  ps.bytes[1] = 0x07;
  EXPECT_STREQ(passwordView(ps, false).text, "Locked");
  EXPECT_EQ(passwordView(ps, false).colour, kColourLocked);
  EXPECT_STREQ(passwordView(ps, true).text, "****");
  EXPECT_EQ(passwordView(ps, true).colour, kColourNormal);
  // The red colour follows the lock bits alone, also when no password is set.
  ps.bytes[0] = 0x00;
  EXPECT_STREQ(passwordView(ps, false).text, "Not set");
  EXPECT_EQ(passwordView(ps, false).colour, kColourLocked);
  ps.bytes[1] = 0x38;   // calibration entry locked, admin entry free
  EXPECT_STREQ(passwordView(ps, true).text, "Not set");
  EXPECT_EQ(passwordView(ps, true).colour, kColourLocked);
  EXPECT_EQ(passwordView(ps, false).colour, kColourNormal);
  ps.bytes[0] = 0x02;
  EXPECT_STREQ(passwordView(ps, true).text, "Locked");
  ps.bytes[1] = 0x18;   // two of the three lock bits: not locked
  EXPECT_STREQ(passwordView(ps, true).text, "****");
  EXPECT_EQ(passwordView(ps, true).colour, kColourNormal);
}

TEST(MainSettingsCollect, SideAddressChecksAndFocus) {
  MainSettingsForm f = validForm();
  f.choiceOf(MainControl::SideCount) = 0;   // one side
  f.textOf(MainControl::SideAAddress) = "5";
  f.textOf(MainControl::SideBAddress) = "9";
  MainSettings r;
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::side_addr0), 5u);
  EXPECT_EQ(r.get(ms::side_addr1), 0u);
  EXPECT_EQ(r.get(ms::rec_tag), 0x22u);

  f.textOf(MainControl::SideAAddress) = "";   // empty counts as 0
  CollectResult c = collect(f);
  EXPECT_FALSE(c.ok);
  EXPECT_STREQ(c.message, "Side addresses must not be the same");
  EXPECT_EQ(c.focus, MainControl::SideBAddress);

  f.textOf(MainControl::SideAAddress) = "33";
  c = collect(f);
  EXPECT_STREQ(c.message, "Side addresses must be 1..0x20");
  EXPECT_EQ(c.focus, MainControl::SideAAddress);

  f = validForm();
  f.textOf(MainControl::SideAAddress) = "3";
  f.textOf(MainControl::SideBAddress) = "3";
  c = collect(f);
  EXPECT_STREQ(c.message, "Side addresses must not be the same");
  EXPECT_EQ(c.focus, MainControl::SideBAddress);

  f.textOf(MainControl::SideAAddress) = "33";   // 0x21
  f.textOf(MainControl::SideBAddress) = "2";
  c = collect(f);
  EXPECT_STREQ(c.message, "Side addresses must be 1..0x20");
  EXPECT_EQ(c.focus, MainControl::SideAAddress);

  f.textOf(MainControl::SideAAddress) = "2";
  f.textOf(MainControl::SideBAddress) = "0";
  c = collect(f);
  EXPECT_STREQ(c.message, "Side addresses must be 1..0x20");
  EXPECT_EQ(c.focus, MainControl::SideBAddress);

  // No side choice behaves like two sides for the addresses.
  f = validForm();
  f.choiceOf(MainControl::SideCount) = -1;
  f.textOf(MainControl::SideBAddress) = "1";
  EXPECT_EQ(collect(f).focus, MainControl::SideBAddress);
}

TEST(MainSettingsCollect, AztRangesOverlapAndTheNoAddressMarker) {
  MainSettingsForm f = validForm();
  f.aztA = {"10", "11", "", "", ""};
  f.aztB = {"12", "10", "", "", ""};
  CollectResult c = collect(f);
  EXPECT_STREQ(c.message, "AZT addresses overlap");

  f = validForm();
  f.choiceOf(MainControl::SideCount) = 0;
  f.choiceOf(MainControl::NozzleCount) = 3;
  f.aztA = {"1", "2", "3", "4", ""};
  f.aztB = {"1", "1", "1", "1", ""};   // side B is not looked at with one side
  MainSettings r;
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.bytes[11], 1);
  EXPECT_EQ(r.bytes[12], 0);
  EXPECT_EQ(r.bytes[17], 4);

  f = validForm();
  f.aztA[1] = "211";
  c = collect(f);
  EXPECT_STREQ(c.message, "AZT addresses must be 1..210");
  EXPECT_EQ(c.focus, MainControl::AztSideA);
  f = validForm();
  f.aztB[0] = "0";
  c = collect(f);
  EXPECT_EQ(c.focus, MainControl::AztSideB);

  // 65535 on side B is accepted and stored as 0xFF; two of them are not an overlap.
  f = validForm();
  f.aztB = {"65535", "65535", "", "", ""};
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.bytes[12], 0xFF);
  EXPECT_EQ(r.bytes[14], 0xFF);
  f.aztA[0] = "65535";   // but not on side A
  EXPECT_EQ(collect(f).focus, MainControl::AztSideA);
  // The board's 0xFF comes back on display as 255; saving it again keeps the marker.
  f = validForm();
  f.aztB = {"255", "3", "", "", ""};
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.bytes[12], 0xFF);
  EXPECT_EQ(r.bytes[14], 3);
  MainSettingsForm shownAgain = validForm();
  displayMainSettings(r, &shownAgain);
  EXPECT_EQ(shownAgain.aztB[0], "255");
  MainSettings again;
  ASSERT_TRUE(collect(shownAgain, &again).ok);
  EXPECT_EQ(again, r);
  f.aztA[0] = "255";   // side A has no such marker
  EXPECT_STREQ(collect(f).message, "AZT addresses must be 1..210");
  EXPECT_EQ(collect(f).focus, MainControl::AztSideA);
  // The overlap check comes after the range checks and spans both sides.
  f = validForm();
  f.aztA = {"7", "8", "", "", ""};
  f.aztB = {"9", "7", "", "", ""};
  EXPECT_STREQ(collect(f).message, "AZT addresses overlap");
  f.aztB = {"9", "211", "", "", ""};
  EXPECT_STREQ(collect(f).message, "AZT addresses must be 1..210");

  // No nozzle choice: nothing read or checked; the record carries noz_count 0.
  f = validForm();
  f.choiceOf(MainControl::NozzleCount) = -1;
  f.aztA = {"0", "0", "", "", ""};
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::noz_count), 0u);
}

TEST(MainSettingsCollect, SatellitePacking) {
  MainSettingsForm f = validForm();
  MainSettings r;
  f.textOf(MainControl::Satellite) = "1\n2\n15 - not assigned\n15 - not assigned\n";
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::sat_channel), 0xFF21u);

  f.textOf(MainControl::Satellite) = "1\n1\n15\n15\n";
  EXPECT_STREQ(collect(f).message, "Satellite channels overlap");
  EXPECT_EQ(collect(f).focus, MainControl::Satellite);

  f.textOf(MainControl::Satellite) = "15\n15\n15\n15\n";
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::sat_channel), 0xFFFFu);

  f.textOf(MainControl::Satellite) = "";
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::sat_channel), 0xFFFFu);

  f.textOf(MainControl::Satellite) = "1\n2";   // entries 3 and 4 are both 0
  EXPECT_STREQ(collect(f).message, "Satellite channels overlap");

  // The last line without a newline still counts; text after the fourth entry is ignored.
  f.textOf(MainControl::Satellite) = "3\n4\n5\n6\n7\n";
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::sat_channel), 0x6543u);
  f.textOf(MainControl::Satellite) = "3x9\n4\n5\n6";
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::sat_channel), 0x6543u);

  // An entry above 15 would spill into its neighbour's nibble: refused, never packed.
  f.textOf(MainControl::Satellite) = "16\n2\n3\n4\n";
  EXPECT_STREQ(collect(f).message, "Satellite channels must be 0..15");
  f.textOf(MainControl::Satellite) = "1\n2\n3\n99999999999999999999\n";
  EXPECT_STREQ(collect(f).message, "Satellite channels must be 0..15");

  EXPECT_EQ(satelliteText(0xFF21, "15 - not assigned\n"), "1\n2\n15 - not assigned\n15 - not assigned\n");
}

TEST(MainSettingsCollect, TokheimRules) {
  MainSettingsForm f = validForm();
  f.choiceOf(MainControl::NozzleCount) = 2;   // 3 nozzles
  f.aztA = {"1", "2", "3", "", ""};
  f.aztB = {"4", "5", "6", "", ""};
  f.modes2[2] = true;
  EXPECT_STREQ(collect(f).message, "Must be 2 nozzles set for fast Tokheim");
  f.modes2[2] = false;
  f.modes2[7] = true;
  EXPECT_STREQ(collect(f).message, "Must be 2 nozzles set for fast Tokheim");
  f.modes2[7] = false;
  f.modes2[9] = true;
  EXPECT_TRUE(collect(f).ok);
  f.choiceOf(MainControl::NozzleCount) = 0;
  f.aztA = {"1", "", "", "", ""};
  f.aztB = {"4", "", "", "", ""};
  EXPECT_STREQ(collect(f).message, "Must be 2 or more nozzles set for mixed Tokheim");

  std::array<bool, 11> m2{};
  m2[7] = m2[9] = true;
  applyExclusiveOptions(&m2);
  EXPECT_TRUE(m2[7] && m2[9]);   // independent while "Fast tokheim" is off
  m2[2] = true;
  applyExclusiveOptions(&m2);
  EXPECT_FALSE(m2[7] || m2[9]);
  EXPECT_TRUE(m2[2]);
}

TEST(MainSettingsCodec, DivisorsChoicesAndDotFlags) {
  MainSettingsForm f = validForm();
  f.textOf(MainControl::SlowStart) = "25500";
  f.textOf(MainControl::OverfillBuffer) = "2540";
  f.textOf(MainControl::NozzleFat) = "305";
  f.textOf(MainControl::MinVolumeSet) = "199";
  f.textOf(MainControl::PhaseTimeout) = "300";   // low 8 bits
  f.textOf(MainControl::BmuUser2) = "4000000000";
  f.textOf(MainControl::ShiftPriceLeft) = "13";  // masked with 7
  f.choiceOf(MainControl::PrimaryChannel) = 3;
  f.choiceOf(MainControl::DisplayA) = 17;
  f.onOf(MainControl::PriceDotXXXY) = true;
  f.onOf(MainControl::VolumeDot) = true;
  f.modes[15] = f.modes[0] = true;
  MainSettings r;
  ASSERT_TRUE(collect(f, &r).ok);
  EXPECT_EQ(r.get(ms::slow_start), 255u);
  EXPECT_EQ(r.get(ms::hydro_hit), 254u);
  EXPECT_EQ(r.get(ms::nozzle_fat), 30u);
  EXPECT_EQ(r.get(ms::min_vol), 1u);
  EXPECT_EQ(r.get(ms::met_timeout), 44u);
  EXPECT_EQ(r.get(ms::bmuUser(2)), 4000000000u);
  EXPECT_EQ(r.get(ms::pc_baud), 384u);
  EXPECT_EQ(r.get(ms::per_baud), 0u);
  EXPECT_EQ(r.get(ms::tbl_type0), 17u);
  EXPECT_EQ(r.get(ms::tbl_type1), 0xFFu);
  EXPECT_EQ(r.get(ms::tbl_dot_flags), (5u << 3) | 0x4u | 0x40u);
  EXPECT_EQ(r.get(ms::trk_modes), 0x8001u);

  MainSettingsForm shown;
  shown.choiceOf(MainControl::Peripherals) = 2;
  shown.choiceOf(MainControl::DisplayB) = 4;
  displayMainSettings(r, &shown);
  EXPECT_EQ(shown.textOf(MainControl::SlowStart), "25500");
  EXPECT_TRUE(shown.onOf(MainControl::ImmediateStart));
  EXPECT_FALSE(shown.onOf(MainControl::Start20ml));
  EXPECT_TRUE(shown.onOf(MainControl::Count3Seconds));
  EXPECT_EQ(shown.textOf(MainControl::NozzleFat), "300");
  EXPECT_EQ(shown.choiceOf(MainControl::PrimaryChannel), 3);
  EXPECT_EQ(shown.choiceOf(MainControl::Peripherals), 2);   // code 0: unchanged
  EXPECT_EQ(shown.choiceOf(MainControl::DisplayB), 4);      // 0xFF: unchanged
  EXPECT_EQ(shown.choiceOf(MainControl::SideCount), 1);
  EXPECT_TRUE(shown.onOf(MainControl::PriceDotXXXY));
  EXPECT_FALSE(shown.onOf(MainControl::PriceDotXXYY));
  EXPECT_EQ(shown.textOf(MainControl::ShiftPriceLeft), "5");
  EXPECT_EQ(shown.aztA[1], "2");
  EXPECT_EQ(shown.aztB[1], "4");
  EXPECT_EQ(shown.aztA[2], "");
  EXPECT_TRUE(shown.modes[15]);

  // Round trip through a fresh form: collecting what was displayed gives the same record.
  MainSettingsForm fresh;
  displayMainSettings(r, &fresh);
  MainSettings again;
  ASSERT_TRUE(collect(fresh, &again).ok);
  EXPECT_EQ(again, r);
  // The kept choices are what the next collect takes (unchanged-choice rule).
  ASSERT_TRUE(collect(shown, &again).ok);
  EXPECT_EQ(again.get(ms::per_baud), 192u);

  // noz_count 0 clears the nozzle choice; 7 (beyond the list) leaves it unchanged.
  MainSettings z = r;
  z.set(ms::noz_count, 0);
  z.set(ms::tbl_dot_flags, 0x6);   // both dot bits: shown as XX.YY
  displayMainSettings(z, &shown);
  EXPECT_EQ(shown.choiceOf(MainControl::NozzleCount), -1);
  EXPECT_TRUE(shown.onOf(MainControl::PriceDotXXYY));
  shown.choiceOf(MainControl::NozzleCount) = 3;
  z.set(ms::noz_count, 7);
  displayMainSettings(z, &shown);
  EXPECT_EQ(shown.choiceOf(MainControl::NozzleCount), 3);
  EXPECT_EQ(shown.aztA[4], "0");   // all five columns shown, none beyond the table
}

TEST(MainSettingsCodec, CoupledControls) {
  MainSettingsForm f;
  f.onOf(MainControl::Start20ml) = true;
  onImmediateStartChosen(&f);
  EXPECT_EQ(f.textOf(MainControl::SlowStart), "25500");
  // The two radio buttons share a group, so choosing one leaves its partner off.
  EXPECT_TRUE(f.onOf(MainControl::ImmediateStart));
  EXPECT_FALSE(f.onOf(MainControl::Start20ml));
  f.textOf(MainControl::SlowStart) = "100";
  onSlowStartEdited(&f);
  EXPECT_FALSE(f.onOf(MainControl::ImmediateStart) || f.onOf(MainControl::Start20ml));
  f.textOf(MainControl::SlowStart) = "0";
  onSlowStartEdited(&f);
  EXPECT_TRUE(f.onOf(MainControl::Start20ml));
  f.textOf(MainControl::SlowStart) = "25500";
  onSlowStartEdited(&f);
  EXPECT_TRUE(f.onOf(MainControl::ImmediateStart));
  EXPECT_FALSE(f.onOf(MainControl::Start20ml));
  onStart20mlChosen(&f);
  EXPECT_EQ(f.textOf(MainControl::SlowStart), "0");

  onNoCountingChosen(&f);
  EXPECT_EQ(f.textOf(MainControl::OverfillBuffer), "2550");
  onCount3SecondsChosen(&f);
  EXPECT_EQ(f.textOf(MainControl::OverfillBuffer), "2540");
  EXPECT_TRUE(f.onOf(MainControl::Count3Seconds));
  EXPECT_FALSE(f.onOf(MainControl::NoCounting));
  MainSettings r;
  MainSettingsForm valid = validForm();
  valid.textOf(MainControl::OverfillBuffer) = f.textOf(MainControl::OverfillBuffer);
  ASSERT_TRUE(collect(valid, &r).ok);
  EXPECT_EQ(r.get(ms::hydro_hit), 254u);
  f.textOf(MainControl::OverfillBuffer) = "2550";
  onOverfillBufferEdited(&f);
  EXPECT_TRUE(f.onOf(MainControl::NoCounting));
  EXPECT_FALSE(f.onOf(MainControl::Count3Seconds));
  f.textOf(MainControl::OverfillBuffer) = "12";
  onOverfillBufferEdited(&f);
  EXPECT_FALSE(f.onOf(MainControl::NoCounting) || f.onOf(MainControl::Count3Seconds));
}

TEST(ExtraSettingsCodec, TenthsHexDensityHeaterAndAddresses) {
  ExtraSettingsForm f;
  f.textOf(ExtraControl::PressureOffset4mA) = "0x1A2";
  f.textOf(ExtraControl::PressureOffset20mA) = "0";       // shorter than its prefix
  f.textOf(ExtraControl::ManualDensity) = "0.7500";
  f.textOf(ExtraControl::HeaterOnTemp) = "-5.5";
  f.textOf(ExtraControl::HeaterOffTemp) = "12.34";
  f.textOf(ExtraControl::FailPressure) = "2.3";          // exact: 23, not 22
  f.textOf(ExtraControl::Line1MinFlowTimeout) = "30";    // 300 -> low 8 bits
  f.textOf(ExtraControl::TcpIp) = "192.168.0.300";
  f.textOf(ExtraControl::TcpSubnet) = "255.255";
  f.textOf(ExtraControl::DensityMultiplier) = "4294967295";
  f.textOf(ExtraControl::FinalPressureTimeout) = "0";
  f.textOf(ExtraControl::FinalPressureMeasureTime) = "16";
  f.massFlags[0] = f.massFlags[7] = true;
  ExtraSettings base;
  base.set(es::smart_fill_pressure, 77);
  base.bytes[54] = 0xAB;
  ExtraSettings r = collectExtraSettings(base, f);
  EXPECT_EQ(r.get(es::pressure_offset), 0x01A2u);
  EXPECT_EQ(r.get(es::pressure_top), 0u);
  EXPECT_EQ(r.get(es::density_manual), 7500u);
  EXPECT_EQ(static_cast<int16_t>(r.get(es::heat_on_temp)), -55);
  EXPECT_EQ(r.get(es::heat_off_temp), 123u);
  EXPECT_EQ(r.get(es::fail_pressure), 23u);
  EXPECT_EQ(r.bytes[37], 300 & 0xFF);
  EXPECT_EQ(r.bytes[40], 192);
  EXPECT_EQ(r.bytes[43], 300 & 0xFF);
  EXPECT_EQ(r.bytes[44], 255);
  EXPECT_EQ(r.bytes[46], 0);       // octets not given are 0
  EXPECT_EQ(r.get(es::dens_mult), 4294967295u);
  EXPECT_EQ(r.get(es::smart_fill_tmt), 3u | (1u << 4));
  EXPECT_EQ(r.get(es::mass_flags), 0x81u | (7u << 13));   // no type chosen: 7
  EXPECT_EQ(r.get(es::smart_fill_pressure), 77u);         // no control: kept
  EXPECT_EQ(r.bytes[54], 0xAB);

  ExtraSettingsForm shown;
  shown.massmeterType = 2;
  const uint16_t raw[2] = {0x1234, 0xFFF0};
  displayExtraSettings(r, raw, &shown);
  EXPECT_EQ(shown.textOf(ExtraControl::PressureOffset4mA), "0x1A2");
  EXPECT_EQ(shown.textOf(ExtraControl::ManualDensity), "0.7500");
  EXPECT_EQ(shown.textOf(ExtraControl::HeaterOnTemp), "-5.5");
  EXPECT_EQ(shown.textOf(ExtraControl::FailPressure), "2.3");
  EXPECT_EQ(shown.textOf(ExtraControl::TcpIp), "192.168.0.44");
  EXPECT_EQ(shown.textOf(ExtraControl::PressureDebug), "0x123, 0xFFF");
  EXPECT_EQ(shown.massmeterType, 2);   // 7 leaves the choice unchanged
  EXPECT_TRUE(shown.massFlags[7]);

  // Collecting what a fresh form displayed changes nothing: "No values changed".
  ExtraSettingsForm fresh;
  displayExtraSettings(r, nullptr, &fresh);
  EXPECT_EQ(collectExtraSettings(r, fresh), r);
  shown.massmeterType = 1;
  EXPECT_EQ(collectExtraSettings(r, shown).get(es::mass_flags) >> 13, 1u);

  // Pressure offsets: hexadecimal with or without the prefix, kept to 16 bits.
  ExtraSettingsForm hex = fresh;
  hex.textOf(ExtraControl::PressureOffset4mA) = "CB2";
  hex.textOf(ExtraControl::PressureOffset20mA) = "0x12345";
  const ExtraSettings h = collectExtraSettings(r, hex);
  EXPECT_EQ(h.get(es::pressure_offset), 0x0CB2u);
  EXPECT_EQ(h.get(es::pressure_top), 0x2345u);
  EXPECT_EQ(h.bytes[22], 0xB2);
  EXPECT_EQ(h.bytes[23], 0x0C);
}

TEST(NumberReaders, NeverReadPastTheTextAndSaturate) {
  EXPECT_EQ(parseHexAfterPrefix(""), 0u);
  EXPECT_EQ(parseHexAfterPrefix("0x"), 0u);
  EXPECT_EQ(parseHexAfterPrefix("0xfFz1"), 0xFFu);
  // Without the prefix the digits are still hexadecimal, read from the start.
  EXPECT_EQ(parseHexAfterPrefix("1A2"), 0x1A2u);
  EXPECT_EQ(parseHexAfterPrefix("0X1a2"), 0x1A2u);
  EXPECT_EQ(parseHexAfterPrefix("0"), 0u);
  EXPECT_EQ(parseHexAfterPrefix("zz"), 0u);
  EXPECT_EQ(parseLeadingInt("  -12abc"), -12);
  EXPECT_EQ(parseLeadingInt("abc"), 0);
  EXPECT_GT(parseLeadingInt(std::string(400, '9')), 0);   // no overflow
  EXPECT_EQ(parseUnsigned("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(parseScaledDecimal("12.345", 2), 1234);
  EXPECT_EQ(parseScaledDecimal("-0.05", 1), 0);
  EXPECT_EQ(parseScaledDecimal("7", 1), 70);
}
