// The operations of the service session that are the same for the window and the command
// line: opening the port, identification, the bus scan, the side monitor's sides, the
// claim on the bus, the firmware target, SIP diagnostics and set-address, and the "Load"
// tab's counters.
#include "session/service_session.h"

#include <cerrno>
#include <cstring>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/board.h"
#include "protocol/board_io.h"
#include "settings/channel_record.h"
#include "settings/settings_sequences.h"
#include "util/catalog.h"

namespace {

constexpr uint32_t kTcpClientConnectWaitMs = 3000;
constexpr uint32_t kTcpServerPeerWaitMs = 10000;
constexpr uint32_t kConnectPollMs = 5;

constexpr int kIoBitsUsed = 6;                // six inputs a byte
constexpr uint8_t kExtraNoLitresFlag = 0x10;  // in the mass flags: counters without litres

int popcount6(uint8_t b) {
  int n = 0;
  for (int i = 0; i < kIoBitsUsed; ++i) n += (b >> i) & 1;
  return n;
}

// Two-decimal text of a 64-bit value in hundredths, at least 3 characters wide.
std::string hundredths(uint64_t v) {
  return strprintf("%3llu.%02u", static_cast<unsigned long long>(v / 100),
                   static_cast<unsigned>(v % 100));
}

// One polled request addressed to another board than the handle's; the address is put back.
template <typename Request>
int pollAt(UTRKDevice& dev, uint8_t address, Request&& request) {
  const uint8_t keep = dev.address;
  dev.address = address;
  const int r = pollRequest(dev, request);
  dev.address = keep;
  return r;
}

// The port table's own codes and the usual refusals of a serial device, translated; other
// system errors in the system's words.
const char* portOpenWords(int result) {
  switch (result) {
    case kPortOpenTableFull:
      return tr("all 32 ports are already open");
    case kPortOpenEmptyName:
      return tr("empty port name");
    case kPortOpenNotInitialised:
      return tr("port table not initialised");
    case kPortOpenBadName:
      return tr("bad port name, or the network socket could not be set up");
    case ENOENT:
      return tr("No such file or directory");
    case EACCES:
      return tr("Permission denied");
    case EBUSY:
      return tr("Device or resource busy");
    case ENODEV:
      return tr("No such device");
    case ENXIO:
      return tr("No such device or address");
    case EIO:
      return tr("Input/output error");
    case ENOTTY:
      return tr("Inappropriate ioctl for device");
    default:
      return portErrorText(result);
  }
}

}  // namespace

std::string portOpenFailureText(const char* name, int result) {
  std::string text = strprintf(tr("Cannot open port \"%s\": %s"), name, portOpenWords(result));
  SerialDeviceAccess access;
  // Only a device file answers "permission denied"; network ports fail otherwise.
  if (result == EACCES && serialDeviceAccess(name, &access)) {
    text += "\n";
    if (access.userListed && !access.groupInSession)
      text += strprintf(tr("%s belongs to the group \"%s\", which your user joined after this "
                           "session began: log out and in again."),
                        access.path.c_str(), access.group.c_str());
    else
      text += strprintf(tr("%s belongs to the group \"%s\": add your user to it (sudo usermod "
                           "-aG %s $USER), then log out and in again."),
                        access.path.c_str(), access.group.c_str(), access.group.c_str());
  }
  return text;
}

void ServiceSession::attach(Operator* engineer) {
  op = engineer;
  port = 0;
  dev = std::make_unique<UTRKDevice>(port);
  dev->address = session.pumpAddress;
  session.dev = dev.get();
  session.op = engineer;
  monitor.dev = dev.get();
}

PortOpenOutcome ServiceSession::openPort(const std::string& name, uint32_t baud, bool waitForLink) {
  PortOpenOutcome out;
  uint16_t opened = 0;
  out.code = name.empty() ? kPortOpenEmptyName : portOpen(name.c_str(), &opened);
  if (out.code != 0 || opened == 0) {
    if (opened) portClose(opened);
    out.result = PortOpenResult::CannotOpen;
    // The alert alone does not tell a missing device from a permission problem.
    out.text = portOpenFailureText(name.c_str(), out.code);
    return out;
  }
  // A rate the line does not run at would make every request fail as "No connection" (or
  // reach the board at the wrong rate): nothing is sent before the line is right.
  if (!setSessionLine(opened, name, baud, preferencesLine(prefs), &out.text)) {
    out.result = PortOpenResult::LineRefused;
    return out;
  }
  if (waitForLink) waitForPortLink(opened);
  port = opened;
  lineBaud = baud;
  if (dev) dev->port = port;
  return out;
}

void ServiceSession::closePort() {
  if (port) portClose(port);
  port = 0;
  if (dev) dev->port = 0;
}

