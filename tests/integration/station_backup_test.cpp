// A whole station through korvane-cli against korvane-sim over TCP: backup of a bus where one
// board answers the scan but loses a read, diff of the files, import --dry-run, restore onto
// a fresh bus read back byte for byte, and the refusals of bad folders, files and usage.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "settings/board_backup.h"
#include "settings/settings_json.h"
#include "support/sim_process.h"

namespace {

using namespace testsupport;
using simtest::CliRun;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

Strings splitLines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::set<std::string> filesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// "30 00 22" into its bytes.
std::vector<uint8_t> hexBytes(const std::string& text) {
  std::vector<uint8_t> out;
  std::istringstream in(text);
  for (std::string b; in >> b;) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
  return out;
}

class Station : public ::testing::Test {
 protected:
  void SetUp() override { dir = makeTempDir(); }
  // A simulator listening on a free port; returns the --port text that reaches it.
  std::string start(simtest::SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
    EXPECT_TRUE(sim.start(args)) << sim.stderrText();
    return "--port TCPC_127.0.0.1:" + std::to_string(sim.listenPort()) + " ";
  }
  // The expected texts write paths with '/'; Windows joins a folder and a file name with '\\'.
  CliRun run(const std::string& port, const std::string& args) {
    CliRun r = simtest::runCli(dir, port + args);
    if (fs::path::preferred_separator != '/') {
      std::replace(r.out.begin(), r.out.end(), static_cast<char>(fs::path::preferred_separator),
                   '/');
      std::replace(r.err.begin(), r.err.end(), static_cast<char>(fs::path::preferred_separator),
                   '/');
    }
    return r;
  }
  // The board's record as `read` prints it: two-digit hex separated by spaces.
  std::string record(const std::string& port, unsigned address, uint32_t at, size_t n) {
    const CliRun r = run(port, strprintf("--address %u read 0 0x%X %u --check 2", address,
                                         static_cast<unsigned>(at), static_cast<unsigned>(n)));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  void readSettings(const std::string& port, unsigned address, MainSettings* m, ExtraSettings* e) {
    const auto mb = hexBytes(record(port, address, kMainSettingsAddress, kMainSettingsSize));
    const auto eb = hexBytes(record(port, address, kExtraSettingsAddress, kExtraSettingsSize));
    ASSERT_EQ(mb.size(), kMainSettingsSize);
    ASSERT_EQ(eb.size(), kExtraSettingsSize);
    std::copy(mb.begin(), mb.end(), m->bytes.begin());
    std::copy(eb.begin(), eb.end(), e->bytes.begin());
  }
  std::string dir;
};

TEST_F(Station, BackupSavesEveryBoardFoundAndNoFileForTheOneWhoseReadLosesItsReply) {
  simtest::SimProcess sim;
  // Board 2 loses one reply in ten: with this seed it answers the scan, its text identifier,
  // both settings records and its first channel, then loses a reply to a later read.
  const std::string port =
      start(sim, {"--seed", "7", "--board", "1", "--text", "Pump one", "--board", "2:$", "--text",
                  "Mass two", "--drop", "0.1", "--board", "3", "--text", "Pump three"});
  // Board 3 gets settings of its own: slow start, slow finish, nozzle fat, phase timeout.
  ASSERT_EQ(run(port, "--address 3 write 0 0x311A 05060708").status, 0);
  fs::create_directories(dir + "/station");
  writeText(dir + "/station/board-02.json", "an earlier backup");

  CliRun r = run(port, "backup station --addresses 1-3");
  EXPECT_EQ(r.status, 1) << r.err;
  const Strings out = splitLines(r.out);
  ASSERT_EQ(out.size(), 11u) << r.out;
  EXPECT_EQ(out[0], "Pump 01 found");
  EXPECT_EQ(out[1], "Pump 01 saved to station/board-01.json");
  EXPECT_EQ(out[2], "Pump 02 found");
  EXPECT_EQ(out[3].rfind("Pump 02 failed: ", 0), 0u) << out[3];
  EXPECT_TRUE(has(out[3], "read error res=-6")) << out[3];  // a reply that never came
  EXPECT_EQ(out[4], "Pump 02: station/board-02.json is from an earlier backup");
  EXPECT_EQ(out[5], "Pump 03 found");
  EXPECT_EQ(out[6], "Pump 03 saved to station/board-03.json");
  EXPECT_EQ(Strings(out.begin() + 7, out.end()),
            (Strings{"Address  Text identifier  Result", "01       Pump one         saved",
                     "02       Mass two         failed", "03       Pump three       saved"}));
  // Nothing of board 2 was written, and no temporary file is left.
  EXPECT_EQ(filesIn(dir + "/station"),
            (std::set<std::string>{"board-01.json", "board-02.json", "board-03.json"}));
  EXPECT_EQ(readText(dir + "/station/board-02.json"), "an earlier backup");

  // The file holds the board's records as read: overlaid on them it changes no byte.
  MainSettings main;
  ExtraSettings extra;
  readSettings(port, 3, &main, &extra);
  EXPECT_EQ(main.get(ms::slow_start), 5u);
  MainSettings fileMain = main;
  ExtraSettings fileExtra = extra;
  const std::string file3 = dir + "/station/board-03.json";
  ASSERT_EQ(kJsonOk, loadSettingsFile(file3, &fileMain, &fileExtra));
  EXPECT_EQ(fileMain, main);
  EXPECT_EQ(fileExtra, extra);
  const std::string text3 = readText(file3);
  EXPECT_TRUE(has(text3,
                  "},\"board\":{\"address\":\"3\"\n,\"kind\":\"#\"\n,\"text_id\":\"Pump "
                  "three\"\n,\"backup_time\":\""))
      << text3;
  // The time of the backup carries its offset from UTC as digits, on Windows too (where
  // strftime's %z would give the zone's name).
  EXPECT_TRUE(std::regex_search(
      text3, std::regex("\"backup_time\":\"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}"
                        "[+-][0-9]{4}\"")))
      << text3;
  // The channel and meter records of 1A and the side B data, as the board gives them.
  auto hexOf = [](std::string spaced) {
    spaced.erase(std::remove_if(spaced.begin(), spaced.end(), ::isspace), spaced.end());
    return spaced;
  };
  EXPECT_TRUE(has(text3, "\"channel_records\":{\"1A\":\"" +
                             hexOf(record(port, 3, channelRecordAddress(0), kChannelRecordSize)) +
                             "\"\n"));
  EXPECT_TRUE(has(text3, "\"meter_records\":{\"1A\":\"" +
                             hexOf(record(port, 3, meterRecordAddress(0), kMeterRecordSize)) +
                             "\"\n"));
  EXPECT_TRUE(has(
      text3, ",\"B\":\"" + hexOf(record(port, 3, sideDataAddress(1), kSideDataSize)) + "\"\n}}\n"));

  // import takes the backup file unchanged; on its own board nothing changes.
  r = run(port, "--address 3 --yes import station/board-03.json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("No values changed\n", 0), 0u) << r.out;

  // What board 3's file would change on board 1, as a dry run: listed, nothing written.
  const std::string before = record(port, 1, kMainSettingsAddress, kMainSettingsSize);
  r = run(port, "--address 1 import --dry-run station/board-03.json");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string changes =
      "  slow_start: 2 \xE2\x86\x92 5\n"
      "  slow_load: 2 \xE2\x86\x92 6\n"
      "  nozzle_fat: 5 \xE2\x86\x92 7\n"
      "  met_timeout: 30 \xE2\x86\x92 8\n";
  EXPECT_EQ(r.out, "Values that change (board \xE2\x86\x92 file):\n" + changes);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(record(port, 1, kMainSettingsAddress, kMainSettingsSize), before);

  // diff of the two files: the same fields, one a line, exit 1; a file against itself, 0.
  r = run(port, "diff station/board-01.json station/board-03.json");
  EXPECT_EQ(r.status, 1) << r.err;
  std::string plain = changes;
  for (size_t at; (at = plain.find("  ")) != std::string::npos;) plain.erase(at, 2);
  EXPECT_EQ(r.out, plain);
  r = run(port, "diff station/board-03.json station/board-03.json");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "No values changed\n");
  r = run(port, "diff station/board-01.json station/board-02.json");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "File load error: station/board-02.json (not a JSON text, or longer than a "
            "settings file can be)\n");
  r = run(port, "diff station/board-09.json station/board-01.json");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "File load error: station/board-09.json (No such file or directory)\n");
}

