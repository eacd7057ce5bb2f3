// Serial transport over Win32 communications: a COM port opened for overlapped I/O, reads that
// take only what the driver already holds (so they never wait), and a readiness wait that
// sleeps in WaitCommEvent until a character arrives.
#include "link/serial_win32.h"

#include <cstdio>
#include <string>

#include "link/port_internal.h"

namespace {

constexpr uint32_t kSerialDefaultBaud = 4800;
// A write may take this long plus the per-byte allowance before the driver gives it up.
constexpr DWORD kSerialWriteBaseTimeoutMs = 20;
constexpr DWORD kSerialWritePerByteTimeoutMs = 20;
constexpr DWORD kSerialQueueBytes = 4096;
// A wait whose wake-up finds the driver empty (a character that was read before the wait
// began) is armed again at most this often before the caller is let look for itself.
constexpr int kStaleWakeLimit = 3;

// What the row keeps beyond its handle: one event per kind of overlapped operation, and the
// state of the character wait.
struct SerialState {
  HANDLE ioEvent = nullptr;
  HANDLE waitEvent = nullptr;
};

HANDLE handleOf(const PortEntry& e) { return reinterpret_cast<HANDLE>(e.handle); }
SerialState* stateOf(const PortEntry& e) { return static_cast<SerialState*>(e.transportState); }

// The table's own result codes 1, 3 and 9 must not be mistaken for a Windows error.
int openError(DWORD err) {
  if (err == ERROR_PATH_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
  if (err == 0 || err == ERROR_INVALID_FUNCTION || err == ERROR_INVALID_BLOCK || err > 0x7FFFFFFF)
    return ERROR_GEN_FAILURE;
  return static_cast<int>(err);
}

// Bytes the driver holds that have not been read yet; 0 when it cannot tell.
DWORD driverHolds(HANDLE h) {
  DWORD errors = 0;
  COMSTAT st{};
  if (!ClearCommError(h, &errors, &st)) return 0;
  return st.cbInQue;
}

// Runs one overlapped read or write to its end; the bytes moved, 0 on failure.
DWORD finishIo(HANDLE h, OVERLAPPED& ov, BOOL started) {
  DWORD done = 0;
  if (!started && GetLastError() != ERROR_IO_PENDING) return 0;
  if (!GetOverlappedResult(h, &ov, &done, TRUE)) return 0;
  return done;
}

int applyLine(HANDLE h, const DCB& want) {
  DCB copy = want;
  if (!SetCommState(h, &copy)) return openError(GetLastError());
  // A driver may take the call yet round the rate; a silently different rate must not pass
  // as success.
  DCB got{};
  got.DCBlength = sizeof got;
  if (!GetCommState(h, &got)) return openError(GetLastError());
  if (got.BaudRate != want.BaudRate) return ERROR_INVALID_PARAMETER;
  return 0;
}

void freeState(PortEntry& e) {
  SerialState* s = stateOf(e);
  if (!s) return;
  if (s->ioEvent) CloseHandle(s->ioEvent);
  if (s->waitEvent) CloseHandle(s->waitEvent);
  delete s;
  e.transportState = nullptr;
}

int serialOpen(PortEntry& e) {
  const std::wstring path = serialDevicePath(e.name);
  if (path.empty()) return ERROR_INVALID_NAME;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return openError(GetLastError());
  auto fail = [&](DWORD err) {
    CloseHandle(h);
    freeState(e);
    return openError(err);
  };
  SetupComm(h, kSerialQueueBytes, kSerialQueueBytes);
  // Reads return at once with what the driver holds; writes are bounded by the line rate.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = kSerialWritePerByteTimeoutMs;
  timeouts.WriteTotalTimeoutConstant = kSerialWriteBaseTimeoutMs;
  if (!SetCommTimeouts(h, &timeouts)) return fail(GetLastError());
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) return fail(GetLastError());
  // The modem lines stay down, as from a zeroed control block; parity checking is on.
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fParity = TRUE;
  serialBuildDcb(dcb, kSerialDefaultBaud, 8, 'N', 1);
  const int err = applyLine(h, dcb);
  if (err != 0) {
    CloseHandle(h);
    return err;
  }
  if (!SetCommMask(h, EV_RXCHAR)) return fail(GetLastError());
  auto* state = new SerialState;
  e.transportState = state;
  state->ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state->waitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!state->ioEvent || !state->waitEvent) return fail(GetLastError());
  e.handle = reinterpret_cast<intptr_t>(h);
  e.baud = kSerialDefaultBaud;
  e.dataBits = 8;
  e.parity = 'N';
  e.stopBits = 1;
  return 0;
}

