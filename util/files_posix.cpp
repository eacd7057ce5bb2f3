// Files on Linux: paths are UTF-8 already; the whole-file replacement writes a temporary file
// of our own, fsyncs it, renames it over the old file and makes the rename durable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "util/files.h"

namespace {

constexpr int kTempNameAttempts = 100;

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool writeAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

FILE* fileOpen(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool fileIsRegular(FILE* f, uint64_t* size) {
  struct stat st;
  if (!f || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = static_cast<uint64_t>(st.st_size);
  return true;
}

int fileReplaceContents(const std::string& path, const std::string& text) {
  if (path.empty()) return errno = ENOENT;
  // A temporary name of our own, created exclusively: never an existing file of the engineer's.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(static_cast<long>(::getpid())) + "_" +
           std::to_string(attempt);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return errno = EEXIST;
  bool ok = writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());  // the caller names the reason; unlink must not replace it
    return errno = err;
  }
  // Make the rename itself durable; the file is already complete either way.
  const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

std::string programFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = '\0';
  const std::string path(buf, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::string userDataFolder() {
  // XDG_CONFIG_HOME counts only when absolute; otherwise the usual ~/.config.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/korvane_v3";
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::string(home) + "/.config/korvane_v3";
  return {};
}

bool enterFolder(const std::string& path) {
  if (path.empty()) return false;
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = at == std::string::npos ? path : path.substr(0, at);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  return ::chdir(path.c_str()) == 0;
}

std::vector<std::string> programArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return args;
}