TEST_F(Station, BadFoldersFilesAndUsageAreRefusedAndTheOtherBoardsAreStillDone) {
  simtest::SimProcess sim;
  const std::string port = start(sim, {"--board", "1", "--board", "2", "--verbose"});
  auto heardFrames = [&] {
    const std::string t = sim.stderrText();
    int n = 0;
    for (size_t at = t.find(" rx "); at != std::string::npos; at = t.find(" rx ", at + 1)) ++n;
    return n;
  };
  int heard = heardFrames();
  writeText(dir + "/plain", "a file, not a folder");
  CliRun r = run(port, "backup plain/station");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Cannot create the folder: plain/station (", 0), 0u) << r.err;
  EXPECT_EQ(r.out, "");
  for (const char* bad :
       {"backup", "backup a b", "backup d --addresses", "backup d --addresses 0",
        "backup d --addresses 3-1", "backup d --addresses 1,,2", "backup d --addresses 240",
        "backup d --addresses 1 --addresses 2", "backup --bogus d", "restore", "diff a.json",
        "diff a.json b.json c.json", "import --dry-run", "import --dry-run --dry-run a.json",
        "import a.json b.json"})
    EXPECT_EQ(run(port, bad).status, 2) << bad;
  EXPECT_EQ(heardFrames(), heard);  // nothing asked of the bus
  EXPECT_FALSE(fs::exists(dir + "/d"));

  // A folder with one file of another format and one good file: the good one is restored.
  ASSERT_EQ(run(port, "backup st --addresses 2").status, 0);
  writeText(dir + "/st/board-01.json", "{\"settings\":{}}");
  r = run(port, "--yes restore st");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.out,
                  "Pump 01 failed: File load error: st/board-01.json (no \"main_setts\" "
                  "or no \"mass_setts\" object)\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "Pump 02, st/board-02.json:\nNo values changed\n")) << r.out;
  EXPECT_TRUE(has(r.out,
                  "Pump 02 restored\n"
                  "Address  Text identifier      Result\n"
                  "01       -                    failed\n"
                  "02       TRK controller v3.1  restored\n"))
      << r.out;
  // Listed addresses without a file, or without a board, fail; those done are still done.
  writeText(dir + "/st/board-05.json", readText(dir + "/st/board-02.json"));
  r = run(port, "--yes restore st --addresses 2-3,5");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.out,
                  "Pump 03 failed: File load error: st/board-03.json (No such file or "
                  "directory)\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "Pump 05 not found\n")) << r.out;
  EXPECT_TRUE(has(r.out,
                  "02       TRK controller v3.1  restored\n"
                  "03       -                    failed\n"
                  "05       -                    not found\n"))
      << r.out;
  r = run(port, "restore nowhere");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Cannot read the folder: nowhere (", 0), 0u) << r.err;
  fs::create_directories(dir + "/empty");
  r = run(port, "restore empty");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "No board-NN.json file in empty\n");
  // A dry run of a file that cannot be used sends nothing.
  heard = heardFrames();
  r = run(port, "import --dry-run st/board-01.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File load error\n");
  EXPECT_EQ(heardFrames(), heard);
}

TEST_F(Station, RestoreOntoAFreshBusWritesTheSameRecordsAfterOneQuestion) {
  simtest::SimProcess old;
  const std::string oldPort = start(old, {"--board", "1", "--board", "4:$"});
  // Settings of their own on both boards: main keyed fields from slow start to fulltank
  // timeout, and the extra record up to the modbus port (the heater temperatures, which no
  // key carries, stay as they were).
  std::string mainHex, extraHex1, extraHex4;
  for (int i = 0; i < 20; ++i) mainHex += strprintf("%02x", 0x11 + i);
  for (int i = 0; i < 54; ++i) extraHex1 += strprintf("%02x", (7 * i + 1) & 0xFF);
  for (int i = 0; i < 54; ++i) extraHex4 += strprintf("%02x", (5 * i + 3) & 0xFF);
  ASSERT_EQ(run(oldPort, "--address 1 write 0 0x311A " + mainHex).status, 0);
  ASSERT_EQ(run(oldPort, "--address 1 write 0 0x5000 " + extraHex1).status, 0);
  ASSERT_EQ(run(oldPort, "--address 4 write 0 0x5000 " + extraHex4).status, 0);

  CliRun r = run(oldPort, "backup station");  // the whole bus, 1..32
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(splitLines(r.out).size(), 32u + 2u + 3u) << r.out;
  EXPECT_TRUE(has(r.out,
                  "Pump 32 not found\n"
                  "Address  Text identifier      Result\n"
                  "01       TRK controller v3.1  saved\n"
                  "04       TRK controller v3.1  saved\n"))
      << r.out;

  simtest::SimProcess fresh;
  const std::string port =
      start(fresh, {"--board", "1", "--board", "4:$", "--admin-password", "1234"});
  MainSettings freshMain[2];
  ExtraSettings freshExtra[2];
  readSettings(port, 1, &freshMain[0], &freshExtra[0]);
  readSettings(port, 4, &freshMain[1], &freshExtra[1]);

  // Without --yes the one question is answered No: the changes are listed, nothing written.
  r = run(port, "--password 1234 restore station");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.out,
                  "Pump 01, station/board-01.json:\n"
                  "Values that change (board \xE2\x86\x92 file):\n"
                  "  slow_start: 2 \xE2\x86\x92 17\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "  w_port: 502 \xE2\x86\x92 ")) << r.out;
  EXPECT_TRUE(has(r.out,
                  "01       TRK controller v3.1  not written\n"
                  "04       TRK controller v3.1  not written\n"))
      << r.out;
  for (int b = 0; b < 2; ++b) {
    MainSettings m;
    ExtraSettings e;
    readSettings(port, b ? 4 : 1, &m, &e);
    EXPECT_EQ(m, freshMain[b]);
    EXPECT_EQ(e, freshExtra[b]);
  }

  r = run(port, "--yes --password 1234 restore station");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "Pump 01 restored\n")) << r.out;
  EXPECT_TRUE(has(r.out, "Pump 04 restored\n")) << r.out;
  EXPECT_TRUE(has(r.out,
                  "01       TRK controller v3.1  restored\n"
                  "04       TRK controller v3.1  restored\n"))
      << r.out;
  // Both records of both boards, read back, are the old boards' byte for byte: bus
  // addresses, baud rates and the unkeyed bytes included.
  for (unsigned a : {1u, 4u}) {
    EXPECT_EQ(record(port, a, kMainSettingsAddress, kMainSettingsSize),
              record(oldPort, a, kMainSettingsAddress, kMainSettingsSize))
        << a;
    EXPECT_EQ(record(port, a, kExtraSettingsAddress, kExtraSettingsSize),
              record(oldPort, a, kExtraSettingsAddress, kExtraSettingsSize))
        << a;
  }
  EXPECT_EQ(run(port, "--address 4 identify").out, "TRK controller v3.1\n");
}

}  // namespace