void serialClose(PortEntry& e) {
  if (e.handle != -1) CloseHandle(handleOf(e));
  e.handle = -1;
  freeState(e);
}

int serialSetLine(PortEntry& e, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  HANDLE h = handleOf(e);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) return openError(GetLastError());
  if (!serialBuildDcb(dcb, baud, dataBits, parity, stopBits)) return ERROR_INVALID_PARAMETER;
  const int err = applyLine(h, dcb);
  if (err != 0) return err;
  e.baud = baud == 0 ? kSerialDefaultBaud : baud;
  e.dataBits = dataBits;
  e.parity = parity;
  e.stopBits = stopBits;
  return 0;
}

void serialPrepare(PortEntry&) {}

// Reads exactly what the driver reports as held, as far as the ring has room; the rest stays
// in the driver until the reader makes room. Errors (an adapter pulled out) deliver nothing;
// the caller's time-out reports it.
void serialPump(PortEntry& e, uint16_t port) {
  HANDLE h = handleOf(e);
  SerialState* s = stateOf(e);
  DWORD held = driverHolds(h);
  while (held > 0) {
    const size_t span = ringSpan(e);
    if (span == 0) return;
    const DWORD want = span < held ? static_cast<DWORD>(span) : held;
    OVERLAPPED ov{};
    ov.hEvent = s->ioEvent;
    ResetEvent(s->ioEvent);
    const BOOL started = ReadFile(h, e.rxRing + e.rxWrite, want, nullptr, &ov);
    const DWORD got = finishIo(h, ov, started);
    if (got == 0) return;
    ringCommit(e, port, got);
    held -= got < held ? got : held;
  }
}

// The result is 1 even when the line takes fewer bytes: a lost frame shows up as a missing reply.
int serialWrite(PortEntry& e, const uint8_t* data, size_t count) {
  HANDLE h = handleOf(e);
  SerialState* s = stateOf(e);
  size_t done = 0;
  while (done < count) {
    const size_t rest = count - done;
    const DWORD chunk = rest > MAXDWORD ? MAXDWORD : static_cast<DWORD>(rest);
    OVERLAPPED ov{};
    ov.hEvent = s->ioEvent;
    ResetEvent(s->ioEvent);
    const BOOL started = WriteFile(h, data + done, chunk, nullptr, &ov);
    const DWORD wrote = finishIo(h, ov, started);
    if (wrote == 0) break;  // the write time-out passed, or the line is gone
    done += wrote;
  }
  return 1;
}

// Sleeps in WaitCommEvent until the driver holds as many characters as the row's wake
// threshold asks for (one when none is set). Characters the driver already holds are new to
// the ring, so enough of them end the wait at once. A character that brings the count closer
// re-arms the wait; one that was read before the wait began counts as a stale wake. The wait
// is never left pending on return: an idle port then costs nothing between waits.
int serialWait(PortEntry& e, uint32_t timeoutMs) {
  HANDLE h = handleOf(e);
  SerialState* s = stateOf(e);
  if (h == INVALID_HANDLE_VALUE || !s) return -1;
  const DWORD need = e.wakeThreshold > 0 ? e.wakeThreshold : 1;
  const uint32_t start = monotonicMs();
  DWORD held = driverHolds(h);
  int staleWakes = 0;
  while (staleWakes < kStaleWakeLimit) {
    if (held >= need) return 1;
    OVERLAPPED ov{};
    ov.hEvent = s->waitEvent;
    ResetEvent(s->waitEvent);
    DWORD mask = 0;
    if (!WaitCommEvent(h, &mask, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING) return -1;
      // Armed first, looked second: a character arriving in between still ends the wait.
      if (driverHolds(h) >= need) {
        CancelIoEx(h, &ov);
        DWORD ignored;
        GetOverlappedResult(h, &ov, &ignored, TRUE);
        return 1;
      }
      const uint32_t elapsed = monotonicMs() - start;
      const DWORD left = elapsed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - elapsed);
      const DWORD r = WaitForSingleObject(s->waitEvent, left);
      if (r != WAIT_OBJECT_0) CancelIoEx(h, &ov);
      DWORD ignored;
      GetOverlappedResult(h, &ov, &ignored, TRUE);
      if (r == WAIT_TIMEOUT) return driverHolds(h) >= need ? 1 : 0;
      if (r != WAIT_OBJECT_0) return -1;
    }
    const DWORD now = driverHolds(h);
    if (now <= held) ++staleWakes;  // told of a character that has been read already
    held = now;
    if (held < need && monotonicMs() - start >= timeoutMs) return 0;
  }
  return 1;
}

