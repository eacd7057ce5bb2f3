// Serial port discovery from sysfs: every entry of the tty class that is backed by a real
// device (it has device/driver) and is not a placeholder UART, sorted for the port choice.
#include "link/serial_discovery.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Length of the name without its trailing decimal digits.
size_t stemLength(const char* s, size_t len) {
  size_t n = len;
  while (n > 0 && s[n - 1] >= '0' && s[n - 1] <= '9') --n;
  return n;
}

int compareBytes(const char* a, const char* b) {
  const int r = std::strcmp(a, b);  // strcmp compares as unsigned char
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// The 8250 driver registers a row of ttyS ports whether or not a UART is fitted; those that
// have none report the port type 0 (unknown).
bool isPlaceholderUart(const std::string& entryDir) {
  FILE* f = std::fopen((entryDir + "/type").c_str(), "r");
  if (!f) return false;
  int type = -1;
  const bool read = std::fscanf(f, "%d", &type) == 1;
  std::fclose(f);
  return read && type == 0;
}

}  // namespace

int compareSerialPortNames(const char* a, const char* b) {
  const size_t la = std::strlen(a), lb = std::strlen(b);
  const size_t sa = stemLength(a, la), sb = stemLength(b, lb);
  if (sa > 0 && sb > 0 && sa < la && sb < lb && sa == sb && std::memcmp(a, b, sa) == 0) {
    // Same stem: compare the numbers by value without converting (no overflow), so leading
    // zeros are skipped and then the longer digit string is the larger number.
    const char* da = a + sa;
    const char* db = b + sb;
    while (*da == '0' && da[1] != '\0') ++da;
    while (*db == '0' && db[1] != '\0') ++db;
    const size_t na = std::strlen(da), nb = std::strlen(db);
    if (na != nb) return na < nb ? -1 : 1;
    const int r = std::strcmp(da, db);
    if (r != 0) return r < 0 ? -1 : 1;
    // Equal values ("ttyS01", "ttyS1") still need a fixed order.
  }
  return compareBytes(a, b);
}

void discoverSerialPorts(SerialPortList* list, const char* sysRoot) {
  if (!list) return;
  list->count = 0;
  if (!sysRoot) return;
  DIR* dir = opendir(sysRoot);
  if (!dir) return;
  std::vector<std::string> found;
  while (dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name.empty() || name[0] == '.') continue;
    // A cut name would open some other device, so a name too long for the list is left out.
    if (name.size() >= static_cast<size_t>(kSerialPortNameSize)) continue;
    const std::string entryDir = std::string(sysRoot) + "/" + name;
    struct stat st {};
    if (stat((entryDir + "/device/driver").c_str(), &st) != 0) continue;
    if (isPlaceholderUart(entryDir)) continue;
    found.push_back(name);
  }
  closedir(dir);
  // Sorted before the cut to 16, so which ports make the list does not depend on the
  // order the folder happens to be read in.
  std::sort(found.begin(), found.end(), [](const std::string& x, const std::string& y) {
    return compareSerialPortNames(x.c_str(), y.c_str()) < 0;
  });
  for (const std::string& n : found) {
    if (list->count >= kSerialPortListSize) break;
    std::snprintf(list->names[list->count], kSerialPortNameSize, "%s", n.c_str());
    ++list->count;
  }
}
