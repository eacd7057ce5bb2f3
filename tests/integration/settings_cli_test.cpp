// The settings commands of korvane-cli against korvane-sim: the tool's texts on the
// right stream and the exit status, and an export/import round trip through files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "integration/sim_harness.h"

namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class SettingsCli : public ::testing::Test {
 protected:
  void start(const std::vector<std::string>& simArgs) {
    dir = testsupport::makeTempDir();
    std::vector<std::string> all{"--listen", "127.0.0.1:0"};
    all.insert(all.end(), simArgs.begin(), simArgs.end());
    ASSERT_TRUE(sim.start(all));
  }
  CliRun run(const std::string& args) {
    const std::string cmd = "cd '" + dir + "' && '" + testsupport::buildDir() + "/korvane-cli' --port TCPC_127.0.0.1:" +
                            std::to_string(sim.listenPort()) + " " + args + " >out.txt 2>err.txt </dev/null";
    const int rc = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(dir + "/out.txt");
    r.err = slurp(dir + "/err.txt");
    return r;
  }
  simtest::SimProcess sim;
  std::string dir;
};

TEST_F(SettingsCli, ServiceCommandsPrintTheToolsTexts) {
  start({"--admin-password", "1234"});
  CliRun r = run("restart");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Reset result=1\n");

  r = run("serial 0001234");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Please enter correct serial number"), std::string::npos);
  r = run("serial 12345678");   // not confirmed without --yes
  EXPECT_EQ(r.status, 1);
  r = run("--yes serial 12345678");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Serial write result=1\n");

  r = run("display-mode 3");
  EXPECT_EQ(r.out, "Display mode result=1\n");
  EXPECT_EQ(run("display-mode 300").status, 2);

  r = run("--password 1234 preset shelf --sides 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Choose the nozzle count"), std::string::npos);
  EXPECT_EQ(run("preset nosuchpump --nozzles 1").status, 2);

  r = run("passwd admin 12345");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Password must be between 0000 and 9999"), std::string::npos);

  r = run("--password 1111 --yes clear");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Wrong password"), std::string::npos);
  r = run("--password 1234 --yes clear");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Controller clear result=1\nReset result=1\n");
}

TEST_F(SettingsCli, ExportImportAndMeters) {
  start({"--key-off"});
  CliRun r = run("export saved");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(slurp(dir + "/saved.json").rfind("{\"main_setts\":{\"sat_channel\":", 0), 0u);

  r = run("import saved.json");   // "Start writing?" answered No
  EXPECT_EQ(r.status, 1);
  r = run("--yes import saved.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Write extra settings error"), std::string::npos);
  EXPECT_NE(r.err.find("Turn the configuration key on"), std::string::npos);

  r = run("meters");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Meter 1A type "), std::string::npos);
  r = run("meters --phase 1A=2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Turn the configuration key on"), std::string::npos);
  EXPECT_EQ(run("meters --phase 9Z=1").status, 2);
}

}  // namespace
