// Files on Windows: UTF-8 paths become UTF-16 for _wfopen and CreateFileW; the whole-file
// replacement writes a temporary file of our own, flushes it to the disk with
// FlushFileBuffers and moves it over the old file with MoveFileExW (write-through).
#include <windows.h>

#include <io.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdlib>

#include "util/files.h"
#include "util/utf16_win32.h"

namespace {

constexpr int kTempNameAttempts = 100;
constexpr DWORD kModulePathUnits = 32768;  // the longest path Windows has

std::wstring toWide(const std::string& text, bool* ok) {
  *ok = true;
  if (text.empty()) return {};
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) {
    *ok = false;
    return {};
  }
  std::wstring out(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      &out[0], units);
  // A NUL inside would cut the name short and name some other file.
  if (out.find(L'\0') != std::wstring::npos) *ok = false;
  return out;
}

// The UTF-16 name the system is given. A name as long as MAX_PATH or longer is made absolute
// and given the "\\?\" prefix, which lifts the limit of 260 units (the tool's own limits,
// such as the 1999 of an image path, are what counts).
std::wstring systemPath(const std::string& path, bool* ok) {
  std::wstring wide = toWide(path, ok);
  if (!*ok || wide.size() < MAX_PATH || wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
  const DWORD units = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (units == 0) return wide;
  std::wstring full(units, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), units, &full[0], nullptr);
  if (got == 0 || got >= units) return wide;
  full.resize(got);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

int errnoOf(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return EINVAL;
    default:
      return EIO;
  }
}

std::string folderOf(const std::string& path) {
  const size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

}  // namespace

std::string utf8FromUtf16(const wchar_t* text, size_t units) {
  if (units == 0) return {};
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), &out[0], bytes, nullptr, nullptr);
  return out;
}

FILE* fileOpen(const std::string& path, const char* mode) {
  bool ok;
  const std::wstring wide = systemPath(path, &ok);
  std::wstring wideMode;
  for (const char* m = mode; *m; ++m) wideMode += static_cast<wchar_t>(*m);
  if (!ok || wide.empty()) {
    errno = path.empty() ? ENOENT : EINVAL;
    return nullptr;
  }
  return _wfopen(wide.c_str(), wideMode.c_str());
}

bool fileIsRegular(FILE* f, uint64_t* size) {
  if (!f) return false;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  if (size) *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

int fileReplaceContents(const std::string& path, const std::string& text) {
  bool ok;
  const std::wstring target = systemPath(path, &ok);
  if (!ok || target.empty()) return errno = path.empty() ? ENOENT : EINVAL;
  // A temporary name of our own, created exclusively: never an existing file of the engineer's.
  std::wstring temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kTempNameAttempts && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp =
        target + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(attempt);
    h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
      return errno = errnoOf(GetLastError());
  }
  if (h == INVALID_HANDLE_VALUE) return errno = EEXIST;
  DWORD err = 0;
  for (size_t done = 0; err == 0 && done < text.size();) {
    const size_t rest = text.size() - done;
    const DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
    DWORD wrote = 0;
    if (!WriteFile(h, text.data() + done, chunk, &wrote, nullptr) || wrote == 0)
      err = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    done += wrote;
  }
  if (err == 0 && !FlushFileBuffers(h)) err = GetLastError();
  CloseHandle(h);
  if (err == 0 && !MoveFileExW(temp.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    err = GetLastError();
  if (err != 0) {
    DeleteFileW(temp.c_str());
    return errno = errnoOf(err);
  }
  return 0;
}

std::string programFolder() {
  std::wstring buf(kModulePathUnits, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, &buf[0], kModulePathUnits);
  if (n == 0 || n >= kModulePathUnits) return {};
  return folderOf(utf8FromUtf16(buf.data(), n));
}

std::string userDataFolder() {
  // %APPDATA% first (what the engineer's session says), else the system's known folder.
  if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData && appData[0] != L'\0')
    return utf8FromUtf16(appData, wcslen(appData)) + "\\korvane_v3";
  PWSTR known = nullptr;
  std::string out;
  if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known) == S_OK && known)
    out = utf8FromUtf16(known, wcslen(known)) + "\\korvane_v3";
  CoTaskMemFree(known);
  return out;
}

bool enterFolder(const std::string& path) {
  bool ok;
  const std::wstring wide = toWide(path, &ok);
  if (!ok || wide.empty()) return false;
  // Every folder on the way, from the first one below the drive or share.
  for (size_t at = wide.find_first_of(L"\\/", 3);; at = wide.find_first_of(L"\\/", at + 1)) {
    const std::wstring part = at == std::wstring::npos ? wide : wide.substr(0, at);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
        GetLastError() != ERROR_ACCESS_DENIED)
      return false;
    if (at == std::wstring::npos) break;
  }
  return SetCurrentDirectoryW(wide.c_str()) != 0;
}

std::vector<std::string> programArguments(int argc, char** argv) {
  std::vector<std::string> args;
  int n = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide && n == argc) {
    for (int i = 0; i < n; ++i) args.push_back(utf8FromUtf16(wide[i], wcslen(wide[i])));
  } else {
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  }
  LocalFree(wide);
  return args;
}
