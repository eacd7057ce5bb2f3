// Record layouts, the main and extra settings form codecs, their validation messages and
// focus targets, and the coupled-control rules.
#include <gtest/gtest.h>

#include <functional>

#include "settings/channel_record.h"
#include "settings/settings_form.h"

namespace {

using MC = MainControl;
using EC = ExtraControl;

// A form that passes every check: two sides 1 and 2, two nozzles, AZT 1/2 and 3/4.
MainSettingsForm validForm() {
  MainSettingsForm f;
  f.choiceOf(MC::SideCount) = 1;
  f.choiceOf(MC::NozzleCount) = 1;
  f.textOf(MC::SideAAddress) = "1";
  f.textOf(MC::SideBAddress) = "2";
  f.aztA = {"1", "2", "", "", ""};
  f.aztB = {"3", "4", "", "", ""};
  return f;
}

CollectResult collect(const MainSettingsForm& f, MainSettings* out = nullptr) {
  MainSettings tmp;
  return collectMainSettings(f, out ? out : &tmp);
}

// The valid form with one change collected: ok, or the message and the focus it names.
MainSettings collectChanged(const std::function<void(MainSettingsForm&)>& change) {
  MainSettingsForm f = validForm();
  change(f);
  MainSettings r;
  const CollectResult c = collect(f, &r);
  EXPECT_TRUE(c.ok) << c.message;
  return r;
}

}  // namespace

TEST(SettingsRecords, SizesFieldTablesLittleEndianFieldsAndPasswordStates) {
  EXPECT_EQ(sizeof(MainSettings), 68u);
  EXPECT_EQ(sizeof(ExtraSettings), 60u);
  EXPECT_EQ(sizeof(SideData), 14u);
  EXPECT_EQ(sizeof(ChannelRecord), 72u);
  EXPECT_EQ(sizeof(MeterRecord), 15u);
  // Field tables cover the records without gaps or overlaps (byte 71 of a channel is no variable).
  auto covered = [](const auto* fields, size_t count) {
    size_t next = 0;
    for (size_t i = 0; i < count; ++i) {
      EXPECT_EQ(fields[i].offset, next) << fields[i].name;
      next += fields[i].width;
    }
    return next;
  };
  EXPECT_EQ(covered(kMainFields, kMainFieldCount), 68u);
  EXPECT_EQ(covered(kExtraFields, kExtraFieldCount), 60u);
  EXPECT_EQ(covered(kChannelFields.data(), kChannelFields.size()), 71u);

  MainSettings m;
  m.set(ms::bmu_p_adm, 0x11223344);
  EXPECT_EQ(m.bytes[62], 0x44);
  EXPECT_EQ(m.bytes[65], 0x11);
  ChannelRecord c;
  c.set(ChannelField::f_count, 1234);
  c.set(ChannelField::f_c_mil, 5);
  EXPECT_EQ((std::vector<uint8_t>{c.bytes[50], c.bytes[51], c.bytes[54]}),
            (std::vector<uint8_t>{0xD2, 0x04, 5}));
  MeterRecord mr;
  mr.setImpulseWeight(0x0100000001ull);
  EXPECT_EQ(mr.bytes[11], 1);
  EXPECT_EQ(mr.bytes[0], 1);
  EXPECT_DOUBLE_EQ(mr.coefficient(), 1.0 + 1.0 / 4294967296.0);
  EXPECT_EQ(channelRecordAddress(3), 0x2300u);
  EXPECT_EQ(meterRecordAddress(3), 0x1300u);

  // The lock mark follows the lock bits alone (all three), also when no password is set.
  struct Case {
    uint8_t set, locks;
    bool calibration;
    const char* text;
    bool locked;
  };
  for (const Case& k :
       {Case{0x03, 0x07, false, "Locked", true}, Case{0x03, 0x07, true, "****", false},
        Case{0x00, 0x07, false, "Not set", true}, Case{0x00, 0x38, true, "Not set", true},
        Case{0x00, 0x38, false, "Not set", false}, Case{0x02, 0x38, true, "Locked", true},
        Case{0x02, 0x18, true, "****", false}}) {
    PasswordStatus ps;
    ps.bytes[0] = k.set;
    ps.bytes[1] = k.locks;
    SCOPED_TRACE(testing::Message()
                 << int(k.set) << "/" << int(k.locks) << " calibration " << k.calibration);
    EXPECT_STREQ(passwordView(ps, k.calibration).text, k.text);
    EXPECT_EQ(passwordView(ps, k.calibration).locked, k.locked);
  }
}

