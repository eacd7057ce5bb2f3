// The settings file (exact text, load rules, round trip), the factory preset records and
// the serial number record.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "settings/presets.h"
#include "settings/service_actions.h"
#include "settings/settings_json.h"
#include "support/test_support.h"

namespace {

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Records with a distinct value in every byte.
MainSettings patternMain() {
  MainSettings m;
  for (size_t i = 0; i < m.bytes.size(); ++i) m.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return m;
}
ExtraSettings patternExtra() {
  ExtraSettings e;
  for (size_t i = 0; i < e.bytes.size(); ++i) e.bytes[i] = static_cast<uint8_t>(i * 11 + 5);
  return e;
}

}  // namespace

TEST(SettingsFile, ExactTextOfTheFile) {
  MainSettings m;
  m.set(ms::sat_channel, 0xFFFF);
  m.set(ms::side_count, 2);
  m.set(ms::tbl_dot_flags, 2);
  ExtraSettings e;
  e.set(es::w_port, 502);
  const std::string t = settingsFileText(m, e);
  EXPECT_EQ(t.rfind("{\"main_setts\":{\"sat_channel\":\"65535\"\n,\"side_count\":\"2\"\n,\"noz_"
                    "count\":\"0\"\n",
                    0),
            0u);
  EXPECT_NE(t.find(",\"tbl_dot_flags\":\"2\"\n},\"mass_setts\":{\"dens_mult\":\"0\"\n,\"mass_"
                   "mult\":\"0\"\n"),
            std::string::npos);
  const std::string tail = ",\"w_gw[3]\":\"0\"\n,\"w_port\":\"502\"\n}}\n";
  ASSERT_GE(t.size(), tail.size());
  EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
  // 39 + 37 keys, one line each; no key for the baud rates, addresses, reserved or heater.
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 39 + 37 + 1);
  for (const char* absent : {"pc_baud", "side_addr", "per_baud", "rec_tag", "heat_on", "reserved"})
    EXPECT_EQ(t.find(absent), std::string::npos) << absent;
  EXPECT_NE(t.find("\"bmu_p_user[3]\""), std::string::npos);
  EXPECT_NE(t.find("\"line_max_flow[2]\""), std::string::npos);
}

TEST(SettingsFile, RoundTripRestoresEveryKeyedField) {
  const std::string dir = testsupport::makeTempDir();
  const MainSettings m = patternMain();
  const ExtraSettings e = patternExtra();
  ASSERT_EQ(saveSettingsFile(dir + "/s.json", m, e), kJsonOk);
  EXPECT_FALSE(std::ifstream(dir + "/s.json.tmp").good());  // the temporary is gone

  MainSettings m2;
  m2.bytes.fill(0xEE);
  ExtraSettings e2;
  ASSERT_EQ(loadSettingsFile(dir + "/s.json", &m2, &e2), kJsonOk);
  for (size_t i = 0; i < kMainFieldCount; ++i) {
    const RecordField& f = kMainFields[i];
    EXPECT_EQ(m2.get(f), f.keyed ? m.get(f) : 0xEEEEEEEEu >> (32 - 8 * f.width)) << f.name;
  }
  for (size_t i = 0; i < kExtraFieldCount; ++i) {
    const RecordField& f = kExtraFields[i];
    EXPECT_EQ(e2.get(f), f.keyed ? e.get(f) : 0u) << f.name;
  }
  EXPECT_EQ(saveSettingsFile(dir + "/no/such/dir/s.json", m, e), kJsonCannotOpen);
}

