// The operations of the service session that are the same for the window and the command
// line: SIP diagnostics and set-address, and the "Load" tab's counters.
#include "session/service_session.h"

#include "link/port.h"
#include "link/tick.h"
#include "protocol/board.h"
#include "protocol/board_io.h"
#include "settings/channel_record.h"
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

}  // namespace

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
