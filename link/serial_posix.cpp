// Serial transport over the kernel's termios2 interface: a tty opened non-blocking in raw
// mode, line settings applied exactly or refused, reads that take only what the driver
// already holds. termios2 carries the rate as a number, so every rate a driver can run
// (14400, 28800, 56000, 128000, 256000, ...) is asked for as it is.
#include <asm/termbits.h>  // struct termios2, BOTHER; glibc's <termios.h> must stay out
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "link/port_internal.h"
#include "link/serial_posix.h"

namespace {

constexpr uint32_t kSerialDefaultBaud = 4800;
// Above every UART and USB adapter; a larger number is a typing error, not a rate.
constexpr uint32_t kSerialMaxBaud = 20000000;
// Room for one group or user entry; large groups need more than the usual 1 KiB.
constexpr size_t kGroupBufferBytes = 64 * 1024;
// A write may take this long plus the per-byte allowance before the rest is given up.
constexpr uint32_t kSerialWriteBaseTimeoutMs = 20;
constexpr uint32_t kSerialWritePerByteTimeoutMs = 20;
// poll() takes a signed int; longer waits simply end early and are waited again.
constexpr uint32_t kMaxPollMs = 0x7FFFFFFF;

struct Rate {
  uint32_t baud;
  tcflag_t code;
};
// The rates with a code of their own. Drivers know these best, so they are asked for by
// code; any other rate goes as BOTHER with the number.
const Rate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t codeFor(uint32_t baud) {
  for (const Rate& r : kRates)
    if (r.baud == baud) return r.code;
  return BOTHER;
}

// The rate a rate code stands for (speed is the number that goes with BOTHER).
uint32_t rateOf(tcflag_t code, uint32_t speed) {
  if (code == BOTHER) return speed;
  for (const Rate& r : kRates)
    if (r.code == code) return r.baud;
  return 0;  // B0 (hang up) or a code this table does not know
}

}  // namespace

uint32_t serialOutputRate(const termios2& tio) { return rateOf(tio.c_cflag & CBAUD, tio.c_ospeed); }

uint32_t serialInputRate(const termios2& tio) {
  const tcflag_t code = (tio.c_cflag & CIBAUD) >> IBSHIFT;
  return code == 0 ? serialOutputRate(tio) : rateOf(code, tio.c_ispeed);  // 0: as the output
}