TEST(MainSettingsCollect, EachFailingCheckNamesItsMessageAndFocus) {
  struct Case {
    const char* what;
    std::function<void(MainSettingsForm&)> change;
    const char* message;
    MC focus;
  };
  auto sides = [](const char* a, const char* b) {
    return [=](MainSettingsForm& f) {
      f.textOf(MC::SideAAddress) = a, f.textOf(MC::SideBAddress) = b;
    };
  };
  const Case cases[] = {
      {"equal sides", sides("3", "3"), "Side addresses must not be the same", MC::SideBAddress},
      {"one side: empty side A counts as 0 like side B",
       [](MainSettingsForm& f) {
         f.choiceOf(MC::SideCount) = 0, f.textOf(MC::SideAAddress) = "",
         f.textOf(MC::SideBAddress) = "9";
       },
       "Side addresses must not be the same", MC::SideBAddress},
      {"side A 0x21", sides("33", "2"), "Side addresses must be 1..0x20", MC::SideAAddress},
      {"side B 0", sides("2", "0"), "Side addresses must be 1..0x20", MC::SideBAddress},
      {"one side: side A still checked",
       [](MainSettingsForm& f) {
         f.choiceOf(MC::SideCount) = 0, f.textOf(MC::SideAAddress) = "33";
       },
       "Side addresses must be 1..0x20", MC::SideAAddress},
      {"no side choice checks side B like two sides",
       [](MainSettingsForm& f) {
         f.choiceOf(MC::SideCount) = -1, f.textOf(MC::SideBAddress) = "1";
       },
       "Side addresses must not be the same", MC::SideBAddress},
      {"AZT A 211", [](MainSettingsForm& f) { f.aztA[1] = "211"; }, "AZT addresses must be 1..210",
       MC::AztSideA},
      {"AZT B 0", [](MainSettingsForm& f) { f.aztB[0] = "0"; }, "AZT addresses must be 1..210",
       MC::AztSideB},
      {"65535 only marks side B", [](MainSettingsForm& f) { f.aztA[0] = "65535"; },
       "AZT addresses must be 1..210", MC::AztSideA},
      {"255 only marks side B", [](MainSettingsForm& f) { f.aztA[0] = "255"; },
       "AZT addresses must be 1..210", MC::AztSideA},
      {"AZT overlap across sides",
       [](MainSettingsForm& f) {
         f.aztA = {"10", "11"}, f.aztB = {"12", "10"};
       },
       "AZT addresses overlap", MC::NoControl},
      {"range checked before overlap",
       [](MainSettingsForm& f) {
         f.aztA = {"7", "8"}, f.aztB = {"7", "211"};
       },
       "AZT addresses must be 1..210", MC::AztSideB},
      {"satellite overlap", [](MainSettingsForm& f) { f.textOf(MC::Satellite) = "1\n1\n15\n15\n"; },
       "Satellite channels overlap", MC::Satellite},
      {"satellite entries 3 and 4 both 0",
       [](MainSettingsForm& f) { f.textOf(MC::Satellite) = "1\n2"; }, "Satellite channels overlap",
       MC::Satellite},
      // An entry above 15 would spill into its neighbour's nibble: refused, never packed.
      {"satellite 16", [](MainSettingsForm& f) { f.textOf(MC::Satellite) = "16\n2\n3\n4\n"; },
       "Satellite channels must be 0..15", MC::Satellite},
      {"satellite huge",
       [](MainSettingsForm& f) { f.textOf(MC::Satellite) = "1\n2\n3\n99999999999999999999\n"; },
       "Satellite channels must be 0..15", MC::Satellite},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    MainSettingsForm f = validForm();
    k.change(f);
    const CollectResult c = collect(f);
    EXPECT_FALSE(c.ok);
    EXPECT_STREQ(c.message, k.message);
    if (k.focus != MC::NoControl) {
      EXPECT_EQ(c.focus, k.focus);
    }
  }
}

