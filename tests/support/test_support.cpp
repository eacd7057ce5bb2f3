// Helpers shared by the tests: build paths, temporary folders, files, loopback sockets and the
// korvane-sim / korvane-cli harness.
#include "support/test_support.h"

#include <arpa/inet.h>
#include <asm/termbits.h>  // the kernel's struct termios for the lock; no <termios.h> here
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench/child_process.h"
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

sockaddr_in loopback(int tcpPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(tcpPort));
  return a;
}
}  // namespace

std::string makeTempDir() {
  static TempDirs dirs;
  std::string templ = (std::filesystem::temp_directory_path() / "korvane-test-XXXXXX").string();
  if (!mkdtemp(templ.data())) return {};
  dirs.dirs.push_back(templ);
  return templ;
}

bool lockTerminalRate(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct termios locked {};
  locked.c_cflag = CBAUD | CIBAUD;  // the rate bits of both directions keep their value
  const bool ok = ioctl(fd, TIOCSLCKTRMIOS, &locked) == 0;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

int freeTcpPort() {
  const int s = listenOn(0);
  const int port = s >= 0 ? boundPort(s) : 0;
  if (s >= 0) close(s);
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

int listenOn(int tcpPort, int backlog) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = loopback(tcpPort);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int boundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  return getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? ntohs(a.sin_port) : 0;
}

int acceptWithin(int listener, int ms) {
  pollfd p{listener, POLLIN, 0};
  return poll(&p, 1, ms) == 1 ? accept(listener, nullptr, nullptr) : -1;
}

int connectTo(int tcpPort) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(tcpPort);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  close(fd);
  return -1;
}

bool sendAll(int fd, const Bytes& data) {
  for (size_t done = 0; done < data.size();) {
    const ssize_t r = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

Bytes recvBytes(int fd, size_t n, int ms) {
  Bytes out;
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) break;
    uint8_t buf[4096];
    const ssize_t r = read(fd, buf, std::min(sizeof buf, n - out.size()));
    if (r <= 0) break;
    out.insert(out.end(), buf, buf + r);
  }
  return out;
}

uint16_t openClientTo(int listener, int* peer) {
  uint16_t port = 0;
  const std::string name = "TCPC_127.0.0.1:" + std::to_string(boundPort(listener));
  if (portOpen(name.c_str(), &port) != 0) return 0;
  portAvailable(port);  // starts the connect
  *peer = acceptWithin(listener);
  for (int i = 0; i < kPeerTimeoutMs && *peer >= 0 && !portEntry(port)->connected; ++i) {
    portAvailable(port);
    usleep(1000);
  }
  return *peer >= 0 && portEntry(port)->connected ? port : 0;
}

}  // namespace testsupport

namespace simtest {

bool SimProcess::start(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return false;
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // However the test ends (the toolkit calls exit() when it finds no display), the
    // simulator ends with it.
    bench::endWithParent(parent);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    std::vector<std::string> all{testsupport::buildDir() + "/korvane-sim"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  fcntl(errFd_, F_SETFL, O_NONBLOCK);
  readyLine = readLine(kSimReadyTimeoutMs);
  return readyLine.rfind("korvane-sim: ", 0) == 0;
}

int SimProcess::stop() {
  if (pid_ <= 0) return exitStatus_;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < kSimStopTimeoutMs; waited += 10) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      drainErr();
      close(outFd_);
      close(errFd_);
      return exitStatus_;
    }
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return -1;
}

int SimProcess::listenPort() const {
  const size_t colon = readyLine.rfind(':');
  return colon == std::string::npos ? 0 : std::atoi(readyLine.c_str() + colon + 1);
}

std::string SimProcess::readLine(int timeoutMs) {
  std::string line;
  char c;
  for (;;) {
    pollfd p{outFd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1 || read(outFd_, &c, 1) != 1 || c == '\n') return line;
    line += c;
  }
}

std::string SimProcess::stderrText() {
  drainErr();
  return err_;
}

void SimProcess::drainErr() {
  char buf[4096];
  ssize_t r;
  while (errFd_ >= 0 && (r = read(errFd_, buf, sizeof buf)) > 0)
    err_.append(buf, static_cast<size_t>(r));
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
    usleep(5000);
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

CliRun runCli(const std::string& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir + "' && '" + testsupport::buildDir() + "/korvane-cli' " +
                          args + " >out.txt 2>err.txt </dev/null";
  const int rc = std::system(cmd.c_str());
  CliRun r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = testsupport::readText(dir + "/out.txt");
  r.err = testsupport::readText(dir + "/err.txt");
  return r;
}

}  // namespace simtest
