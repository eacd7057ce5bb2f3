// The desktop launcher in an installed layout of its own (prefix/bin, prefix/share): it must
// start the program in the per-user folder with the installed Russian catalog reachable as
// ru/korvane_v3.mo there, forward the arguments, and keep that folder between runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"
#include "util/catalog.h"

namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void writeExecutable(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
  ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testsupport::makeTempDir();
    prefix_ = root_ + "/usr";
    home_ = root_ + "/home";
    fs::create_directories(prefix_ + "/bin");
    fs::create_directories(prefix_ + "/share/korvane_v3/ru");
    fs::create_directories(home_);
    fs::copy_file(testsupport::sourceDir() + "/packaging/korvane_v3-launcher",
                  prefix_ + "/bin/korvane_v3-launcher");
    ASSERT_EQ(chmod((prefix_ + "/bin/korvane_v3-launcher").c_str(), 0755), 0);
    fs::copy_file(testsupport::buildDir() + "/ru/korvane_v3.mo", installedCatalog());
    // Stands in for the GUI program: records where it runs and what it got, and keeps a
    // preferences line across runs the way the program does.
    writeExecutable(prefix_ + "/bin/korvane_v3",
                    "#!/bin/sh\n"
                    "pwd > \"$KORVANE_TEST_REPORT\"\n"
                    "echo \"$@\" >> \"$KORVANE_TEST_REPORT\"\n"
                    "if [ -f korvane_v3.ini ]; then echo seen >> \"$KORVANE_TEST_REPORT\"; fi\n"
                    "echo 'TCPC_127.0.0.1:5000 9600 8 N 1 38400' > korvane_v3.ini\n"
                    "exit 7\n");
  }
  void TearDown() override { catalog_unload(); }

  std::string installedCatalog() const { return prefix_ + "/share/korvane_v3/ru/korvane_v3.mo"; }
  std::string report() const { return root_ + "/report.txt"; }

  // Runs the launcher with the given environment assignments; returns its exit status.
  int launch(const std::string& env, const std::string& args = "") {
    const std::string cmd = "env -i PATH=/usr/bin:/bin KORVANE_TEST_REPORT='" + report() + "' " +
                            env + " '" + prefix_ + "/bin/korvane_v3-launcher' " + args + " 2>'" +
                            root_ + "/stderr.txt'";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  std::string root_, prefix_, home_;
};

TEST_F(LauncherTest, StartsTheProgramInTheUserFolderWithTheInstalledCatalog) {
  const std::string config = root_ + "/config";
  // The program's own exit status comes back through the launcher.
  EXPECT_EQ(launch("HOME='" + home_ + "' XDG_CONFIG_HOME='" + config + "'", "-geometry 800x600"),
            7);
  const std::string work = config + "/korvane_v3";
  EXPECT_EQ(readAll(report()), work + "\n-geometry 800x600\n");

  const std::string link = work + "/ru/korvane_v3.mo";
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), installedCatalog());
  // The catalog found from the working folder gives the Russian texts.
  ASSERT_EQ(catalog_load_path(link.c_str()), 1);
  EXPECT_STREQ(tr("Restart"), "Перезапуск");

  // A second start runs in the same folder and finds the preferences the first one wrote.
  EXPECT_EQ(launch("HOME='" + home_ + "' XDG_CONFIG_HOME='" + config + "'"), 7);
  EXPECT_EQ(readAll(report()), work + "\n\nseen\n");
}

TEST_F(LauncherTest, UsesDotConfigWhenXdgConfigHomeIsUnsetOrRelative) {
  EXPECT_EQ(launch("HOME='" + home_ + "'"), 7);
  EXPECT_EQ(readAll(report()), home_ + "/.config/korvane_v3\n\n");
  EXPECT_EQ(launch("HOME='" + home_ + "' XDG_CONFIG_HOME=relative/dir"), 7);
  EXPECT_EQ(readAll(report()), home_ + "/.config/korvane_v3\n\nseen\n");
  EXPECT_FALSE(fs::exists(root_ + "/relative"));
}

TEST_F(LauncherTest, KeepsACatalogTheEngineerPutThereAndFollowsAMovedInstall) {
  const std::string work = home_ + "/.config/korvane_v3";
  fs::create_directories(work + "/ru");
  std::ofstream(work + "/ru/korvane_v3.mo") << "own catalog";
  EXPECT_EQ(launch("HOME='" + home_ + "'"), 7);
  EXPECT_FALSE(fs::is_symlink(work + "/ru/korvane_v3.mo"));
  EXPECT_EQ(readAll(work + "/ru/korvane_v3.mo"), "own catalog");

  // A link left by an older install elsewhere is pointed at the catalog installed now.
  fs::remove(work + "/ru/korvane_v3.mo");
  fs::create_symlink(root_ + "/gone/korvane_v3.mo", work + "/ru/korvane_v3.mo");
  EXPECT_EQ(launch("HOME='" + home_ + "'"), 7);
  EXPECT_EQ(fs::read_symlink(work + "/ru/korvane_v3.mo"), installedCatalog());
}

TEST_F(LauncherTest, RefusesClearlyWithoutAHomeOrAProgram) {
  EXPECT_EQ(launch(""), 1);
  EXPECT_NE(readAll(root_ + "/stderr.txt").find("HOME"), std::string::npos);
  EXPECT_FALSE(fs::exists(report()));

  fs::remove(prefix_ + "/bin/korvane_v3");
  EXPECT_EQ(launch("HOME='" + home_ + "'"), 1);
  EXPECT_NE(readAll(root_ + "/stderr.txt").find("missing"), std::string::npos);
}

}  // namespace