TEST(MainSettingsCollect, SideAddressesAztEntriesAndTheNoAddressMarker) {
  MainSettings r = collectChanged([](MainSettingsForm& f) {
    f.choiceOf(MC::SideCount) = 0;  // one side: side B is neither stored nor looked at
    f.textOf(MC::SideAAddress) = "5";
    f.textOf(MC::SideBAddress) = "9";
    f.choiceOf(MC::NozzleCount) = 3;
    f.aztA = {"1", "2", "3", "4", ""};
    f.aztB = {"1", "1", "1", "1", ""};
  });
  EXPECT_EQ(r.get(ms::side_addr0), 5u);
  EXPECT_EQ(r.get(ms::side_addr1), 0u);
  EXPECT_EQ(r.get(ms::rec_tag), 0x22u);
  EXPECT_EQ((std::vector<uint8_t>{r.bytes[11], r.bytes[12], r.bytes[17]}),
            (std::vector<uint8_t>{1, 0, 4}));

  // 65535 on side B is stored as 0xFF; two of them are not an overlap.
  r = collectChanged([](MainSettingsForm& f) { f.aztB = {"65535", "65535", "", "", ""}; });
  EXPECT_EQ(r.bytes[12], 0xFF);
  EXPECT_EQ(r.bytes[14], 0xFF);
  // The board's 0xFF comes back on display as 255; saving it again keeps the marker.
  r = collectChanged([](MainSettingsForm& f) { f.aztB = {"255", "3", "", "", ""}; });
  EXPECT_EQ(r.bytes[12], 0xFF);
  EXPECT_EQ(r.bytes[14], 3);
  MainSettingsForm shownAgain = validForm();
  displayMainSettings(r, &shownAgain);
  EXPECT_EQ(shownAgain.aztB[0], "255");
  MainSettings again;
  ASSERT_TRUE(collect(shownAgain, &again).ok);
  EXPECT_EQ(again, r);

  // No nozzle choice: nothing read or checked; the record carries noz_count 0.
  r = collectChanged([](MainSettingsForm& f) {
    f.choiceOf(MC::NozzleCount) = -1, f.aztA = {"0", "0"};
  });
  EXPECT_EQ(r.get(ms::noz_count), 0u);
}

TEST(MainSettingsCollect, SatellitePacking) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"1\n2\n15 - not assigned\n15 - not assigned\n", 0xFF21u},
      {"15\n15\n15\n15\n", 0xFFFFu},
      {"", 0xFFFFu},
      {"3\n4\n5\n6\n7\n", 0x6543u},  // text after the fourth entry is ignored
      {"3x9\n4\n5\n6", 0x6543u},     // the last line without a newline still counts
  };
  for (const auto& c : cases)
    EXPECT_EQ(collectChanged([&](MainSettingsForm& f) {
                f.textOf(MC::Satellite) = c.first;
              }).get(ms::sat_channel),
              c.second)
        << c.first;
  EXPECT_EQ(satelliteText(0xFF21, "15 - not assigned\n"),
            "1\n2\n15 - not assigned\n15 - not assigned\n");
}

