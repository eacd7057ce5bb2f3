// Helpers shared by the tests on every platform: build paths, files, and reaching korvane-sim
// through the port table. The sockets, temporary folders and child processes are in
// test_support_posix.cpp and test_support_win32.cpp.
#include "support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "link/port_internal.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"

std::vector<std::string> ScriptedOperator::logLines() const {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

namespace testsupport {

std::string buildDir() { return KORVANE_BUILD_DIR; }
std::string sourceDir() { return KORVANE_SOURCE_DIR; }

int freeTcpPort() {
  const int s = listenOn(0);
  const int port = s >= 0 ? boundPort(s) : 0;
  if (s >= 0) closeSocket(s);
  return port;
}

std::string readText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

uint16_t openClientTo(int listener, int* peer) {
  uint16_t port = 0;
  const std::string name = "TCPC_127.0.0.1:" + std::to_string(boundPort(listener));
  if (portOpen(name.c_str(), &port) != 0) return 0;
  portAvailable(port);  // starts the connect
  *peer = acceptWithin(listener);
  for (int i = 0; i < kPeerTimeoutMs && *peer >= 0 && !portEntry(port)->connected; ++i) {
    portAvailable(port);
    sleepRealMs(1);
  }
  return *peer >= 0 && portEntry(port)->connected ? port : 0;
}

}  // namespace testsupport

namespace simtest {

int SimProcess::listenPort() const {
  const size_t colon = readyLine.rfind(':');
  return colon == std::string::npos ? 0 : std::atoi(readyLine.c_str() + colon + 1);
}

uint16_t openSimPort(SimProcess& sim, const std::vector<std::string>& args) {
  std::vector<std::string> all{"--listen", "127.0.0.1:0"};
  all.insert(all.end(), args.begin(), args.end());
  if (!sim.start(all)) return 0;
  tickStart();
  portTableShutdownForTests();
  portTableInit();
  uint16_t port = 0;
  const std::string name = "TCPC_127.0.0.1:" + std::to_string(sim.listenPort());
  if (portOpen(name.c_str(), &port) != 0) return 0;
  // The client connects on first use; wait for it so the first request is not lost.
  for (int waited = 0; waited < kSimReadyTimeoutMs; waited += 5) {
    portAvailable(port);
    if (portEntry(port)->connected) return port;
    sleepRealMs(5);
  }
  return 0;
}

uint16_t openSimPty(SimProcess& sim, const std::string& path, const std::vector<std::string>& args,
                    uint32_t baud) {
  std::vector<std::string> all{"--pty", path};
  all.insert(all.end(), args.begin(), args.end());
  if (!sim.start(all)) return 0;
  tickStart();
  portTableShutdownForTests();
  portTableInit();
  uint16_t port = 0;
  if (portOpen(path.c_str(), &port) != 0 || portSetLine(port, baud, 8, 'N', 1) != 0) return 0;
  return port;
}

}  // namespace simtest
