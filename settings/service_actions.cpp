// Service commands of the "Main" tab over the device handle.
#include "settings/service_actions.h"

#include "protocol/board_io.h"
#include "util/catalog.h"
#include "util/number_text.h"

namespace {
constexpr uint32_t kCounterColumns[3] = {kRegCountersColumnA, kRegCountersColumnB,
                                         kRegCountersColumnAB};
constexpr int kCountersPerBlock = 12;
}  // namespace

int restartController(BoardSession& s) {
  const uint8_t b = kMagicByte;
  const int r = writeBlockPolled(s, kRestartAddress, kBankData, &b, 1);
  s.op->logLine(strprintf(tr("Reset result=%d"), r));
  return r;
}

int controllerClear(BoardSession& s) {
  if (enterAdminPassword(s, false) != 1) return 0;
  if (!s.op->confirm(tr("This will set all pump totals to 0"))) return 0;
  const uint8_t b = kMagicByte;
  const int r = writeBlockPolled(s, kRegControllerClear, kBankService, &b, 1);
  s.op->logLine(strprintf(tr("Controller clear result=%d"), r));
  restartController(s);
  return r;
}

void readDiagnostics(BoardSession& s) {
  struct Reg {
    uint32_t address;
    uint8_t count;
  };
  // The password status, one diagnostic value, and the diagnostic bytes of the two SIP
  // registers (read shorter than the SIP actions read them).
  const Reg regs[4] = {{kRegPasswordStatus, 1},
                       {kRegDiagnosticValue, 1},
                       {kRegSipDiagnostics, 1},
                       {kRegSipAddress, 5}};
  for (const Reg& g : regs) {
    uint8_t buf[5] = {};
    const int r = readBlockPolled(s, g.address, kBankService, g.count, buf, kCheckNone);
    if (r != kResultDone) {
      s.op->logLine(strprintf(tr("$%02d read error res=%d"), g.address, r));
    } else if (g.count == 1) {
      s.op->logLine(strprintf(tr("$%02X val=$%02X (%d)"), g.address, buf[0], buf[0]));
    } else {
      std::string line = strprintf(tr("$%02X val=$%02X "), g.address, buf[0]);
      for (int i = 1; i < 5; ++i) line += strprintf("$%02X ", buf[i]);
      s.op->logLine(line);
    }
  }
  uint8_t six[kDiagnosticBlockSize] = {};
  const int r = readBlockPolled(s, kRegDiagnosticBlock, kBankService, sizeof six, six, kCheckNone);
  if (r == kResultDone) {
    for (size_t i = 0; i < sizeof six; ++i)
      s.op->logLine(strprintf(tr("$%02X val=$%02X (%d)"),
                              static_cast<unsigned>(kRegDiagnosticBlock + i), six[i], six[i]));
  } else {
    s.op->logLine(strprintf(tr("$22-$27 read error res=%d"), r));
  }
  uint8_t blocks[3][4 * kCountersPerBlock] = {};
  for (int b = 0; b < 3; ++b)
    readBlockPolled(s, kCounterColumns[b], kBankService, sizeof blocks[b], blocks[b], kCheckNone);
  for (int k = 0; k < kCountersPerBlock; ++k)
    s.op->logLine(strprintf(tr("[%d]: A=%4lu B=%4lu AB=%4lu"), k,
                            static_cast<unsigned long>(getU32(&blocks[0][4 * k])),
                            static_cast<unsigned long>(getU32(&blocks[1][4 * k])),
                            static_cast<unsigned long>(getU32(&blocks[2][4 * k]))));
}

bool showTotals(BoardSession& s, SettingsState& st) {
  // Counts beyond the board's two sides and five nozzles would name channels it does not have.
  const unsigned sides = st.sideCount() > 2 ? 2 : st.sideCount();
  const unsigned nozzles = st.nozzleCount() > 5 ? 5 : st.nozzleCount();
  if (sides * nozzles == 0) {
    s.op->alert(tr("Please read device id first"));
    return false;
  }
  for (unsigned side = 0; side < sides; ++side) {
    const unsigned address = st.readCopy.get(side == 0 ? ms::side_addr0 : ms::side_addr1);
    for (unsigned n = 0; n < nozzles; ++n) {
      const int ch = channelIndex(static_cast<int>(side), static_cast<int>(n));
      ChannelRecord rec;
      const int r = readBlockPolled(s, channelRecordAddress(ch), kBankData, kChannelRecordSize,
                                    rec.data(), kCheckCrc);
      if (r == kResultDone) {
        st.records.channels[ch] = rec;
        st.records.channelRead[ch] = true;
        s.op->logLine(strprintf(tr("address %d, nozzle %d: %d.%02d"), static_cast<int>(address),
                                static_cast<int>(n + 1),
                                static_cast<int>(rec.get(ChannelField::f_count)),
                                static_cast<int>(rec.get(ChannelField::f_c_mil))));
      } else {
        s.op->logLine(strprintf(tr("address %d, nozzle %d: error read"), static_cast<int>(address),
                                static_cast<int>(n + 1)));
      }
    }
  }
  return true;
}

bool imitatorOn(const SettingsState& st) { return (st.imitatorByte & kImitatorBit) != 0; }

int toggleImitator(BoardSession& s, SettingsState& st) {
  const uint8_t b = static_cast<uint8_t>(st.imitatorByte ^ kImitatorBit);
  const int r = writeBlockPolled(s, kRegImitator, kBankService, &b, 1);
  s.op->logLine(strprintf(tr("Imit result=%d"), r));
  if (r == kResultDone) st.imitatorByte = b;
  if (st.onServiceValues) st.onServiceValues();
  return r;
}

bool buildSerialRecord(const std::string& text, std::array<uint8_t, kSerialRecordSize>* out) {
  // The digits also go into the record as text, so only digits are accepted.
  uint64_t typed = 0;
  if (text.size() != kSerialTextLength ||
      !parseStrictDecimal(text, kSerialTextLength, UINT32_MAX, &typed))
    return false;
  const uint32_t value = static_cast<uint32_t>(typed);
  if (value < kSerialMin) return false;
  out->fill(0);
  putU32(out->data(), value);
  (*out)[4] = static_cast<uint8_t>((value % 10000) / 100);
  (*out)[5] = static_cast<uint8_t>(value % 100);
  for (size_t i = 0; i < kSerialTextLength; ++i) (*out)[6 + i] = static_cast<uint8_t>(text[i]);
  return true;
}

int writeSerialNumber(BoardSession& s, const std::string& text) {
  std::array<uint8_t, kSerialRecordSize> rec;
  if (!buildSerialRecord(text, &rec)) {
    s.op->alert(tr("Please enter correct serial number"));
    return 0;
  }
  if (!s.op->confirm(tr("Writing cannot be reverted. Are you sure?"))) return 0;
  const int r = writeBlockPolled(s, kRegSerialNumber, kBankService, rec.data(), kSerialRecordSize);
  s.op->logLine(strprintf(tr("Serial write result=%d"), r));
  return r;
}

int clearWrongClearCount(BoardSession& s, int side) {
  const uint8_t b = static_cast<uint8_t>(side ? 1 : 0);
  const int r = writeBlockPolled(s, kRegWrongClearCount, kBankService, &b, 1);
  s.op->alert(tr(r == kResultDone ? "Ok" : "Operation failed"));
  return r;
}
