// The tests' temporary folders, loopback sockets and the korvane-sim / korvane-cli harness on
// Linux: mkdtemp, BSD sockets, fork and exec, SIGTERM.
#include <arpa/inet.h>
#include <asm/termbits.h>  // the kernel's struct termios for the lock; no <termios.h> here
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "bench/child_process.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace testsupport {

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

void setEnv(const std::string& name, const std::string& value) {
  if (value.empty())
    unsetenv(name.c_str());
  else
    setenv(name.c_str(), value.c_str(), 1);
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

int connectStarted(int tcpPort) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in a = loopback(tcpPort);
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

long recvSome(int fd, uint8_t* buf, size_t max) { return recv(fd, buf, max, 0); }

bool waitReady(int fd, bool forWrite, int ms) {
  pollfd p{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  return poll(&p, 1, ms) == 1;
}

void closeSocket(int fd) {
  if (fd >= 0) close(fd);
}

void resetOnClose(int fd) {
  const linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

void setNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
  fcntl(static_cast<int>(errFd_), F_SETFL, O_NONBLOCK);
  readyLine = readLine(kSimReadyTimeoutMs);
  return readyLine.rfind("korvane-sim: ", 0) == 0;
}

int SimProcess::stop() {
  if (pid_ <= 0) return exitStatus_;
  const pid_t pid = static_cast<pid_t>(pid_);
  kill(pid, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < kSimStopTimeoutMs; waited += 10) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      drainErr();
      close(static_cast<int>(outFd_));
      close(static_cast<int>(errFd_));
      return exitStatus_;
    }
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  pid_ = -1;
  return -1;
}

std::string SimProcess::readLine(int timeoutMs) {
  std::string line;
  char c;
  for (;;) {
    pollfd p{static_cast<int>(outFd_), POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1 || read(p.fd, &c, 1) != 1 || c == '\n') return line;
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
  while (errFd_ >= 0 && (r = read(static_cast<int>(errFd_), buf, sizeof buf)) > 0)
    err_.append(buf, static_cast<size_t>(r));
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
