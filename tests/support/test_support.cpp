// Helpers shared by the tests.
#include "support/test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "support/scripted_operator.h"

std::vector<std::string> ScriptedOperator::logLines() const {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < log.size()) {
    size_t nl = log.find('\n', start);
    if (nl == std::string::npos) {
      out.push_back(log.substr(start));
      break;
    }
    out.push_back(log.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

namespace testsupport {

std::string buildDir() { return KORVANE_BUILD_DIR; }
std::string sourceDir() { return KORVANE_SOURCE_DIR; }

namespace {
struct TempDirs {
  std::vector<std::string> dirs;
  ~TempDirs() {
    for (auto& d : dirs) {
      std::error_code ec;
      std::filesystem::remove_all(d, ec);
    }
  }
};
TempDirs& tempDirs() {
  static TempDirs t;
  return t;
}
}  // namespace

std::string makeTempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "korvane-test-XXXXXX").string();
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  const char* d = mkdtemp(buf.data());
  if (!d) return {};
  tempDirs().dirs.push_back(d);
  return d;
}

int freeTcpPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

}  // namespace testsupport
