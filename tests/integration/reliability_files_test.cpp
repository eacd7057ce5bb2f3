// Safe files: the settings export and the preferences are written to a temporary file and
// renamed, so a full disk (a file-size limit here) or a folder that cannot be written never
// leaves a truncated file in place of a good one, and the engineer gets a clear message.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "settings/preferences.h"
#include "settings/settings_json.h"
#include "settings/settings_sequences.h"
#include "settings/settings_state.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace {

using testsupport::readText;
using testsupport::writeText;

int entriesIn(const std::string& dir) {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

// A "full disk" for this process: files cannot grow past limit bytes. The signal that the
// limit raises is ignored so the write fails with EFBIG instead of killing the test.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit r = saved_;
    r.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

const MainSettings sampleMain = [] {
  MainSettings m;
  m.bytes.fill(0x11);
  return m;
}();
const ExtraSettings sampleExtra = [] {
  ExtraSettings x;
  x.bytes.fill(0x22);
  return x;
}();

TEST(
    ReliabilityFiles,
    ExportThatHitsAFullDiskLeavesThePreviousFileWholeAndNoTemporaryBehindAndSparesAFileNamedLikeIt) {
  const std::string dir = testsupport::makeTempDir();
  const std::string path = dir + "/board.json";
  const std::string good = "{\"main_setts\":{},\"mass_setts\":{}}\n";
  writeText(path, good);
  writeText(path + ".tmp", "the engineer's own notes");  // named like a temporary, never touched
  const std::string full = settingsFileText(sampleMain, sampleExtra);
  ASSERT_GT(full.size(), 64u);
  {
    FileSizeLimit limit(64);
    EXPECT_EQ(saveSettingsFile(path, sampleMain, sampleExtra), kJsonCannotOpen);
  }
  EXPECT_EQ(readText(path), good);
  EXPECT_EQ(entriesIn(dir), 2);
  // With room again the same call replaces the file whole.
  EXPECT_EQ(saveSettingsFile(path, sampleMain, sampleExtra), kJsonOk);
  EXPECT_EQ(readText(path), full);
  EXPECT_EQ(readText(path + ".tmp"), "the engineer's own notes");
  EXPECT_EQ(entriesIn(dir), 2);
}

TEST(ReliabilityFiles, PreferencesThatHitAFullDiskKeepTheOldLine) {
  const std::string dir = testsupport::makeTempDir();
  const std::string path = dir + "/korvane_v3.ini";
  Preferences old;
  old.portName = "TCPC_127.0.0.1:5000";
  ASSERT_EQ(savePreferences(old, path.c_str()), 1);
  const std::string before = readText(path);
  Preferences next;
  next.portName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0";
  next.baud = 115200;
  {
    FileSizeLimit limit(16);
    EXPECT_EQ(savePreferences(next, path.c_str()), -1);
  }
  EXPECT_EQ(readText(path), before);
  EXPECT_EQ(entriesIn(dir), 1);
  Preferences back;
  EXPECT_EQ(loadPreferences(&back, path.c_str()), 1);
  EXPECT_EQ(back.portName, old.portName);
}

TEST(ReliabilityFiles, AFolderThatCannotBeWrittenGivesWriteErrorAndCreatesNothing) {
  const std::string dir = testsupport::makeTempDir();
  // A regular file where a folder should be: nothing can be created below it, even as root.
  const std::string notAFolder = dir + "/plain-file";
  writeText(notAFolder, "x");
  Preferences p;
  p.portName = "STUB";
  EXPECT_EQ(savePreferences(p, (notAFolder + "/korvane_v3.ini").c_str()), -1);
  EXPECT_EQ(saveSettingsFile(notAFolder + "/board.json", sampleMain, sampleExtra), kJsonCannotOpen);

  // The export reads the board first (it writes no file without both records), so a
  // simulated board is served.
  simtest::SimProcess sim;
  const uint16_t port = simtest::openSimPort(sim, {});
  ASSERT_NE(port, 0);
  UTRKDevice dev(port);
  ScriptedOperator op;
  BoardSession session;
  session.dev = &dev;
  session.op = &op;
  SettingsState st;
  ASSERT_EQ(identifyAndRefresh(session, st, 1), 1);
  op.clearLog();
  EXPECT_EQ(exportSettings(session, st, notAFolder + "/board.json"), 0);
  portClose(port);
  ASSERT_EQ(op.alerts.size(), 1u);
  EXPECT_NE(op.alerts[0].find("Write error"), std::string::npos);
  EXPECT_NE(op.alerts[0].find(notAFolder + "/board.json"), std::string::npos) << op.alerts[0];
  EXPECT_EQ(entriesIn(dir), 1);
}

}  // namespace
