// Field-by-field comparison of settings records and settings files, and the backup file and
// table of a station backup: what "diff", the import's change list and "backup" rely on.
#include <gtest/gtest.h>

#include <cerrno>

#include "settings/board_backup.h"
#include "settings/settings_diff.h"
#include "settings/settings_json.h"
#include "support/test_support.h"

namespace {

using Strings = std::vector<std::string>;

Strings lines(const std::vector<FieldChange>& changes) {
  Strings out;
  for (const FieldChange& c : changes) out.push_back(fieldChangeLine(c));
  return out;
}

TEST(SettingsDiff, KeyedFieldsOfEveryWidthAreListedInFileOrderAndUnkeyedBytesNever) {
  MainSettings m;
  ExtraSettings e;
  for (size_t i = 0; i < m.bytes.size(); ++i) m.bytes[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < e.bytes.size(); ++i) e.bytes[i] = static_cast<uint8_t>(0x80 + i);
  EXPECT_TRUE(diffSettings(m, e, m, e).empty());

  MainSettings m2 = m;
  ExtraSettings e2 = e;
  // Bytes without a key: baud rates, tag, side addresses, reserved, heater temperatures.
  for (size_t b : {0, 1, 2, 3, 4, 7, 8, 23, 24, 45}) m2.bytes[b] ^= 0xFF;
  for (size_t b = 54; b < 60; ++b) e2.bytes[b] ^= 0xFF;
  EXPECT_TRUE(diffSettings(m, e, m2, e2).empty());

  e2.set(es::w_port, 8502);            // 2 bytes, the last extra key
  m2.set(ms::bmu_p_adm, 4000000000u);  // 4 bytes, above 2^31
  m2.bytes[22] = 0x41;                 // nara_addr[11], one byte of an array
  e2.bytes[41] = 7;                    // w_ip[1]
  m2.set(ms::sat_channel, 0xFFFF);     // the first main key
  const uint32_t admWas = m.get(ms::bmu_p_adm);
  EXPECT_EQ((Strings{
                "sat_channel: 1541 \xE2\x86\x92 65535",
                "nara_addr[11]: 22 \xE2\x86\x92 65",
                "bmu_p_adm: " + std::to_string(admWas) + " \xE2\x86\x92 4000000000",
                "w_ip[1]: 169 \xE2\x86\x92 7",
                "w_port: " + std::to_string(e.get(es::w_port)) + " \xE2\x86\x92 8502",
            }),
            lines(diffSettings(m, e, m2, e2)));
}

class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override { dir = testsupport::makeTempDir(); }
  std::string file(const std::string& name, const std::string& text) {
    const std::string path = dir + "/" + name;
    testsupport::writeText(path, text);
    return path;
  }
  SettingsFileContent load(const std::string& path) {
    SettingsFileContent c;
    EXPECT_EQ(kJsonOk, readSettingsFileContent(path, &c)) << path;
    return c;
  }
  std::string dir;
};

TEST_F(SettingsFiles, FilesAreComparedAsTheImportWouldWriteThem) {
  // A main key one file lacks leaves the board's value, so it shows as not in the file; an
  // extra key it lacks is written as 0. Keys match without regard to case, as the import.
  const std::string a = file("a.json",
                             "{\"main_setts\":{\"slow_start\":\"2\",\"noz_count\":\"2\","
                             "\"pb_timeout\":\"60\"},"
                             "\"mass_setts\":{\"w_port\":\"502\",\"fail_flow\":\"3\"}}");
  const std::string b = file("b.json",
                             "{\"main_setts\":{\"SLOW_START\":\"5\",\"noz_count\":\"2\","
                             "\"hydro_hit\":\"254\",\"pb_timeout\":\"sixty\"},"
                             "\"mass_setts\":{\"w_port\":\"502\"},\"board\":{\"kind\":\"$\"}}");
  const SettingsFileContent ca = load(a), cb = load(b);
  EXPECT_EQ(Strings{"main_setts.pb_timeout"}, cb.skipped);
  EXPECT_EQ((Strings{
                "slow_start: 2 \xE2\x86\x92 5",
                "hydro_hit: (not in file) \xE2\x86\x92 254",
                "pb_timeout: 60 \xE2\x86\x92 (not in file)",
                "fail_flow: 3 \xE2\x86\x92 0",
            }),
            lines(diffSettingsFiles(ca, cb)));
  EXPECT_TRUE(diffSettingsFiles(cb, cb).empty());
  // An exported file compared with itself re-read: nothing.
  MainSettings m;
  ExtraSettings e;
  m.set(ms::trk_modes, 0x8001);
  e.set(es::dens_mult, 123456789);
  const std::string exported = dir + "/exported.json";
  ASSERT_EQ(kJsonOk, saveSettingsFile(exported, m, e));
  EXPECT_TRUE(diffSettingsFiles(load(exported), load(exported)).empty());
}