bool serialBuildLine(termios2& tio, uint32_t baud, uint8_t dataBits, char parity,
                     uint8_t stopBits) {
  if (baud == 0) baud = kSerialDefaultBaud;
  if (baud > kSerialMaxBaud) {
    errno = EINVAL;
    return false;
  }
  const tcflag_t stick = CMSPAR;
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
  // One rate both ways: no input code of its own, so the input follows the output.
  tio.c_cflag = (tio.c_cflag & ~(CBAUD | CIBAUD)) | codeFor(baud);
  tio.c_ospeed = baud;
  tio.c_ispeed = baud;
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

// Applies tio and checks the driver really took the rate: the kernel takes the call when
// any part of the request was applied, and a driver that cannot run a rate keeps another
// (or puts the nearest one it can run in its place), which must not pass as success.
int applyLine(int fd, const termios2& want) {
  if (ioctl(fd, TCSETS2, &want) != 0) return errno;
  termios2 got{};
  if (ioctl(fd, TCGETS2, &got) != 0) return errno;
  // Only the rate is checked: a pseudo-terminal, for one, always carries 8-bit bytes and
  // reports CS8 without parity whatever it was asked.
  if (serialOutputRate(got) != serialOutputRate(want) ||
      serialInputRate(got) != serialInputRate(want))
    return kPortRateNotTaken;
  return 0;
}

void makeRaw(termios2& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

std::string devicePath(const char* name) {
  return name[0] == '/' ? std::string(name) : std::string("/dev/") + name;
}

int serialOpen(PortEntry& e) {
  const std::string path = devicePath(e.name);
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    // The table's own result codes 1, 3 and 9 must not be mistaken for an OS error.
    if (err == EPERM) err = EACCES;
    if (err == ESRCH || err == EBADF) err = EIO;
    return err;
  }
  ioctl(fd, TIOCEXCL);  // one user of the line at a time; not every tty supports it
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    int err = errno;
    close(fd);
    return err;
  }
  makeRaw(tio);
  serialBuildLine(tio, kSerialDefaultBaud, 8, 'N', 1);
  int err = applyLine(fd, tio);
  uint32_t rate = kSerialDefaultBaud;
  if (err == kPortRateNotTaken) {
    // 4800 is only where the line starts until its owner sets the rate it wants; a driver
    // that keeps another rate still opens, at the rate it runs.
    termios2 got{};
    err = ioctl(fd, TCGETS2, &got) == 0 ? 0 : errno;
    rate = serialOutputRate(got);
  }
  if (err != 0) {
    close(fd);
    return err;
  }
  e.handle = fd;
  e.baud = rate;
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
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
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
  const int fd = static_cast<int>(e.handle);
  for (;;) {
    const size_t span = ringSpan(e);
    if (span == 0) return;  // the rest stays in the driver until the reader makes room
    const ssize_t r = read(fd, e.rxRing + e.rxWrite, span);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    ringCommit(e, port, static_cast<size_t>(r));
    if (static_cast<size_t>(r) < span) return;
  }
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

int serialWait(PortEntry& e, uint32_t timeoutMs) {
  if (e.handle < 0) return -1;
  pollfd p{static_cast<int>(e.handle), POLLIN, 0};
  const uint32_t start = monotonicMs();
  for (;;) {
    const uint32_t elapsed = monotonicMs() - start;
    const uint32_t left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    const int r =
        poll(&p, 1, left > kMaxPollMs ? static_cast<int>(kMaxPollMs) : static_cast<int>(left));
    if (r >= 0) return r > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

// The line's VMIN: poll() on a terminal in raw mode with VTIME 0 reports input only once VMIN
// bytes are queued. Reads stay non-blocking (O_NONBLOCK), so VMIN changes nothing else; the
// rest of the line is written back as it was read.
void serialSetWakeThreshold(PortEntry& e, uint8_t bytes) {
  if (bytes == 0) bytes = 1;
  if (e.wakeThreshold == bytes) return;
  const int fd = static_cast<int>(e.handle);
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return;
  tio.c_cc[VMIN] = bytes;
  tio.c_cc[VTIME] = 0;
  if (ioctl(fd, TCSETS2, &tio) == 0) e.wakeThreshold = bytes;
}

void serialDiscard(PortEntry& e) { ioctl(static_cast<int>(e.handle), TCFLSH, TCIFLUSH); }

int serialTxEmpty(PortEntry& e) {
  int queued = 0;
  if (ioctl(static_cast<int>(e.handle), TIOCOUTQ, &queued) != 0) return 1;
  return queued == 0 ? 1 : 0;
}

}  // namespace

bool serialDeviceAccess(const char* name, SerialDeviceAccess* out) {
  if (name == nullptr || *name == '\0' || out == nullptr) return false;
  SerialDeviceAccess a;
  a.path = devicePath(name);
  struct stat st {};
  if (stat(a.path.c_str(), &st) != 0) return false;
  std::vector<char> buf(kGroupBufferBytes);
  group gr{};
  group* found = nullptr;
  if (getgrgid_r(st.st_gid, &gr, buf.data(), buf.size(), &found) != 0 || found == nullptr)
    return false;
  a.group = found->gr_name;
  // Listed: the group is the user's own, or the user is named among its members.
  passwd pw{};
  passwd* me = nullptr;
  std::vector<char> pwbuf(kGroupBufferBytes);
  if (getpwuid_r(getuid(), &pw, pwbuf.data(), pwbuf.size(), &me) == 0 && me != nullptr) {
    a.userListed = me->pw_gid == st.st_gid;
    for (char** m = found->gr_mem; m && *m && !a.userListed; ++m)
      a.userListed = std::strcmp(*m, me->pw_name) == 0;
  }
  a.groupInSession = getegid() == st.st_gid;
  const int n = getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = getgroups(n, groups.data());
    for (int i = 0; i < got && !a.groupInSession; ++i)
      a.groupInSession = groups[static_cast<size_t>(i)] == st.st_gid;
  }
  *out = a;
  return true;
}

const PortTransport kSerialTransport = {
    serialOpen,  serialClose, serialSetLine,          serialPrepare, serialPump,
    serialWrite, serialWait,  serialSetWakeThreshold, serialDiscard, serialTxEmpty};

const int kOsErrorNoMemory = ENOMEM;

const char* osErrorText(int code) { return std::strerror(code); }
