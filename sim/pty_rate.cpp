// The rate the tool set on the simulator's pseudo-terminal, read through termios2 so that
// a rate without a code of its own (14400, 28800, ...) is seen as the number it is. Kept
// apart because the kernel's termios2 header cannot share a file with the C library's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "sim/transport.h"

namespace sim {

uint32_t ptyLineRate(int fd) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  const tcflag_t code = t.c_cflag & CBAUD;
  if (code == BOTHER) return t.c_ospeed;
  struct Rate {
    tcflag_t code;
    uint32_t baud;
  };
  static const Rate kRates[] = {
      {B1200, 1200},       {B2400, 2400},       {B4800, 4800},       {B9600, 9600},
      {B19200, 19200},     {B38400, 38400},     {B57600, 57600},     {B115200, 115200},
      {B230400, 230400},   {B460800, 460800},   {B500000, 500000},   {B576000, 576000},
      {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
      {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000},
      {B4000000, 4000000},
  };
  for (const Rate& r : kRates)
    if (r.code == code) return r.baud;
  return 0;  // a rate the simulator does not check
}

}  // namespace sim
