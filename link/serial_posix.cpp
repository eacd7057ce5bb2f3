// Serial transport over termios: a tty opened non-blocking in raw mode, line settings
// applied exactly or refused, reads that take only what the driver already holds.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "link/port_internal.h"

namespace {

constexpr uint32_t kSerialDefaultBaud = 4800;
// A write may take this long plus the per-byte allowance before the rest is given up.
constexpr uint32_t kSerialWriteBaseTimeoutMs = 20;
constexpr uint32_t kSerialWritePerByteTimeoutMs = 20;

bool speedFor(uint32_t baud, speed_t* out) {
  struct Rate {
    uint32_t baud;
    speed_t speed;
  };
  static const Rate kRates[] = {
      {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
      {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
      {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
      {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
      {460800, B460800},
#endif
#ifdef B500000
      {500000, B500000},
#endif
#ifdef B576000
      {576000, B576000},
#endif
#ifdef B921600
      {921600, B921600},
#endif
#ifdef B1000000
      {1000000, B1000000},
#endif
#ifdef B1152000
      {1152000, B1152000},
#endif
#ifdef B1500000
      {1500000, B1500000},
#endif
#ifdef B2000000
      {2000000, B2000000},
#endif
#ifdef B2500000
      {2500000, B2500000},
#endif
#ifdef B3000000
      {3000000, B3000000},
#endif
#ifdef B3500000
      {3500000, B3500000},
#endif
#ifdef B4000000
      {4000000, B4000000},
#endif
  };
  for (const Rate& r : kRates) {
    if (r.baud == baud) {
      *out = r.speed;
      return true;
    }
  }
  return false;
}

}  // namespace

bool serialBuildLine(termios& tio, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  speed_t speed;
  if (!speedFor(baud == 0 ? kSerialDefaultBaud : baud, &speed)) {
    errno = EINVAL;
    return false;
  }
#ifdef CMSPAR
  const tcflag_t stick = CMSPAR;
#else
  const tcflag_t stick = 0;
  if (parity == 'M' || parity == 'S' || parity == 'Z') {  // no mark/space parity on this system
    errno = EINVAL;
    return false;
  }
#endif
  tcflag_t size;
  switch (dataBits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      errno = EINVAL;
      return false;
  }
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  tio.c_cflag = (tio.c_cflag & ~CSIZE) | size;
  if (stopBits == 1) tio.c_cflag &= ~CSTOPB;
  if (stopBits == 2) tio.c_cflag |= CSTOPB;
  switch (parity) {
    case 'N':
      tio.c_cflag &= ~(PARENB | PARODD | stick);
      break;
    case 'O':
      tio.c_cflag = (tio.c_cflag & ~stick) | PARENB | PARODD;
      break;
    case 'E':
      tio.c_cflag = (tio.c_cflag & ~(stick | PARODD)) | PARENB;
      break;
    case 'M':
    case 'S':
    case 'Z':
      tio.c_cflag |= PARENB | stick;
      if (parity == 'M')
        tio.c_cflag |= PARODD;
      else
        tio.c_cflag &= ~PARODD;
      break;
    default:
      break;  // other letters leave the parity as it was
  }
  if (tio.c_cflag & PARENB)
    tio.c_iflag |= INPCK;
  else
    tio.c_iflag &= ~INPCK;
  return true;
}

namespace {

// Applies tio and checks the driver really took the rate: tcsetattr() succeeds when any
// part of the request was applied, and a silently different rate must not pass as success.
int applyLine(int fd, const termios& want) {
  if (tcsetattr(fd, TCSANOW, &want) != 0) return errno;
  termios got{};
  if (tcgetattr(fd, &got) != 0) return errno;
  // Only the rate is checked: a pseudo-terminal, for one, always carries 8-bit bytes and
  // reports CS8 without parity whatever it was asked.
  if (cfgetospeed(&got) != cfgetospeed(&want) || cfgetispeed(&got) != cfgetispeed(&want))
    return EINVAL;
  return 0;
}

int serialOpen(PortEntry& e) {
  std::string path = e.name[0] == '/' ? std::string(e.name) : std::string("/dev/") + e.name;
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    // The table's own result codes 1, 3 and 9 must not be mistaken for an OS error.
    if (err == EPERM) err = EACCES;
    if (err == ESRCH || err == EBADF) err = EIO;
    return err;
  }
  ioctl(fd, TIOCEXCL);  // one user of the line at a time; not every tty supports it
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    int err = errno;
    close(fd);
    return err;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  serialBuildLine(tio, kSerialDefaultBaud, 8, 'N', 1);
  int err = applyLine(fd, tio);
  if (err != 0) {
    close(fd);
    return err;
  }
  e.handle = fd;
  e.baud = kSerialDefaultBaud;
  e.dataBits = 8;
  e.parity = 'N';
  e.stopBits = 1;
  return 0;
}

void serialClose(PortEntry& e) {
  if (e.handle >= 0) close(static_cast<int>(e.handle));
  e.handle = -1;
}

int serialSetLine(PortEntry& e, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  const int fd = static_cast<int>(e.handle);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return errno;
  if (!serialBuildLine(tio, baud, dataBits, parity, stopBits)) return errno;
  int err = applyLine(fd, tio);
  if (err != 0) return err;
  e.baud = baud == 0 ? kSerialDefaultBaud : baud;
  e.dataBits = dataBits;
  e.parity = parity;
  e.stopBits = stopBits;
  return 0;
}

void serialPrepare(PortEntry&) {}

void serialPump(PortEntry& e, uint16_t port) {
  // Errors (a USB adapter pulled out) simply deliver nothing; the caller's time-out reports it.
  ringFillFromFd(e, port, static_cast<int>(e.handle), false);
}

// The result is 1 even when the line takes fewer bytes: a lost frame shows up as a missing reply.
int serialWrite(PortEntry& e, const uint8_t* data, size_t count) {
  const int fd = static_cast<int>(e.handle);
  const uint32_t limit =
      kSerialWriteBaseTimeoutMs + kSerialWritePerByteTimeoutMs * static_cast<uint32_t>(count);
  const uint32_t start = monotonicMs();
  size_t done = 0;
  while (done < count) {
    ssize_t r = write(fd, data + done, count - done);
    if (r > 0) {
      done += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    const uint32_t waited = monotonicMs() - start;
    if (waited >= limit) break;
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(limit - waited));
  }
  return 1;
}

int serialPollFds(PortEntry& e, pollfd* fds, int maxFds) {
  if (maxFds < 1 || e.handle < 0) return 0;
  fds[0] = pollfd{static_cast<int>(e.handle), POLLIN, 0};
  return 1;
}

void serialDiscard(PortEntry& e) { tcflush(static_cast<int>(e.handle), TCIFLUSH); }

int serialTxEmpty(PortEntry& e) {
  int queued = 0;
  if (ioctl(static_cast<int>(e.handle), TIOCOUTQ, &queued) != 0) return 1;
  return queued == 0 ? 1 : 0;
}

}  // namespace

const PortTransport kSerialTransport = {serialOpen,    serialClose,   serialSetLine,
                                        serialPrepare, serialPump,    serialWrite,
                                        serialPollFds, serialDiscard, serialTxEmpty};