// The driver is not told the count: the wait above sleeps again until it holds that many.
void serialSetWakeThreshold(PortEntry& e, uint8_t bytes) { e.wakeThreshold = bytes; }

void serialDiscard(PortEntry& e) { PurgeComm(handleOf(e), PURGE_RXCLEAR); }

int serialTxEmpty(PortEntry& e) {
  DWORD errors = 0;
  COMSTAT st{};
  if (!ClearCommError(handleOf(e), &errors, &st)) return 1;
  return st.cbOutQue == 0 ? 1 : 0;
}

}  // namespace

bool serialBuildDcb(DCB& dcb, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  if (dataBits < 5 || dataBits > 8) return false;
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud == 0 ? kSerialDefaultBaud : baud;
  dcb.ByteSize = dataBits;
  if (stopBits == 1) dcb.StopBits = ONESTOPBIT;
  if (stopBits == 2) dcb.StopBits = TWOSTOPBITS;
  switch (parity) {
    case 'N':
      dcb.Parity = NOPARITY;
      break;
    case 'O':
      dcb.Parity = ODDPARITY;
      break;
    case 'E':
      dcb.Parity = EVENPARITY;
      break;
    case 'M':
      dcb.Parity = MARKPARITY;
      break;
    case 'S':
    case 'Z':
      dcb.Parity = SPACEPARITY;
      break;
    default:
      break;  // other letters leave the parity as it was
  }
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
  // Some drivers refuse a block whose XON and XOFF characters are equal, even unused.
  if (dcb.XonChar == dcb.XoffChar) {
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
  }
  return true;
}

std::wstring serialDevicePath(const char* name) {
  static const wchar_t kDevicePrefix[] = L"\\\\.\\";
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (units <= 1) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, &wide[0], units);
  wide.resize(static_cast<size_t>(units - 1));
  if (wide.compare(0, 4, kDevicePrefix) == 0) return wide;
  return kDevicePrefix + wide;
}

const PortTransport kSerialTransport = {
    serialOpen,  serialClose, serialSetLine,          serialPrepare, serialPump,
    serialWrite, serialWait,  serialSetWakeThreshold, serialDiscard, serialTxEmpty};

const int kOsErrorNoMemory = ERROR_NOT_ENOUGH_MEMORY;

const char* osErrorText(int code) {
  static thread_local char text[256];
  // English first, like the rest of the link layer's words; else the system's language.
  DWORD n = 0;
  for (DWORD language : {static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT)), 0ul}) {
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), language, text, sizeof text, nullptr);
    if (n != 0) break;
  }
  if (n == 0) {
    std::snprintf(text, sizeof text, "Windows error %d", code);
    return text;
  }
  // The system's text ends with a line break, which a log line must not carry.
  size_t len = n;
  while (len > 0 && (text[len - 1] == '\r' || text[len - 1] == '\n' || text[len - 1] == ' ')) --len;
  text[len] = '\0';
  return text;
}

// Windows does not grant COM ports through groups: there is nothing of this kind to explain.
bool serialDeviceAccess(const char*, SerialDeviceAccess*) { return false; }
