// The tests' temporary folders, loopback sockets and the korvane-sim / korvane-cli harness on
// Windows: Winsock, CreateProcessW with pipes, a job object that takes the children down with
// the test, and the simulator's stop event.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "support/sim_process.h"
#include "support/test_support.h"

namespace testsupport {

namespace {

struct TempDirs {
  std::vector<std::string> dirs;
  ~TempDirs() {
    for (auto& d : dirs) {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::u8path(d), ec);
    }
  }
};

bool winsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET raw(int fd) { return static_cast<SOCKET>(fd); }
int handleOf(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

sockaddr_in loopback(int tcpPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(tcpPort));
  return a;
}

SOCKET newSocket() {
  if (!winsockStarted()) return INVALID_SOCKET;
  // Not inherited: a simulator started by the test must not keep the test's sockets open.
  return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                    WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

// One argument as CreateProcess's command line quotes it (backslashes doubled before quotes).
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

// A job that ends every child the tests start when the test process ends, however it ends.
HANDLE childJob() {
  static HANDLE job = [] {
    HANDLE j = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (j) SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return j;
  }();
  return job;
}

// Starts a program of the build folder with the given standard handles; the process handle,
// or nullptr.
HANDLE startProgram(const std::string& program, const std::wstring& arguments,
                    const std::string& folder, HANDLE in, HANDLE out, HANDLE err) {
  const std::wstring exe = wide(buildDir() + "/" + program + ".exe");
  std::wstring commandLine = quoted(exe) + L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  const std::wstring cwd = wide(folder);
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
    return nullptr;
  if (HANDLE job = childJob()) AssignProcessToJobObject(job, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

HANDLE inheritableNul() {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     OPEN_EXISTING, 0, nullptr);
}

}  // namespace

std::string makeTempDir() {
  static TempDirs dirs;
  static std::mt19937 random(static_cast<unsigned>(
      GetCurrentProcessId() ^ std::chrono::steady_clock::now().time_since_epoch().count()));
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = base / ("korvane-test-" + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) {
      // Forward slashes, as the tests join paths with '/'.
      std::string path = dir.u8string();
      std::replace(path.begin(), path.end(), '\\', '/');
      dirs.dirs.push_back(path);
      return path;
    }
  }
  return {};
}

bool lockTerminalRate(const std::string&) {
  errno = ENOSYS;  // no terminals on Windows
  return false;
}

void setEnv(const std::string& name, const std::string& value) {
  _wputenv_s(wide(name).c_str(), wide(value).c_str());
}

int listenOn(int tcpPort, int backlog) {
  SOCKET s = newSocket();
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in a = loopback(tcpPort);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0) {
    closesocket(s);
    return -1;
  }
  return handleOf(s);
}

int boundPort(int fd) {
  sockaddr_in a{};
  int len = sizeof a;
  return getsockname(raw(fd), reinterpret_cast<sockaddr*>(&a), &len) == 0 ? ntohs(a.sin_port) : 0;
}

int acceptWithin(int listener, int ms) {
  if (!waitReady(listener, false, ms)) return -1;
  return handleOf(accept(raw(listener), nullptr, nullptr));
}

int connectTo(int tcpPort) {
  SOCKET s = newSocket();
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in a = loopback(tcpPort);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return handleOf(s);
  closesocket(s);
  return -1;
}

int connectStarted(int tcpPort) {
  SOCKET s = newSocket();
  if (s == INVALID_SOCKET) return -1;
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  sockaddr_in a = loopback(tcpPort);
  connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return handleOf(s);
}