TEST(MainSettingsCollect, TokheimRules) {
  MainSettingsForm f = validForm();
  f.choiceOf(MC::NozzleCount) = 2;  // 3 nozzles
  f.aztA = {"1", "2", "3", "", ""};
  f.aztB = {"4", "5", "6", "", ""};
  for (int option : {2, 7}) {
    f.modes2 = {};
    f.modes2[option] = true;
    EXPECT_STREQ(collect(f).message, "Must be 2 nozzles set for fast Tokheim") << option;
  }
  f.modes2 = {};
  f.modes2[9] = true;
  EXPECT_TRUE(collect(f).ok);
  f.choiceOf(MC::NozzleCount) = 0;
  f.aztA = {"1", "", "", "", ""};
  f.aztB = {"4", "", "", "", ""};
  EXPECT_STREQ(collect(f).message, "Must be 2 or more nozzles set for mixed Tokheim");

  std::array<bool, 11> m2{};
  m2[7] = m2[9] = true;
  applyExclusiveOptions(&m2);
  EXPECT_TRUE(m2[7] && m2[9]);  // independent while "Fast tokheim" is off
  m2[2] = true;
  applyExclusiveOptions(&m2);
  EXPECT_FALSE(m2[7] || m2[9]);
  EXPECT_TRUE(m2[2]);
}

TEST(MainSettingsCodec, DivisorsChoicesAndDotFlags) {
  MainSettingsForm f = validForm();
  f.textOf(MC::SlowStart) = "25500";
  f.textOf(MC::OverfillBuffer) = "2540";
  f.textOf(MC::NozzleFat) = "305";
  f.textOf(MC::MinVolumeSet) = "199";
  f.textOf(MC::PhaseTimeout) = "300";  // low 8 bits
  f.textOf(MC::BmuUser2) = "4000000000";
  f.textOf(MC::ShiftPriceLeft) = "13";  // masked with 7
  f.choiceOf(MC::PrimaryChannel) = 3;
  f.choiceOf(MC::DisplayA) = 17;
  f.onOf(MC::PriceDotXXXY) = true;
  f.onOf(MC::VolumeDot) = true;
  f.modes[15] = f.modes[0] = true;
  MainSettings r;
  ASSERT_TRUE(collect(f, &r).ok);
  const std::pair<FieldRef, uint32_t> stored[] = {{ms::slow_start, 255},
                                                  {ms::hydro_hit, 254},
                                                  {ms::nozzle_fat, 30},
                                                  {ms::min_vol, 1},
                                                  {ms::met_timeout, 44},
                                                  {ms::bmuUser(2), 4000000000u},
                                                  {ms::pc_baud, 384},
                                                  {ms::per_baud, 0},
                                                  {ms::tbl_type0, 17},
                                                  {ms::tbl_type1, 0xFF},
                                                  {ms::tbl_dot_flags, (5u << 3) | 0x4u | 0x40u},
                                                  {ms::trk_modes, 0x8001}};
  for (const auto& [field, value] : stored)
    EXPECT_EQ(r.get(field), value) << "offset " << field.offset;

  MainSettingsForm shown;
  shown.choiceOf(MC::Peripherals) = 2;
  shown.choiceOf(MC::DisplayB) = 4;
  displayMainSettings(r, &shown);
  EXPECT_EQ(shown.textOf(MC::SlowStart), "25500");
  EXPECT_TRUE(shown.onOf(MC::ImmediateStart));
  EXPECT_FALSE(shown.onOf(MC::Start20ml));
  EXPECT_TRUE(shown.onOf(MC::Count3Seconds));
  EXPECT_EQ(shown.textOf(MC::NozzleFat), "300");
  EXPECT_EQ(shown.choiceOf(MC::PrimaryChannel), 3);
  EXPECT_EQ(shown.choiceOf(MC::Peripherals), 2);  // code 0: unchanged
  EXPECT_EQ(shown.choiceOf(MC::DisplayB), 4);     // 0xFF: unchanged
  EXPECT_EQ(shown.choiceOf(MC::SideCount), 1);
  EXPECT_TRUE(shown.onOf(MC::PriceDotXXXY));
  EXPECT_FALSE(shown.onOf(MC::PriceDotXXYY));
  EXPECT_EQ(shown.textOf(MC::ShiftPriceLeft), "5");
  EXPECT_EQ((std::vector<std::string>{shown.aztA[1], shown.aztB[1], shown.aztA[2]}),
            (std::vector<std::string>{"2", "4", ""}));
  EXPECT_TRUE(shown.modes[15]);

  // Collecting what a fresh form displayed gives the same record; kept choices are collected.
  MainSettingsForm fresh;
  displayMainSettings(r, &fresh);
  MainSettings again;
  ASSERT_TRUE(collect(fresh, &again).ok);
  EXPECT_EQ(again, r);
  ASSERT_TRUE(collect(shown, &again).ok);
  EXPECT_EQ(again.get(ms::per_baud), 192u);

  // noz_count 0 clears the nozzle choice; 7 (beyond the list) leaves it unchanged.
  r.set(ms::noz_count, 0);
  r.set(ms::tbl_dot_flags, 0x6);  // both dot bits: shown as XX.YY
  displayMainSettings(r, &shown);
  EXPECT_EQ(shown.choiceOf(MC::NozzleCount), -1);
  EXPECT_TRUE(shown.onOf(MC::PriceDotXXYY));
  shown.choiceOf(MC::NozzleCount) = 3;
  r.set(ms::noz_count, 7);
  displayMainSettings(r, &shown);
  EXPECT_EQ(shown.choiceOf(MC::NozzleCount), 3);
  EXPECT_EQ(shown.aztA[4], "0");  // all five columns shown, none beyond the table
}

