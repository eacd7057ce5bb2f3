// Serial port discovery from sysfs: every entry of the tty class that is backed by a real
// device (it has device/driver) and is not a placeholder UART.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/serial_discovery.h"

const char kSerialPortSource[] = "/sys/class/tty";

namespace {

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
  fillSerialPortList(list, std::move(found));
}