bool ServiceSession::rememberPort(const std::string& name, int baud, int maxBaud,
                                  std::string* why) {
  prefs.portName = name;
  prefs.baud = baud;
  prefs.maxBaud = maxBaud;
  if (savePreferences(prefs) >= 0) return true;
  const int err = errno;
  *why = strprintf(tr("Cannot save preferences to %s: %s"), kPreferencesFile, std::strerror(err));
  return false;
}

int ServiceSession::identifyAndRefresh(uint8_t address, bool refresh) {
  return ::identifyAndRefresh(session, settings, address, refresh);
}

void ServiceSession::serveBoardAt(uint8_t address) {
  if (address != session.pumpAddress) session.forgetBoard();
  session.pumpAddress = address;
  if (dev) dev->address = address;
  if (session.onPumpAddress) session.onPumpAddress(address);
}

int ServiceSession::readSideAddresses() {
  MainSettings rec;
  const int r = readBlockPolled(session, kMainSettingsAddress, kBankData,
                                static_cast<uint8_t>(kMainSettingsSize), rec.data(), kCheckCrc);
  if (r == kResultDone) settings.readCopy = rec;
  return r;
}

void ServiceSession::aimSideMonitor(uint8_t sideAWhenUnset) {
  monitor.dev = dev.get();
  monitor.kind = session.kind ? session.kind : '#';
  const auto sideA = static_cast<uint8_t>(settings.readCopy.get(ms::side_addr0));
  monitor.sideAAddress = sideA ? sideA : sideAWhenUnset;
  monitor.sideBAddress = static_cast<uint8_t>(settings.readCopy.get(ms::side_addr1));
  monitor.sideCount = static_cast<uint8_t>(settings.sideCount());
}

bool ServiceSession::claimBus(bool keepMonitorArmed) {
  if (busy) return false;
  MonitorTimer* t = monitor.timer;
  if (!t) return true;  // the monitor never ran
  if (monitor.monitorState != kMonitorIdle || t->isArmed()) {
    monitor.pauseSideMonitor();
    if (!keepMonitorArmed) t->cancel();
  }
  return true;
}

FirmwareOutcome ServiceSession::updateBoardFirmware(const std::string& imagePath, BootTarget target,
                                                    uint8_t address, uint32_t maxBaud,
                                                    Operator& engineer) {
  FirmwareUpdateRequest req;
  req.imagePath = imagePath;
  req.target = target;
  req.currentAddress = address;
  req.maxBaud = maxBaud;
  req.portBaud = lineBaud;
  req.line = preferencesLine(prefs);
  req.line.baud = lineBaud;
  PortBootLink link(port);
  return updateFirmware(link, engineer, req);
}

int ServiceSession::leaveBootLoader(uint8_t address) {
  PortBootLink link(port);
  return leaveBootloader(link, *op, address);
}

const char* ServiceSession::firmwareFilter() const {
  return session.kind == '$' ? "Binary\tpcb_m7_v5_*.bin\n" : "Binary\tpcb_m7_0*.bin\n";
}

int ServiceSession::queryUpdateTarget(uint8_t address, int* deviceKind) {
  // The target is asked with the handle for one exchange; nothing else changes until the
  // update really starts.
  UTRKDevice& d = *dev;
  const uint8_t keep = d.address;
  d.address = address;
  uint8_t out[3] = {0, 0, 0};
  const int r = pollRequest(d, [&] { return d.identify(out, address); });
  if (r == kResultDone) {
    *deviceKind = out[1];
    std::string text;
    if (readBoardTextId(d, &text) == kResultDone && op) op->logLine(text);
  }
  d.address = keep;
  return r;
}

const char* deviceFirmwareFilter(int deviceKind) {
  switch (deviceKind) {
    case 35:
      return "Binary\tpcb_m7_*.bin\n";
    case 36:
      return "Binary\tpcb_m7_v5_*.bin\n";
    case 22:
      return "Binary\tpcb_desk_*.bin\n";
    case 24:
      return "Binary\tkbd_desk_*.bin\n";
    case 37:
      return "Binary\tlnk_r9_v1_*.bin\n";
    case 39:
      return "Binary\tpcb_sim_*.bin\n";
    case 40:
      return "Binary\tkbd_touch_*.bin\n";
    case 41:
      return "Binary\tbus_recorder_*.bin\n";
    default:
      return nullptr;
  }
}

bool setSessionLine(uint16_t port, const std::string& name, uint32_t baud, const LineSettings& line,
                    std::string* refusal) {
  const int r = portSetLine(port, baud, line.dataBits, line.parity, line.stopBits);
  if (r == 0) return true;
  *refusal = strprintf(tr("Cannot set %d baud on port \"%s\": %s"), static_cast<int>(baud),
                       name.c_str(), portErrorText(r));
  portClose(port);
  return false;
}