TEST_F(SettingsFiles, FilesThatCannotBeReadSayWhy) {
  SettingsFileContent c;
  errno = 0;
  EXPECT_EQ(kJsonCannotOpen, readSettingsFileContent(dir + "/absent.json", &c));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(kJsonNotJson, readSettingsFileContent(file("t.json", "main_setts=1\n"), &c));
  EXPECT_EQ(kJsonMissingObject, readSettingsFileContent(file("m.json", "{\"main_setts\":{}}"), &c));
  EXPECT_EQ(kJsonMissingObject,
            readSettingsFileContent(file("n.json", "{\"main_setts\":{},\"mass_setts\":3}"), &c));
  EXPECT_EQ("not a JSON text, or longer than a settings file can be",
            settingsLoadErrorText(kJsonNotJson, 0));
  EXPECT_EQ("no \"main_setts\" or no \"mass_setts\" object",
            settingsLoadErrorText(kJsonMissingObject, 0));
}

TEST_F(SettingsFiles, ABackupFileImportsAsTheExportOfItsRecordsAndKeepsItsOwnObjects) {
  BoardBackup b;
  b.address = 7;
  b.kind = '$';
  b.textId = "ТРК \"7\"\\x";
  b.time = "2026-12-09T01:00:00+0000";
  for (size_t i = 0; i < b.main.bytes.size(); ++i) b.main.bytes[i] = static_cast<uint8_t>(3 * i);
  for (size_t i = 0; i < b.extra.bytes.size(); ++i) b.extra.bytes[i] = static_cast<uint8_t>(~i);
  b.main.set(ms::noz_count, 1);
  b.channelCount = 2;
  b.channels[1].bytes[0] = 0xAB;
  b.meters[0].bytes[kMeterRecordSize - 1] = 0x01;
  b.sides[1].bytes[0] = 0xFE;
  const std::string text = backupFileText(b);
  // The export's text, word for word, up to the end of "mass_setts".
  const std::string exported = settingsFileText(b.main, b.extra);
  ASSERT_EQ(0u, text.compare(0, exported.size() - 2, exported, 0, exported.size() - 2));
  MainSettings m, mExp;
  ExtraSettings e, eExp;
  ASSERT_EQ(kJsonOk, loadSettingsText(text, &m, &e));
  ASSERT_EQ(kJsonOk, loadSettingsText(exported, &mExp, &eExp));
  EXPECT_EQ(mExp, m);
  EXPECT_EQ(eExp, e);
  EXPECT_NE(text.find(",\"text_id\":\"ТРК \\\"7\\\"\\\\x\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"address\":\"7\"\n,\"kind\":\"$\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"channel_records\":{\"1A\":\"" + std::string(2 * kChannelRecordSize, '0') +
                      "\"\n,\"1B\":\"ab"),
            std::string::npos)
      << text;
  EXPECT_EQ(std::string::npos, text.find("\"2A\""));  // one nozzle: two channels
  EXPECT_NE(text.find(std::string(2 * kMeterRecordSize - 2, '0') + "01\"\n,\"1B\""),
            std::string::npos);
  EXPECT_NE(text.find(",\"B\":\"fe"), std::string::npos);
  const std::string path = dir + "/" + backupFileName(7);
  EXPECT_EQ(dir + "/board-07.json", path);
  ASSERT_EQ(kJsonOk, saveBackupFile(path, b));
  EXPECT_EQ(text, testsupport::readText(path));
}