TEST(MainSettingsCodec, CoupledControls) {
  MainSettingsForm f;
  f.onOf(MC::Start20ml) = true;
  onImmediateStartChosen(&f);
  EXPECT_EQ(f.textOf(MC::SlowStart), "25500");
  // The two radio buttons share a group, so choosing one leaves its partner off.
  EXPECT_TRUE(f.onOf(MC::ImmediateStart));
  EXPECT_FALSE(f.onOf(MC::Start20ml));
  onStart20mlChosen(&f);
  EXPECT_EQ(f.textOf(MC::SlowStart), "0");
  onNoCountingChosen(&f);
  EXPECT_EQ(f.textOf(MC::OverfillBuffer), "2550");
  onCount3SecondsChosen(&f);
  EXPECT_EQ(f.textOf(MC::OverfillBuffer), "2540");
  EXPECT_TRUE(f.onOf(MC::Count3Seconds));
  EXPECT_FALSE(f.onOf(MC::NoCounting));
  EXPECT_EQ(collectChanged([](MainSettingsForm& v) {
              v.textOf(MC::OverfillBuffer) = "2540";
            }).get(ms::hydro_hit),
            254u);

  // Typed values move the radios: {slow start, immediate, 20 ml} and {overfill, none, 3 s}.
  struct Typed {
    MC input, first, second;
    void (*edited)(MainSettingsForm*);
    const char* text;
    bool firstOn, secondOn;
  };
  for (const Typed& t : {Typed{MC::SlowStart, MC::ImmediateStart, MC::Start20ml, onSlowStartEdited,
                               "100", false, false},
                         Typed{MC::SlowStart, MC::ImmediateStart, MC::Start20ml, onSlowStartEdited,
                               "0", false, true},
                         Typed{MC::SlowStart, MC::ImmediateStart, MC::Start20ml, onSlowStartEdited,
                               "25500", true, false},
                         Typed{MC::OverfillBuffer, MC::NoCounting, MC::Count3Seconds,
                               onOverfillBufferEdited, "2550", true, false},
                         Typed{MC::OverfillBuffer, MC::NoCounting, MC::Count3Seconds,
                               onOverfillBufferEdited, "12", false, false},
                         Typed{MC::OverfillBuffer, MC::NoCounting, MC::Count3Seconds,
                               onOverfillBufferEdited, "2540", false, true}}) {
    f.textOf(t.input) = t.text;
    t.edited(&f);
    EXPECT_EQ(f.onOf(t.first), t.firstOn) << t.text;
    EXPECT_EQ(f.onOf(t.second), t.secondOn) << t.text;
  }
}

