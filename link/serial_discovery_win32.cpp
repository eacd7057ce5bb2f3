// Serial port discovery from the registry: the values of the serial device map, whose data
// are the port names ("COM3") that portOpen takes.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/serial_discovery.h"
#include "util/utf16_win32.h"

const char kSerialPortSource[] = "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

namespace {

// Only the values under the first 16 indices are looked at, as many as the list holds.
constexpr DWORD kSerialCommValueIndices = kSerialPortListSize;
constexpr DWORD kValueNameUnits = 256;
constexpr DWORD kValueDataUnits = 256;

struct RootKey {
  const char* name;
  HKEY key;
};

// Splits "HKEY_...\sub\key" into its root and the UTF-16 path below it.
bool splitKeyPath(const char* source, HKEY* root, std::wstring* subKey) {
  static const RootKey kRoots[] = {{"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
                                   {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}};
  for (const RootKey& r : kRoots) {
    const size_t n = std::strlen(r.name);
    if (std::strncmp(source, r.name, n) != 0) continue;
    const char* rest = source + n;
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, rest, -1, nullptr, 0);
    if (units <= 0) return false;
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, rest, -1, wide.data(), units);
    *root = r.key;
    *subKey = wide.data();
    return true;
  }
  return false;
}

}  // namespace

void discoverSerialPorts(SerialPortList* list, const char* source) {
  if (!list) return;
  list->count = 0;
  HKEY root;
  std::wstring subKey;
  if (!source || !splitKeyPath(source, &root, &subKey)) return;
  HKEY key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  std::vector<std::string> found;
  for (DWORD index = 0; index < kSerialCommValueIndices; ++index) {
    wchar_t name[kValueNameUnits];
    DWORD nameUnits = kValueNameUnits;
    wchar_t data[kValueDataUnits + 1];
    DWORD dataBytes = kValueDataUnits * sizeof(wchar_t);
    DWORD type = 0;
    const LONG rc = RegEnumValueW(key, index, name, &nameUnits, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data), &dataBytes);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;  // a failing index is skipped
    // The data need not end with a NUL of its own.
    size_t units = dataBytes / sizeof(wchar_t);
    data[units] = L'\0';
    units = wcslen(data);
    const std::string port = utf8FromUtf16(data, units);
    if (!port.empty()) found.push_back(port);
  }
  RegCloseKey(key);
  fillSerialPortList(list, std::move(found));
}
