// Ports as the engineer names them: a TCP port typed into the port field opens, shows, is
// kept in the preferences and opens again after "Close Port"; a listening port on one local
// address names every peer that comes and goes (in the window, the command line and the
// simulator alike); a serial device refused for lack of permission says how to get it here.
#include "gui_test.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <regex>

#include "session/service_session.h"
#include "settings/service_actions.h"

namespace {

using namespace guitest;

class Ports : public WindowTest {
 protected:
  void TearDown() override {
    xMainForm::serial_sys_root = "/sys/class/tty";
    WindowTest::TearDown();
  }
  bool logMatches(const std::string& pattern) const {
    return std::regex_search(op->log, std::regex(pattern));
  }
  // Lets the port table and the toolkit run until the log matches (or a few seconds pass).
  bool waitForLog(const std::string& pattern) {
    for (const uint32_t until = nowMs() + 5000; !deadlineReached(until);) {
      if (logMatches(pattern)) return true;
      if (state->port) portWaitInput(state->port, 20);
      Fl::wait(0.01);
    }
    return logMatches(pattern);
  }
  // The local address the open listening port is bound to.
  std::string listeningOn() const {
    const PortEntry* e = portEntry(state->port);
    sockaddr_in a{};
    socklen_t n = sizeof a;
    if (!e || getsockname(static_cast<int>(e->handle), reinterpret_cast<sockaddr*>(&a), &n) != 0)
      return "";
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
  }
  void openTyped(const std::string& name) {
    form->port_choice->value(name.c_str());
    press(form->port_button);
  }
};

TEST_F(Ports, TypedPortsOpenShowAndAreKeptAndListeningPortsNameTheirPeers) {
  // One serial device found: offered in the list, and picking it fills the field.
  const std::string sys = dir_ + "/sys";
  ASSERT_EQ(0, system(("mkdir -p '" + sys + "/ttyUSB0/device/driver'").c_str()));
  xMainForm::serial_sys_root = sys.c_str();
  ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--board", "3"}));
  op->textAnswers = {"3"};
  build();  // no preferences: the port stays closed
  ASSERT_EQ(0, state->port);
  ASSERT_EQ(2, form->port_choice->menubutton()->size());
  form->port_choice->value(0);
  EXPECT_STREQ("ttyUSB0", form->port_choice->value());

  // A TCP client port typed in: it opens, the field shows it, the preferences keep it.
  const std::string client = "TCPC_127.0.0.1:" + std::to_string(sim.listenPort());
  openTyped("  " + client + " ");
  ASSERT_NE(0, state->port) << op->log;
  EXPECT_EQ(client, form->port_choice->value());
  EXPECT_FALSE(form->port_choice->active());
  Preferences saved;
  ASSERT_EQ(1, loadPreferences(&saved));
  EXPECT_EQ(client, saved.portName);
  press(form->get_identifier);
  EXPECT_NE(std::string::npos, op->log.find("TRK controller")) << op->log;
  // The simulator names the tool's connection.
  EXPECT_TRUE(std::regex_match(sim.readLine(2000),
                               std::regex("korvane-sim: Peer 127\\.0\\.0\\.1:\\d+ connected")));
  form->show();
  screenshot(form.get(), "port_field_tcp_open");
  // "Close Port", then the same name opens again.
  press(form->port_button);
  EXPECT_EQ(0, state->port);
  EXPECT_TRUE(form->port_choice->active());
  EXPECT_EQ(client, form->port_choice->value());
  EXPECT_TRUE(std::regex_match(sim.readLine(2000),
                               std::regex("korvane-sim: Peer 127\\.0\\.0\\.1:\\d+ left")));
  press(form->port_button);
  ASSERT_NE(0, state->port);
  op->log.clear();
  press(form->get_identifier);
  EXPECT_NE(std::string::npos, op->log.find("TRK controller")) << op->log;
  press(form->port_button);
  sim.stop();

  // TCPS_ on one local address listens there only; plain TCPS_PORT on every address. Each
  // peer is logged as it connects and as it leaves.
  const int listenPort = testsupport::freeTcpPort();
  openTyped("TCPS_127.0.0.1:" + std::to_string(listenPort));
  ASSERT_NE(0, state->port) << op->log;
  EXPECT_EQ("127.0.0.1:" + std::to_string(listenPort), listeningOn());
  op->log.clear();
  simtest::SimProcess peer;
  ASSERT_TRUE(peer.start({"--connect", "127.0.0.1:" + std::to_string(listenPort), "--board", "3"}));
  EXPECT_TRUE(waitForLog("Peer 127\\.0\\.0\\.1:\\d+ connected\n")) << op->log;
  press(form->get_identifier);
  EXPECT_NE(std::string::npos, op->log.find("TRK controller")) << op->log;
  op->log.clear();
  peer.stop();
  EXPECT_TRUE(waitForLog("^Peer 127\\.0\\.0\\.1:\\d+ left\n")) << op->log;
  press(form->port_button);
  openTyped("TCPS_" + std::to_string(listenPort));
  ASSERT_NE(0, state->port);
  EXPECT_EQ("0.0.0.0:" + std::to_string(listenPort), listeningOn());
  press(form->port_button);
  for (const char* bad : {"TCPS_127.0.0:5000", "TCPS_127.0.0.1:", "TCPS_:5000",
                          "TCPS_127.0.0.1:70000", "TCPS_localhost:5000"}) {
    op->log.clear();
    op->alerts.clear();
    openTyped(bad);
    EXPECT_EQ(0, state->port) << bad;
    EXPECT_EQ(Strings{"Cannot open serial port"}, op->alerts) << bad;
    EXPECT_NE(std::string::npos, op->log.find("bad port name")) << bad << ": " << op->log;
  }

  // The command line names the peers of its listening port the same way.
  simtest::SimProcess cliPeer;
  const int cliPort = testsupport::freeTcpPort();
  ASSERT_TRUE(cliPeer.start({"--connect", "127.0.0.1:" + std::to_string(cliPort), "--board", "3"}));
  const simtest::CliRun run = simtest::runCli(
      dir_, "--port TCPS_127.0.0.1:" + std::to_string(cliPort) + " --address 3 identify");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(std::regex_search(run.err, std::regex("korvane-cli: Peer 127\\.0\\.0\\.1:\\d+ "
                                                    "connected\nkorvane-cli: Peer "
                                                    "127\\.0\\.0\\.1:\\d+ left\n")))
      << run.err;
  cliPeer.stop();
}

TEST_F(Ports, ASerialDeviceRefusedForLackOfPermissionSaysHowToGetIt) {
  const group* dialout = getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "no group dialout on this system";
  // A device file of the group, as udev makes them: rw for owner and group only.
  const std::string device = dir_ + "/ttyFAKE0";
  testsupport::writeBytes(device, {});
  ASSERT_EQ(0, chown(device.c_str(), 0, dialout->gr_gid));
  ASSERT_EQ(0, chmod(device.c_str(), 0660));
  ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
  const std::string advice = device +
                             " belongs to the group \"dialout\": add your user to it (sudo usermod "
                             "-aG dialout $USER), then log out and in again.";
  build();
  op->log.clear();
  form->log_open_failure(device.c_str(), EACCES);
  EXPECT_EQ("Cannot open port \"" + device + "\": Permission denied\n" + advice + "\n", op->log);
  // Other failures, and a name the system cannot find, give no advice.
  EXPECT_EQ("Cannot open port \"" + device + "\": Device or resource busy",
            portOpenFailureText(device.c_str(), EBUSY));
  EXPECT_EQ("Cannot open port \"ttyNONE9\": Permission denied",
            portOpenFailureText("ttyNONE9", EACCES));

  // A user outside the group really is refused, and is told the same.
  if (geteuid() != 0 || system("command -v runuser >/dev/null") != 0)
    GTEST_SKIP() << "needs root and runuser to run the command line as another user";
  const std::string cmd = "cd '" + dir_ + "' && runuser -u nobody -- '" + testsupport::buildDir() +
                          "/korvane-cli' --port '" + device + "' identify >out.txt 2>err.txt";
  const int rc = system(cmd.c_str());
  EXPECT_EQ(1, WIFEXITED(rc) ? WEXITSTATUS(rc) : -1);
  const std::string err = testsupport::readText(dir_ + "/err.txt");
  EXPECT_NE(std::string::npos, err.find("Permission denied\n" + advice + "\n")) << err;
}

}  // namespace
