// What the transports of every platform share: the "HOST:PORT" of --listen and --connect.
#include <cstdlib>

#include "sim/transport.h"

namespace sim {

bool splitHostPort(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  char* end = nullptr;
  const long p = std::strtol(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || p < 0 || p > 65535) return false;
  *host = text.substr(0, colon);
  *port = static_cast<int>(p);
  return true;
}

}  // namespace sim