TEST(BackupNames, OnlyBoardFilesOfABusAddressAreTaken) {
  uint8_t a = 0;
  EXPECT_TRUE(backupFileAddress("board-03.json", &a));
  EXPECT_EQ(3, a);
  EXPECT_TRUE(backupFileAddress("board-239.json", &a));
  EXPECT_EQ(239, a);
  EXPECT_TRUE(backupFileAddress("board-123.json", &a));
  EXPECT_EQ(123, a);
  a = 99;
  // A name a backup does not give would not be found again under the address's own name.
  for (const char* bad :
       {"board-7.json", "board-007.json", "board-00.json", "board-240.json", "board-0003.json",
        "board-.json", "board-1a.json", "board-03.json~", "board-03.JSON", "xboard-03.json",
        "board--3.json", "board-+3.json", ".json", ""})
    EXPECT_FALSE(backupFileAddress(bad, &a)) << bad;
  EXPECT_EQ(99, a);
}

TEST(BusTable, ColumnsLineUpAndTheRunSucceedsOnlyWhenEveryBoardWasDone) {
  const std::vector<BusRow> rows = {{1, "TRK controller v3.1", BusResult::Done},
                                    {2, "ТРК", BusResult::Failed},
                                    {14, "", BusResult::NotFound}};
  EXPECT_EQ(
      (Strings{"Address  Text identifier      Result", "01       TRK controller v3.1  saved",
               "02       ТРК                  failed", "14       -                    not found"}),
      busTableLines(rows, false));
  EXPECT_EQ("01       TRK controller v3.1  restored", busTableLines(rows, true)[1]);

  const BusRow done{1, "x", BusResult::Done}, failed{2, "x", BusResult::Failed},
      absent{3, "", BusResult::NotFound}, unwritten{4, "x", BusResult::NotWritten};
  EXPECT_TRUE(busRunSucceeded({done}, false));
  EXPECT_TRUE(busRunSucceeded({done, absent}, false));  // a scan finds what is there
  EXPECT_FALSE(busRunSucceeded({done, absent}, true));  // a listed board was missing
  EXPECT_FALSE(busRunSucceeded({done, failed}, false));
  EXPECT_FALSE(busRunSucceeded({done, unwritten}, true));
  EXPECT_FALSE(busRunSucceeded({}, false));  // nothing found is nothing saved
  EXPECT_FALSE(busRunSucceeded({absent}, false));
}

TEST(BackupFolder, AFolderIsMadeWithItsParentsAndOneThatCannotBeIsRefused) {
  const std::string dir = testsupport::makeTempDir();
  std::string why;
  EXPECT_TRUE(prepareBackupFolder(dir + "/station/2026-12-09", &why)) << why;
  EXPECT_TRUE(prepareBackupFolder(dir + "/station/2026-12-09", &why)) << why;  // again
  testsupport::writeText(dir + "/plain", "x");
  EXPECT_FALSE(prepareBackupFolder(dir + "/plain", &why));
  EXPECT_EQ(0u, why.find("Cannot create the folder: " + dir + "/plain (")) << why;
  EXPECT_FALSE(prepareBackupFolder(dir + "/plain/sub", &why));
  EXPECT_EQ(0u, why.find("Cannot create the folder")) << why;
  std::vector<uint8_t> found;
  EXPECT_TRUE(backupFilesIn(dir + "/station/2026-12-09", &found, &why));
  EXPECT_TRUE(found.empty());  // the write check left no file behind
  for (const char* name :
       {"board-12.json", "board-03.json", "board-7.json", "notes.txt", "board-3x.json"})
    testsupport::writeText(dir + "/station/" + name, "{}");
  ASSERT_TRUE(backupFilesIn(dir + "/station", &found, &why)) << why;
  EXPECT_EQ((std::vector<uint8_t>{3, 12}), found);
  EXPECT_FALSE(backupFilesIn(dir + "/none", &found, &why));
  EXPECT_EQ(0u, why.find("Cannot read the folder: " + dir + "/none (")) << why;
}

}  // namespace
