// korvane-sim on Windows: a stop comes from the console (Ctrl+C, Ctrl+Break, the window
// closing) or from the named event "Local\korvane-sim-stop-<process id>" that the tests'
// harness sets; either one wakes the WSAPoll() of the loop through a loopback socket pair.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "sim/line.h"
#include "sim/platform.h"

namespace sim {

namespace {

constexpr int kMaxWaitHandles = 4;
constexpr UINT kTimerPeriodMs = 1;
// Lines for standard output that wait for a slow reader; more are dropped.
constexpr size_t kMaxWaitingNotes = 64;

std::atomic<bool> gStop{false};
SOCKET gWakeRead = INVALID_SOCKET;
SOCKET gWakeWrite = INVALID_SOCKET;

uint64_t steadyNs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void requestStop() {
  gStop = true;
  if (gWakeWrite != INVALID_SOCKET) {
    const char b = 1;
    send(gWakeWrite, &b, 1, 0);
  }
}

BOOL WINAPI onConsoleEvent(DWORD) {
  requestStop();
  return TRUE;
}

DWORD WINAPI watchStopEvent(LPVOID event) {
  if (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) == WAIT_OBJECT_0) requestStop();
  return 0;
}

// A connected pair of loopback sockets: a byte written to one end wakes a wait on the other.
bool makeWakePair() {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  bool ok = bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0;
  if (ok) {
    gWakeWrite = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ok = gWakeWrite != INVALID_SOCKET &&
         connect(gWakeWrite, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  if (ok) {
    gWakeRead = accept(listener, nullptr, nullptr);
    ok = gWakeRead != INVALID_SOCKET;
  }
  closesocket(listener);
  if (ok) {
    u_long nonBlocking = 1;
    ioctlsocket(gWakeRead, FIONBIO, &nonBlocking);
    SetHandleInformation(reinterpret_cast<HANDLE>(gWakeRead), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(reinterpret_cast<HANDLE>(gWakeWrite), HANDLE_FLAG_INHERIT, 0);
  }
  return ok;
}

std::string toUtf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], bytes, nullptr, nullptr);
  out.resize(static_cast<size_t>(bytes - 1));
  return out;
}

std::wstring toWide(const std::string& text) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (units <= 1) return {};
  std::wstring out(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], units);
  out.resize(static_cast<size_t>(units - 1));
  return out;
}

// A pipe's reader may stop reading, and a write to a full pipe would block: notes go out from
// a thread of their own, which may wait without holding the boards up.
class NoteWriter {
 public:
  void add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_) {
      std::thread([this] { run(); }).detach();
      started_ = true;
    }
    if (lines_.size() >= kMaxWaitingNotes) return;
    lines_.push_back(line);
    wake_.notify_one();
  }

 private:
  void run() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    for (;;) {
      std::string line;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return !lines_.empty(); });
        line = std::move(lines_.front());
        lines_.pop_front();
      }
      DWORD written = 0;
      WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> lines_;
  bool started_ = false;
};

}  // namespace

void setUpProcess() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  makeWakePair();
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  const std::wstring name = toWide(stopEventName(GetCurrentProcessId()));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (event) CloseHandle(CreateThread(nullptr, 0, watchStopEvent, event, 0, nullptr));
  timeBeginPeriod(kTimerPeriodMs);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool stopRequested() { return gStop; }

std::string stopEventName(unsigned long processId) {
  return "Local\\korvane-sim-stop-" + std::to_string(processId);
}

void waitForEvents(WaitHandle* items, int n, uint64_t dueNs) {
  WSAPOLLFD fds[kMaxWaitHandles + 1];
  const int count = n < kMaxWaitHandles ? n : kMaxWaitHandles;
  for (int i = 0; i < count; ++i) {
    fds[i] = WSAPOLLFD{};
    fds[i].fd = static_cast<SOCKET>(items[i].handle);
    fds[i].events = items[i].forWrite ? POLLWRNORM : POLLRDNORM;
  }
  int total = count;
  if (gWakeRead != INVALID_SOCKET) {
    fds[total] = WSAPOLLFD{};
    fds[total].fd = gWakeRead;
    fds[total].events = POLLRDNORM;
    ++total;
  }
  INT timeoutMs = -1;
  if (dueNs != kNeverNs) {
    const uint64_t t = steadyNs();
    const uint64_t left = dueNs > t ? dueNs - t : 0;
    // Rounded up: waking before the byte is due would only mean another wait.
    const uint64_t ms = (left + 999999ull) / 1000000ull;
    timeoutMs = ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<INT>(ms);
  }
  if (total == 0) {
    Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  } else {
    WSAPoll(fds, static_cast<ULONG>(total), timeoutMs);
  }
  for (int i = 0; i < count; ++i) items[i].ready = fds[i].revents != 0;
}

void writeNoteLine(const std::string& line) {
  static NoteWriter* writer = new NoteWriter;  // lives to the end of the process
  writer->add(line);
}

std::string timeStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char b[32];
  std::snprintf(b, sizeof b, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return b;
}

std::tm localTime(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  int n = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide && n == argc) {
    for (int i = 0; i < n; ++i) args.push_back(toUtf8(wide[i]));
  } else {
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  }
  LocalFree(wide);
  return args;
}

FILE* openFile(const std::string& path, const char* mode) {
  std::wstring wideMode;
  for (const char* m = mode; *m; ++m) wideMode += static_cast<wchar_t>(*m);
  const std::wstring wide = toWide(path);
  return wide.empty() ? nullptr : _wfopen(wide.c_str(), wideMode.c_str());
}

}  // namespace sim