void waitForPortLink(uint16_t port) {
  const PortLink link = portLinkKind(port);
  if (link == PortLink::NoLink) return;
  const uint32_t until = nowMs() + (link == PortLink::ClientConnection ? kTcpClientConnectWaitMs
                                                                       : kTcpServerPeerWaitMs);
  while (!portLinkUp(port) && !deadlineReached(until)) {
    portAvailable(port);
    // Wakes when the connect completes or a peer knocks.
    if (!portLinkUp(port)) portWaitInput(port, kConnectPollMs);
  }
}

int scanBus(BoardSession& s) {
  const char kind = s.kind;
  const std::string textId = s.textId;
  const bool bootMode = s.bootMode;
  int found = 0;
  for (int n = kScanFirstAddress; n <= kScanLastAddress; ++n) {
    const bool ok = identifyBoard(s, static_cast<uint8_t>(n), true) == 1;
    found += ok;
    if (s.op) {
      s.op->logLine(strprintf(tr(ok ? "Pump %02d found" : "Pump %02d not found"), n));
      s.op->repaint();
    }
  }
  // The next action must reach the board the banner names, not the last address scanned.
  if (s.dev) s.dev->address = s.pumpAddress;
  s.kind = kind;
  s.textId = textId;
  s.bootMode = bootMode;
  return found;
}

int readSipDiagnostics(UTRKDevice& dev, uint8_t address, std::string* text) {
  uint8_t block[kSipDiagnosticsBytes] = {};
  const int r = pollAt(dev, address, [&] {
    return dev.readBlock(kRegSipDiagnostics, kBankService, kSipDiagnosticsBytes, block, kCheckNone,
                         0);
  });
  if (r != kResultDone) return r;
  constexpr int kEntryBytes = kSipDiagnosticsBytes / kSipEntries;
  std::string out;
  for (int i = 0; i < kSipEntries; ++i) {
    out += static_cast<char>('0' + i);
    out += " - ";
    for (int k = 0; k < kEntryBytes; ++k) {
      // Non-printing bytes would break a multi-line field: show them as '.'.
      const uint8_t b = block[i * kEntryBytes + k];
      out += (b >= 32 && b < 127) ? static_cast<char>(b) : '.';
    }
    out += "\n";
  }
  *text = out;
  return r;
}

int readIoBits(UTRKDevice& dev, uint8_t address, uint8_t ioBits[kIoBitsBytes]) {
  return pollAt(dev, address, [&] {
    return dev.readBlock(kRegIoBits, kBankService, kIoBitsBytes, ioBits, kCheckNone, 0);
  });
}

bool exactlyOneNozzleOut(const uint8_t ioBits[kIoBitsBytes]) {
  return popcount6(ioBits[0]) + popcount6(ioBits[1]) == 1;
}

SipAddressResult exchangeSipAddress(UTRKDevice& dev, uint8_t address) {
  uint8_t block[kSipAddressBytes] = {};
  int r = pollAt(dev, address, [&] {
    return dev.readBlock(kRegSipAddress, kBankService, kSipAddressBytes, block, kCheckNone, 0);
  });
  if (r != kResultDone) return SipAddressResult::ReadError;
  if (block[0] == 0) return SipAddressResult::MeterSilent;
  r = pollAt(dev, address,
             [&] { return dev.writeBlock(kRegSipAddress, kBankService, block, kSipAddressBytes); });
  return r == kResultDone ? SipAddressResult::Done : SipAddressResult::WriteFailed;
}

const char* sipAddressResultText(SipAddressResult r) {
  switch (r) {
    case SipAddressResult::Done:
      return "";
    case SipAddressResult::ReadError:
      return N_("Read error");
    case SipAddressResult::MeterSilent:
      return N_("Meter does not reply");
    case SipAddressResult::WriteFailed:
      return N_("Meter does not reply. Address changing failed");
  }
  return "";
}

std::string readLoadCounters(BoardSession& s, SettingsState& st) {
  std::string text;
  for (int side = 0; side < 2; ++side) {
    // A failed read leaves the host copy as it was.
    ChannelRecord rec;
    const uint8_t* bytes = rec.data();
    if (readBlockPolled(s, channelRecordAddress(side), kBankData, kChannelRecordSize, rec.data(),
                        kCheckCrc) != kResultDone)
      continue;
    st.records.channels[side] = rec;
    st.records.channelRead[side] = true;
    if (s.kind == '$')
      text += strprintf(tr("Side %d\n%s kg\n%s rub\n"), side + 1,
                        hundredths(getU64(bytes + kChannelMassTotal64Offset)).c_str(),
                        hundredths(getU64(bytes + kChannelMoneyTotal64Offset)).c_str());
    else
      text += strprintf(tr("Side %d\n"), side + 1);
    if (!(st.extra.bytes[es::mass_flags.offset] & kExtraNoLitresFlag)) {
      // The grand total in litres: whole litres and their hundredths.
      text +=
          strprintf(tr("%lu.%02u l\n"), static_cast<unsigned long>(rec.get(ChannelField::f_count)),
                    static_cast<unsigned>(rec.get(ChannelField::f_c_mil)));
    }
    text += "\n";
  }
  return text;
}