TEST(SettingsFile, LoadRules) {
  MainSettings m;
  ExtraSettings e;
  std::vector<std::string> skipped;
  // Letter case of keys does not matter; the low bytes of the value are kept.
  ASSERT_EQ(loadSettingsText("{\"MAIN_SETTS\":{\"SLOW_START\":\"300\",\"Trk_Modes\":\"70000\","
                             "\"bmu_p_adm\":\"4294967295\",\"unknown\":\"5\"},"
                             "\"mass_setts\":{\"w_port\":\"65536\"}}",
                             &m, &e, &skipped),
            kJsonOk);
  EXPECT_EQ(m.get(ms::slow_start), 44u);
  EXPECT_EQ(m.get(ms::trk_modes), 4464u);
  EXPECT_EQ(m.get(ms::bmu_p_adm), 0xFFFFFFFFu);
  EXPECT_EQ(e.get(es::w_port), 0u);
  EXPECT_TRUE(skipped.empty());

  // Values that are not decimal strings are skipped and named; the field keeps its value.
  m.set(ms::noz_count, 3);
  m.set(ms::side_count, 2);
  m.set(ms::min_vol, 9);
  m.set(ms::pb_timeout, 8);
  ASSERT_EQ(
      loadSettingsText("{\"main_setts\":{\"noz_count\":4,\"side_count\":\"x\",\"min_vol\":\"-1\","
                       "\"pb_timeout\":\"99999999999\"},\"mass_setts\":{}}",
                       &m, &e, &skipped),
      kJsonOk);
  EXPECT_EQ((std::vector<uint32_t>{m.get(ms::noz_count), m.get(ms::side_count), m.get(ms::min_vol),
                                   m.get(ms::pb_timeout)}),
            (std::vector<uint32_t>{3, 2, 9, 8}));
  EXPECT_EQ(skipped, (std::vector<std::string>{"main_setts.side_count", "main_setts.noz_count",
                                               "main_setts.min_vol", "main_setts.pb_timeout"}));

  // A missing object or text that is not JSON changes nothing.
  const MainSettings before = m;
  EXPECT_EQ(loadSettingsText("{\"main_setts\":{\"noz_count\":\"1\"}}", &m, &e), kJsonMissingObject);
  EXPECT_EQ(loadSettingsText("{\"main_setts\":{\"noz_count\":\"1\"},\"mass_setts\":\"x\"}", &m, &e),
            kJsonMissingObject);
  EXPECT_EQ(loadSettingsText("{\"main_setts\":{", &m, &e), kJsonNotJson);
  EXPECT_EQ(m, before);
  EXPECT_EQ(loadSettingsFile("/nonexistent/x.json", &m, &e), kJsonCannotOpen);

  // A file is cut at 16383 bytes: a document that ends beyond it no longer parses.
  const std::string dir = testsupport::makeTempDir();
  const std::string body = "{\"main_setts\":{},\"mass_setts\":{}}";
  writeText(dir + "/short.json", body + std::string(kSettingsFileMaxBytes - body.size(), ' '));
  EXPECT_EQ(loadSettingsFile(dir + "/short.json", &m, &e), kJsonOk);
  writeText(dir + "/long.json", std::string(kSettingsFileMaxBytes, ' ') + body);
  EXPECT_EQ(loadSettingsFile(dir + "/long.json", &m, &e), kJsonNotJson);

  EXPECT_EQ(settingsFileName("a"), "a.json");
  EXPECT_EQ(settingsFileName("a.json.bak"), "a.json.bak");
}

