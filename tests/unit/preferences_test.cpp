// The preferences file: defaults, the partial-line rule, over-long and garbage lines, and a
// save that either replaces the file whole or leaves the old one untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

void expectDefaultsAfterName(const Preferences& p) {
  EXPECT_EQ(p.baud, 4800);
  EXPECT_EQ(p.dataBits, 8);
  EXPECT_EQ(p.parity, 'N');
  EXPECT_EQ(p.stopBits, 1);
  EXPECT_EQ(p.maxBaud, 38400);
}

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
  expectDefaultsAfterName(p);
}

TEST_F(PreferencesTest, FullLineIsReadInTableOrder) {
  Preferences p = load("COM3 9600 8 N 1 38400");
  EXPECT_EQ(p.portName, "COM3");
  EXPECT_EQ(p.baud, 9600);
  EXPECT_EQ(p.dataBits, 8);
  EXPECT_EQ(p.parity, 'N');
  EXPECT_EQ(p.stopBits, 1);
  EXPECT_EQ(p.maxBaud, 38400);

  p = load("/dev/ttyUSB0 57600 7 E 2 115200\nsecond line ignored 1 2 3\n");
  EXPECT_EQ(p.portName, "/dev/ttyUSB0");
  EXPECT_EQ(p.baud, 57600);
  EXPECT_EQ(p.dataBits, 7);
  EXPECT_EQ(p.parity, 'E');
  EXPECT_EQ(p.stopBits, 2);
  EXPECT_EQ(p.maxBaud, 115200);

  p = load("TCPC_127.0.0.1:5000 19200 8 N 1 9600\r\n");
  EXPECT_EQ(p.portName, "TCPC_127.0.0.1:5000");
  EXPECT_EQ(p.maxBaud, 9600);
}

TEST_F(PreferencesTest, ValuesAfterTheFirstMismatchKeepTheirDefaults) {
  Preferences p = load("COM3");
  EXPECT_EQ(p.portName, "COM3");
  expectDefaultsAfterName(p);

  p = load("COM4 9600 eight N 1 19200");
  EXPECT_EQ(p.portName, "COM4");
  EXPECT_EQ(p.baud, 9600);
  EXPECT_EQ(p.dataBits, 8);
  EXPECT_EQ(p.parity, 'N');
  EXPECT_EQ(p.stopBits, 1);
  EXPECT_EQ(p.maxBaud, 38400);

  p = load("COM5 19200 7 O x 9600");
  EXPECT_EQ(p.baud, 19200);
  EXPECT_EQ(p.dataBits, 7);
  EXPECT_EQ(p.parity, 'O');
  EXPECT_EQ(p.stopBits, 1);
  EXPECT_EQ(p.maxBaud, 38400);
}

TEST_F(PreferencesTest, EmptyAndGarbageFilesGiveDefaults) {
  Preferences p = load("");
  EXPECT_EQ(p.portName, "");
  expectDefaultsAfterName(p);

  p = load(std::string("\0\x01\xff\n", 4));
  EXPECT_EQ(p.portName, "");
  expectDefaultsAfterName(p);

  p = load("   \n COM7 9600 8 N 1 1");  // only the first line counts
  EXPECT_EQ(p.portName, "");
  expectDefaultsAfterName(p);

  p = load(std::string(5000, '7'));
  EXPECT_EQ(p.portName, "");
  expectDefaultsAfterName(p);
}

TEST_F(PreferencesTest, OverLongPortNameIsRefusedWithoutOverrun) {
  // A cut name would open some other port, so it counts as a mismatch of the first value.
  Preferences p = load(std::string(300, 'A') + " 9600 8 N 1 38400");
  EXPECT_EQ(p.portName, "");
  expectDefaultsAfterName(p);

  p = load(std::string(100, 'B') + " 9600");
  EXPECT_EQ(p.portName, "");
  expectDefaultsAfterName(p);

  std::string longest(kPreferencesPortNameMax, 'C');
  p = load(longest + " 9600 8 N 1 19200");
  EXPECT_EQ(p.portName, longest);
  EXPECT_EQ(p.baud, 9600);
  EXPECT_EQ(p.maxBaud, 19200);
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
  EXPECT_EQ(in.baud, out.baud);
  EXPECT_EQ(in.dataBits, out.dataBits);
  EXPECT_EQ(in.parity, out.parity);
  EXPECT_EQ(in.stopBits, out.stopBits);
  EXPECT_EQ(in.maxBaud, out.maxBaud);

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
  ASSERT_EQ(mkdir(asFolder.c_str(), 0755), 0);
  EXPECT_EQ(savePreferences(p, asFolder.c_str()), -1);
  struct stat st;
  ASSERT_EQ(stat(asFolder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(readText(path_), "COM3 9600 8 N 1 38400");
  // The temporary file of the failed save is gone.
  EXPECT_EQ(folderEntries(),
            (std::vector<std::string>{"folder.ini", "korvane_v3.ini", "plain-file"}));
}

TEST_F(PreferencesTest, NameThatWouldNotReadBackIsNotSaved) {
  writeText(path_, "COM3 9600 8 N 1 38400");
  Preferences p;
  for (const std::string& name : {std::string(), std::string("My Port"),
                                  std::string(kPreferencesPortNameMax + 1, 'D')}) {
    p.portName = name;
    EXPECT_EQ(savePreferences(p, path_.c_str()), -1) << name;
    EXPECT_EQ(readText(path_), "COM3 9600 8 N 1 38400");
  }
}

}  // namespace