TEST(ExtraSettingsCodec, TenthsHexDensityHeaterAndAddresses) {
  ExtraSettingsForm f;
  f.textOf(EC::PressureOffset4mA) = "0x1A2";
  f.textOf(EC::PressureOffset20mA) = "0";  // shorter than its prefix
  f.textOf(EC::ManualDensity) = "0.7500";
  f.textOf(EC::HeaterOnTemp) = "-5.5";
  f.textOf(EC::HeaterOffTemp) = "12.34";
  f.textOf(EC::FailPressure) = "2.3";        // exact: 23, not 22
  f.textOf(EC::Line1MinFlowTimeout) = "30";  // 300 -> low 8 bits
  f.textOf(EC::TcpIp) = "192.168.0.300";
  f.textOf(EC::TcpSubnet) = "255.255";
  f.textOf(EC::DensityMultiplier) = "4294967295";
  f.textOf(EC::FinalPressureTimeout) = "0";
  f.textOf(EC::FinalPressureMeasureTime) = "16";
  f.massFlags[0] = f.massFlags[7] = true;
  ExtraSettings base;
  base.set(es::smart_fill_pressure, 77);
  base.bytes[54] = 0xAB;
  const ExtraSettings r = collectExtraSettings(base, f);
  EXPECT_EQ(r.get(es::pressure_offset), 0x01A2u);
  EXPECT_EQ(r.get(es::pressure_top), 0u);
  EXPECT_EQ(r.get(es::density_manual), 7500u);
  EXPECT_EQ(static_cast<int16_t>(r.get(es::heat_on_temp)), -55);
  EXPECT_EQ(r.get(es::heat_off_temp), 123u);
  EXPECT_EQ(r.get(es::fail_pressure), 23u);
  // Timeout 300 & 0xFF, then the address octets (300 & 0xFF again; octets not given are 0).
  EXPECT_EQ((std::vector<uint8_t>{r.bytes[37], r.bytes[40], r.bytes[43], r.bytes[44], r.bytes[46]}),
            (std::vector<uint8_t>{44, 192, 44, 255, 0}));
  EXPECT_EQ(r.get(es::dens_mult), 4294967295u);
  EXPECT_EQ(r.get(es::smart_fill_tmt), 3u | (1u << 4));
  EXPECT_EQ(r.get(es::mass_flags), 0x81u | (7u << 13));  // no type chosen: 7
  EXPECT_EQ(r.get(es::smart_fill_pressure), 77u);        // no control: kept
  EXPECT_EQ(r.bytes[54], 0xAB);

  ExtraSettingsForm shown;
  shown.massmeterType = 2;
  const uint16_t raw[2] = {0x1234, 0xFFF0};
  displayExtraSettings(r, raw, &shown);
  const std::pair<EC, const char*> texts[] = {
      {EC::PressureOffset4mA, "0x1A2"}, {EC::ManualDensity, "0.7500"},
      {EC::HeaterOnTemp, "-5.5"},       {EC::FailPressure, "2.3"},
      {EC::TcpIp, "192.168.0.44"},      {EC::PressureDebug, "0x123, 0xFFF"}};
  for (const auto& [control, text] : texts) EXPECT_EQ(shown.textOf(control), text);
  EXPECT_EQ(shown.massmeterType, 2);  // 7 leaves the choice unchanged
  EXPECT_TRUE(shown.massFlags[7]);

  // Collecting what a fresh form displayed changes nothing: "No values changed".
  ExtraSettingsForm fresh;
  displayExtraSettings(r, nullptr, &fresh);
  EXPECT_EQ(collectExtraSettings(r, fresh), r);
  shown.massmeterType = 1;
  EXPECT_EQ(collectExtraSettings(r, shown).get(es::mass_flags) >> 13, 1u);

  // Pressure offsets: hexadecimal with or without the prefix, kept to 16 bits, low byte first.
  fresh.textOf(EC::PressureOffset4mA) = "CB2";
  fresh.textOf(EC::PressureOffset20mA) = "0x12345";
  const ExtraSettings h = collectExtraSettings(r, fresh);
  EXPECT_EQ(h.get(es::pressure_top), 0x2345u);
  EXPECT_EQ(h.bytes[22], 0xB2);
  EXPECT_EQ(h.bytes[23], 0x0C);
}