TEST(FactoryPresets, MainRecordsPerPumpType) {
  PresetForm f;
  f.pumpType = kPumpShelf;
  f.sideChoice = 1;
  f.nozzleChoice = 1;
  f.sideA = "1";
  f.sideB = "2";
  f.aztA = {"1", "2", "", "", ""};
  f.aztB = {"3", "4", "", "", ""};
  MainSettings expect;
  const uint8_t shelf[68] = {48, 0, 0x22, 1, 2, 0xFF, 0xFF, 48, 0, 2, 2, 1, 3,  2,  4,
                             0,  0, 0,    0, 0, 0,    0,    0,  0, 0, 1, 3, 30, 30, 0,
                             5,  0, 0,    0, 6, 6,    0,    0,  0, 0, 4, 0, 0,  0,  45};
  std::copy(shelf, shelf + 68, expect.bytes.begin());
  EXPECT_EQ(presetMainSettings(f), expect);

  // One side: side B address and AZT entries stay 0 whatever the fields hold.
  f.sideChoice = 0;
  MainSettings one = presetMainSettings(f);
  EXPECT_EQ(one.get(ms::side_addr1), 0u);
  EXPECT_EQ(one.bytes[12], 0);
  EXPECT_EQ(one.bytes[14], 0);
  EXPECT_EQ(one.get(ms::side_count), 1u);

  struct Row {
    int type;
    uint8_t fat, display, minSpeed, minTime, hydro;
    uint16_t modes, modes2;
    uint8_t phase;
    uint16_t word;
  };
  const Row rows[] = {
      {kPumpShelf, 30, 6, 0, 0, 0, 5, 0, 0, 200},
      {kPumpGeneral, 30, 7, 0, 0, 0, 5, 0, 1, 160},
      {kPumpC4000, 30, 13, 0, 0, 0, 1, 0, 1, 200},
      {kPumpAstra, 15, 13, 3, 5, 255, 7, 1, 0, 1583},
      {kPumpTokheim, 15, 9, 0, 0, 5, 0x304, 1, 0, 200},
      {-1, 30, 6, 0, 0, 0, 5, 0, 1, 200},
  };
  for (const Row& r : rows) {
    f.pumpType = r.type;
    const MainSettings m = presetMainSettings(f);
    EXPECT_EQ(
        (std::vector<uint32_t>{m.get(ms::nozzle_fat), m.get(ms::tbl_type0), m.get(ms::tbl_type1),
                               m.get(ms::min_speed), m.get(ms::min_sp_time), m.get(ms::hydro_hit),
                               m.get(ms::trk_modes), m.get(ms::trk_modes2), presetPhase(r.type),
                               presetTypeWord(r.type)}),
        (std::vector<uint32_t>{r.fat, r.display, r.display, r.minSpeed, r.minTime, r.hydro, r.modes,
                               r.modes2, r.phase, r.word}))
        << r.type;
  }
}

TEST(FactoryPresets, C4000ExtraRecordAndWindowRules) {
  const ExtraSettings e = presetExtraSettings();
  const uint8_t expect[60] = {0x10, 0x27, 0,  0,  100,  0,    10,  0,   1,   0,   0xE7, 0x03,
                              50,   0,    0,  60, 0,    0,    210, 0,   100, 0,   0x94, 0x02,
                              0xB2, 0x0C, 0,  0,  0,    0,    0,   0,   1,   0,   5,    3,
                              2,    50,   50, 50, 192,  168,  0,   100, 255, 255, 255,  0,
                              192,  168,  0,  1,  0xE8, 0x03, 0,   0,   0,   0,   0,    0};
  EXPECT_TRUE(std::equal(e.bytes.begin(), e.bytes.end(), expect));

  PresetForm f;
  f.nozzleChoice = 2;
  onPresetNozzlesChosen(&f);
  EXPECT_EQ(f.columns, 3);
  EXPECT_EQ(f.aztA[2], "3");
  EXPECT_EQ(f.aztB[0], "4");
  EXPECT_EQ(f.aztB[2], "6");
  EXPECT_EQ(f.aztA[3], "");
  f.pumpType = kPumpAstra;
  EXPECT_STREQ(describePumpType(&f),
               "Astron pump\nLPG dispenser\nInverted nozzle\nDisplay type: MI-21 i2c ");
  EXPECT_EQ(f.sideChoice, 0);
  EXPECT_EQ(f.nozzleChoice, 0);
  EXPECT_EQ(f.columns, 3);  // the tables are left as they were
  f.pumpType = -1;
  EXPECT_STREQ(describePumpType(&f), "");
}

TEST(SerialNumber, RecordAndRefusals) {
  std::array<uint8_t, kSerialRecordSize> r;
  ASSERT_TRUE(buildSerialRecord("12345678", &r));
  const uint8_t expect[14] = {0x4E, 0x61, 0xBC, 0x00, 0x38, 0x4E, '1',
                              '2',  '3',  '4',  '5',  '6',  '7',  '8'};
  EXPECT_TRUE(std::equal(r.begin(), r.end(), expect));
  // 7 characters, below 1000, not digits, empty.
  for (const char* refused : {"0001234", "00000999", "1234567a", ""})
    EXPECT_FALSE(buildSerialRecord(refused, &r)) << refused;
}
