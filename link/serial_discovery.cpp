// The order of the port list and its filling, shared by the discovery of every platform.
#include "link/serial_discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

void fillSerialPortList(SerialPortList* list, std::vector<std::string> names) {
  list->count = 0;
  std::sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) {
    return compareSerialPortNames(x.c_str(), y.c_str()) < 0;
  });
  for (const std::string& n : names) {
    if (list->count >= kSerialPortListSize) break;
    if (n.empty() || n.size() >= static_cast<size_t>(kSerialPortNameSize)) continue;
    std::snprintf(list->names[list->count], kSerialPortNameSize, "%s", n.c_str());
    ++list->count;
  }
}