bool sendAll(int fd, const Bytes& data) {
  for (size_t done = 0; done < data.size();) {
    const int r = send(raw(fd), reinterpret_cast<const char*>(data.data() + done),
                       static_cast<int>(data.size() - done), 0);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

Bytes recvBytes(int fd, size_t n, int ms) {
  Bytes out;
  while (out.size() < n) {
    if (!waitReady(fd, false, ms)) break;
    uint8_t buf[4096];
    const long r = recvSome(fd, buf, std::min(sizeof buf, n - out.size()));
    if (r <= 0) break;
    out.insert(out.end(), buf, buf + r);
  }
  return out;
}

long recvSome(int fd, uint8_t* buf, size_t max) {
  return recv(raw(fd), reinterpret_cast<char*>(buf), static_cast<int>(max), 0);
}

bool waitReady(int fd, bool forWrite, int ms) {
  WSAPOLLFD p{};
  p.fd = raw(fd);
  p.events = forWrite ? POLLWRNORM : POLLRDNORM;
  return WSAPoll(&p, 1, ms) == 1;
}

void closeSocket(int fd) {
  if (fd >= 0) closesocket(raw(fd));
}

void resetOnClose(int fd) {
  const linger hard{1, 0};
  setsockopt(raw(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
}

void setNoDelay(int fd) {
  BOOL on = TRUE;
  setsockopt(raw(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace testsupport

namespace simtest {

namespace {

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

constexpr DWORD kSimPipeBytes = 1 << 20;

// Bytes waiting in a pipe without blocking; false when the writer has gone.
bool pipeHolds(HANDLE pipe, DWORD* n) {
  *n = 0;
  return PeekNamedPipe(pipe, nullptr, 0, nullptr, n, nullptr) != 0;
}

}  // namespace

bool SimProcess::start(const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  // The test reads the simulator's output only when it asks for it. A pipe of the system's
  // default size (a few KiB) fills with a --verbose simulator's frame log within a few
  // commands, and the simulator then stops answering the bus until the test reads; a pipe as
  // roomy as a Linux one keeps the simulator running between reads.
  if (!CreatePipe(&outRead, &outWrite, &sa, kSimPipeBytes)) return false;
  if (!CreatePipe(&errRead, &errWrite, &sa, kSimPipeBytes)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return false;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  std::wstring arguments;
  for (const std::string& a : args) arguments += testsupport::quoted(testsupport::wide(a)) + L" ";
  HANDLE nul = testsupport::inheritableNul();
  HANDLE process = testsupport::startProgram("korvane-sim", arguments, "", nul, outWrite, errWrite);
  CloseHandle(nul);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  outFd_ = reinterpret_cast<intptr_t>(outRead);
  errFd_ = reinterpret_cast<intptr_t>(errRead);
  if (!process) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    outFd_ = errFd_ = -1;
    return false;
  }
  pid_ = reinterpret_cast<intptr_t>(process);
  readyLine = readLine(kSimReadyTimeoutMs);
  return readyLine.rfind("korvane-sim: ", 0) == 0;
}

int SimProcess::stop() {
  if (pid_ == -1) return exitStatus_;
  HANDLE process = asHandle(pid_);
  const std::wstring name =
      testsupport::wide("Local\\korvane-sim-stop-" + std::to_string(GetProcessId(process)));
  if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str())) {
    SetEvent(event);
    CloseHandle(event);
  }
  DWORD code = 0;
  if (WaitForSingleObject(process, kSimStopTimeoutMs) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process, &code)) {
    exitStatus_ = static_cast<int>(code);
  } else {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    exitStatus_ = -1;
  }
  CloseHandle(process);
  pid_ = -1;
  drainErr();
  CloseHandle(asHandle(outFd_));
  CloseHandle(asHandle(errFd_));
  outFd_ = errFd_ = -1;
  return exitStatus_;
}

std::string SimProcess::readLine(int timeoutMs) {
  std::string line;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  HANDLE pipe = asHandle(outFd_);
  while (outFd_ != -1) {
    DWORD held = 0;
    if (!pipeHolds(pipe, &held)) return line;
    if (held == 0) {
      if (std::chrono::steady_clock::now() >= end) return line;
      Sleep(1);
      continue;
    }
    char c;
    DWORD got = 0;
    if (!ReadFile(pipe, &c, 1, &got, nullptr) || got != 1 || c == '\n') return line;
    line += c;
  }
  return line;
}

std::string SimProcess::stderrText() {
  drainErr();
  return err_;
}

void SimProcess::drainErr() {
  HANDLE pipe = asHandle(errFd_);
  DWORD held = 0;
  while (errFd_ != -1 && pipeHolds(pipe, &held) && held > 0) {
    char buf[4096];
    DWORD got = 0;
    if (!ReadFile(pipe, buf, std::min<DWORD>(held, sizeof buf), &got, nullptr) || got == 0) break;
    err_.append(buf, got);
  }
}

// Reads a pipe to its end (every writer gone) on a thread of its own.
std::thread readToEnd(HANDLE pipe, std::string* text) {
  return std::thread([pipe, text] {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) text->append(buf, got);
  });
}

CliRun runCli(const std::string& dir, const std::string& args) {
  CliRun r;
  // Pipes rather than files: their end comes only once the program and every copy of its
  // handles are gone, so no output can arrive after it was read.
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &sa, 0)) return r;
  if (!CreatePipe(&errRead, &errWrite, &sa, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return r;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = testsupport::inheritableNul();
  HANDLE process = testsupport::startProgram("korvane-cli", testsupport::wide(args), dir, nul,
                                             outWrite, errWrite);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  CloseHandle(nul);
  std::thread outReader = readToEnd(outRead, &r.out);
  std::thread errReader = readToEnd(errRead, &r.err);
  outReader.join();
  errReader.join();
  CloseHandle(outRead);
  CloseHandle(errRead);
  if (process) {
    DWORD code = 0;
    WaitForSingleObject(process, INFINITE);
    if (GetExitCodeProcess(process, &code)) r.status = static_cast<int>(code);
    CloseHandle(process);
  }
  return r;
}

}  // namespace simtest
