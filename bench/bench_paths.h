// Where the benches find their companions (korvane-sim): in the directory of the running
// bench executable, as the build puts them side by side.
#pragma once
#include <unistd.h>

#include <climits>
#include <string>

namespace bench {

// name in the directory of this executable; "./name" when /proc cannot tell where that is.
inline std::string besideSelf(const char* name) {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string("./") + name;
  const std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + name;
}

}  // namespace bench
