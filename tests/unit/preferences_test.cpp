// The preferences file: defaults, the partial-line rule, over-long and garbage lines, and a
// save that either replaces the file whole or leaves the old one untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "settings/preferences.h"
#include "support/test_support.h"

namespace {

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
std::string readText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The values after the port name as one line, the way the file holds them.
std::string afterName(const Preferences& p) {
  return std::to_string(p.baud) + " " + std::to_string(p.dataBits) + " " + p.parity + " " +
         std::to_string(p.stopBits) + " " + std::to_string(p.maxBaud);
}
const char kDefaults[] = "4800 8 N 1 38400";

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::makeTempDir();
    ASSERT_FALSE(dir_.empty());
    path_ = dir_ + "/korvane_v3.ini";
  }
  // Loads text through a record that holds other values, so defaults are really set.
  Preferences load(const std::string& text, int expectedRc = 1) {
    writeText(path_, text);
    Preferences p;
    p.portName = "stale";
    p.baud = 1;
    p.dataBits = 2;
    p.parity = 'Q';
    p.stopBits = 3;
    p.maxBaud = 4;
    EXPECT_EQ(loadPreferences(&p, path_.c_str()), expectedRc) << text;
    return p;
  }
  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string dir_, path_;
};

TEST_F(PreferencesTest, MissingFileGivesMinusOneAndDefaults) {
  Preferences p;
  p.portName = "COM9";
  p.baud = 115200;
  EXPECT_EQ(loadPreferences(&p, path_.c_str()), -1);
  EXPECT_EQ(p.portName, "");
  EXPECT_EQ(afterName(p), kDefaults);
}

TEST_F(PreferencesTest, FirstLineIsReadInTableOrderUpToTheFirstMismatch) {
  const std::string longest(kPreferencesPortNameMax, 'C');
  const struct {
    std::string text, name, values;
  } cases[] = {
      {"COM3 9600 8 N 1 38400", "COM3", "9600 8 N 1 38400"},
      {"/dev/ttyUSB0 57600 7 E 2 115200\nsecond line ignored 1 2 3\n", "/dev/ttyUSB0",
       "57600 7 E 2 115200"},
      {"TCPC_127.0.0.1:5000 19200 8 N 1 9600\r\n", "TCPC_127.0.0.1:5000", "19200 8 N 1 9600"},
      // Values after the first mismatch keep their defaults.
      {"COM3", "COM3", kDefaults},
      {"COM4 9600 eight N 1 19200", "COM4", "9600 8 N 1 38400"},
      {"COM5 19200 7 O x 9600", "COM5", "19200 7 O 1 38400"},
      // Empty and garbage files; only the first line counts.
      {"", "", kDefaults},
      {std::string("\0\x01\xff\n", 4), "", kDefaults},
      {"   \n COM7 9600 8 N 1 1", "", kDefaults},
      {std::string(5000, '7'), "", kDefaults},
      // A cut name would open some other port, so an over-long one is a mismatch of the first
      // value.
      {std::string(300, 'A') + " 9600 8 N 1 38400", "", kDefaults},
      {std::string(100, 'B') + " 9600", "", kDefaults},
      {longest + " 9600 8 N 1 19200", longest, "9600 8 N 1 19200"},
  };
  for (const auto& c : cases) {
    const Preferences p = load(c.text);
    EXPECT_EQ(p.portName, c.name) << c.text;
    EXPECT_EQ(afterName(p), c.values) << c.text;
  }
}

TEST_F(PreferencesTest, SaveWritesOneLineThatLoadsBack) {
  Preferences out;
  out.portName = "/dev/ttyS1";
  out.baud = 57600;
  out.dataBits = 7;
  out.parity = 'E';
  out.stopBits = 2;
  out.maxBaud = 115200;
  ASSERT_EQ(savePreferences(out, path_.c_str()), 1);
  EXPECT_EQ(readText(path_), "/dev/ttyS1 57600 7 E 2 115200");

  Preferences in;
  ASSERT_EQ(loadPreferences(&in, path_.c_str()), 1);
  EXPECT_EQ(in.portName, out.portName);
  EXPECT_EQ(afterName(in), afterName(out));

  // Saving again replaces the whole file, a shorter line leaves nothing of the longer one.
  out.portName = "COM1";
  out.baud = 4800;
  ASSERT_EQ(savePreferences(out, path_.c_str()), 1);
  EXPECT_EQ(readText(path_), "COM1 4800 7 E 2 115200");
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"korvane_v3.ini"});
}

TEST_F(PreferencesTest, UnwritableFolderGivesMinusOneAndKeepsTheOldFile) {
  Preferences p;
  p.portName = "COM2";
  // A folder that does not exist, and a "folder" that is a regular file (tests run as
  // root, so permission bits alone would not stop the write).
  EXPECT_EQ(savePreferences(p, (dir_ + "/missing/korvane_v3.ini").c_str()), -1);
  std::string blocker = dir_ + "/plain-file";
  writeText(blocker, "x");
  EXPECT_EQ(savePreferences(p, (blocker + "/korvane_v3.ini").c_str()), -1);
  EXPECT_EQ(readText(blocker), "x");

  // The target is a folder: the rename fails and the good content stays where it is.
  writeText(path_, "COM3 9600 8 N 1 38400");
  std::string asFolder = dir_ + "/folder.ini";
  ASSERT_TRUE(std::filesystem::create_directory(asFolder));
  EXPECT_EQ(savePreferences(p, asFolder.c_str()), -1);
  EXPECT_TRUE(std::filesystem::is_directory(asFolder));
  EXPECT_EQ(readText(path_), "COM3 9600 8 N 1 38400");
  // The temporary file of the failed save is gone.
  EXPECT_EQ(folderEntries(),
            (std::vector<std::string>{"folder.ini", "korvane_v3.ini", "plain-file"}));
}

TEST_F(PreferencesTest, NameThatWouldNotReadBackIsNotSaved) {
  writeText(path_, "COM3 9600 8 N 1 38400");
  Preferences p;
  for (const std::string& name :
       {std::string(), std::string("My Port"), std::string(kPreferencesPortNameMax + 1, 'D')}) {
    p.portName = name;
    EXPECT_EQ(savePreferences(p, path_.c_str()), -1) << name;
    EXPECT_EQ(readText(path_), "COM3 9600 8 N 1 38400");
  }
}

}  // namespace
