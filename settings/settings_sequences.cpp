// Read and write sequences of the settings tabs, the password changes and the settings
// file flows.
#include "settings/settings_sequences.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "link/tick.h"
#include "protocol/board_io.h"
#include "settings/service_actions.h"
#include "settings/settings_diff.h"
#include "settings/settings_json.h"
#include "util/catalog.h"
#include "util/number_text.h"

namespace {
constexpr size_t kPasswordTextMax = 10;  // digits, leading zeros included
constexpr uint32_t kPasswordMax = 9999;
constexpr const char* kJsonFilter = "JSON format\t*.json\n";

void setTabs(SettingsState& st, bool on) {
  st.tabsEnabled = on;
  if (st.onTabsEnabled) st.onTabsEnabled(on);
}

}  // namespace

int followBoardToAddress(BoardSession& s, SettingsState& st, uint8_t address) {
  s.pumpAddress = address;
  if (s.dev) s.dev->address = address;
  if (s.onPumpAddress) s.onPumpAddress(address);
  for (int i = 0; i < kFollowIdentifyAttempts; ++i) {
    if (identifyBoard(s, address, true) == 1) break;
    tickSleepMs(kFollowRetryDelayMs);
  }
  return identifyAndRefresh(s, st, address);
}

void forgetBoardSettings(SettingsState* st) {
  st->readCopy = MainSettings{};
  // The extra copy is the previous board's too: saved from the Extra tab or exported, it
  // would put that board's record (fields without a control included) on this one.
  st->extra = ExtraSettings{};
  st->extraRead = false;
  st->records.channelRead.fill(false);
  st->records.meterRead.fill(false);
  st->imitatorByte = 0;
  st->counters = ServiceCounters{};
  setTabs(*st, false);
}

int readMainSettings(BoardSession& s, SettingsState& st) {
  MainSettings rec;
  const int r =
      readBlockPolled(s, kMainSettingsAddress, kBankData, kMainSettingsSize, rec.data(), kCheckCrc);
  if (r == kResultDone) {
    st.readCopy = rec;
    setTabs(st, true);
    if (st.onMainRead) st.onMainRead();
  } else {
    setTabs(st, false);
  }
  return r;
}

void readServiceState(BoardSession& s, SettingsState& st) {
  uint8_t mode = 0;
  if (readBlockPolled(s, kRegImitator, kBankService, 1, &mode, kCheckNone) == kResultDone) {
    st.imitatorByte = mode;
    st.imitatorActive = true;
  } else {
    st.imitatorByte = 0;
    st.imitatorActive = false;
  }
  PasswordStatus ps;
  if (readBlockPolled(s, kRegPasswordStatus, kBankService, 2, ps.bytes, kCheckNone) ==
      kResultDone) {
    s.login.status[0] = ps.bytes[0];
    s.login.status[1] = ps.bytes[1];
  }
  if (st.onServiceValues) st.onServiceValues();
  readMainSettings(s, st);
}

void refreshAfterIdentify(BoardSession& s, SettingsState& st) {
  ServiceCounters c;
  if (readBlockPolled(s, kRegServiceCounters, kBankService, 4, c.bytes, kCheckCrc) == kResultDone) {
    st.counters = c;
    s.op->logLine(
        strprintf(tr("Factory clear count: %u"), static_cast<unsigned>(c.factoryClearCount())));
    s.op->logLine(strprintf(tr("Reprogram count: %u"), static_cast<unsigned>(c.reprogramCount())));
  }
  readServiceState(s, st);
}

int identifyAndRefresh(BoardSession& s, SettingsState& st, uint8_t address, bool refresh) {
  forgetBoardSettings(&st);
  const int r = identifyBoard(s, address, false);
  if (r == 1 && !s.bootMode && refresh) refreshAfterIdentify(s, st);
  return r;
}

int writeMainSettings(BoardSession& s, SettingsState& st) {
  if (enterAdminPassword(s, false) != 1) return 0;
  return writeMainSettingsLoggedIn(s, st);
}

int writeMainSettingsLoggedIn(BoardSession& s, SettingsState& st) {
  const int r =
      writeBlockPolled(s, kMainSettingsAddress, kBankData, st.writeCopy.data(), kMainSettingsSize);
  if (r != kResultDone) {
    s.op->alert(writeFailureText(s, "Write error"));
    return r;
  }
  s.op->alert(tr("Write ok"));
  restartController(s);
  const uint8_t newA = static_cast<uint8_t>(st.writeCopy.get(ms::side_addr0));
  const uint8_t oldA = static_cast<uint8_t>(st.readCopy.get(ms::side_addr0));
  if (newA != oldA && newA >= 1 && newA <= 0x20) {
    // The board comes back at the side A address just written.
    followBoardToAddress(s, st, newA);
  } else {
    readMainSettings(s, st);
  }
  return r;
}

int saveMainSettings(BoardSession& s, SettingsState& st, const MainSettingsForm& form,
                     MainControl* focus) {
  const CollectResult c = collectMainSettings(form, &st.writeCopy);
  if (!c.ok) {
    s.op->alert(tr(c.message));
    if (focus) *focus = c.focus;
    return 0;
  }
  if (st.writeCopy == st.readCopy) {
    s.op->alert(tr("Settings did not change"));
    return 0;
  }
  return writeMainSettings(s, st);
}

int readExtraSettings(BoardSession& s, SettingsState& st) {
  ExtraSettings rec;
  const int r = readBlockPolled(s, kExtraSettingsAddress, kBankData, kExtraSettingsSize, rec.data(),
                                kCheckCrc);
  if (r == kResultDone) {
    st.extra = rec;
    st.extraRead = true;
  }
  uint8_t raw[4] = {};
  if (readBlockPolled(s, kRegRawPressure, kBankService, 4, raw, kCheckCrc) == kResultDone) {
    st.rawPressure[0] = getU16(raw);
    st.rawPressure[1] = getU16(raw + 2);
  }
  if (st.onExtraRead) st.onExtraRead();
  return r;
}

int saveExtraSettings(BoardSession& s, SettingsState& st, const ExtraSettingsForm& form) {
  // The record is written whole, fields without a control included: those must be this
  // board's own, so nothing is saved before a read from this board succeeded.
  if (!st.extraRead) {
    s.op->alert(tr("Extra settings were not read from this board"));
    return 0;
  }
  const ExtraSettings candidate = collectExtraSettings(st.extra, form);
  if (candidate == st.extra) {
    s.op->alert(tr("No values changed"));
    return 0;
  }
  st.extra = candidate;
  if (enterAdminPassword(s, false) != 1) return 0;
  const int r =
      writeBlockPolled(s, kExtraSettingsAddress, kBankData, st.extra.data(), kExtraSettingsSize);
  s.op->alert(tr(r == kResultDone ? "Write extra settings ok" : "Write extra settings error"));
  readExtraSettings(s, st);
  return r;
}

int changePassword(BoardSession& s, SettingsState& st, bool calibration, const std::string& typed) {
  // Only digits make a password; anything else would write some other number. Leading
  // zeros are allowed ("0000012"), and the value is summed in 64 bits so that a long text
  // such as 4294967301 cannot wrap round to a small, accepted password.
  size_t b = 0, e = typed.size();
  while (b < e && std::isspace(static_cast<unsigned char>(typed[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(typed[e - 1]))) --e;
  uint64_t value = 0;
  if (!parseStrictDecimal(typed.substr(b, e - b), kPasswordTextMax, kPasswordMax, &value)) {
    s.op->alert(tr("Password must be between 0000 and 9999"));
    return 0;
  }
  if (enterAdminPassword(s, !calibration) != 1) return 0;
  uint8_t bytes[2];
  putU16(bytes, static_cast<uint16_t>(value));
  const int r = writeBlockPolled(s, calibration ? kRegNewCalibrationPassword : kRegNewAdminPassword,
                                 kBankService, bytes, 2);
  if (r != kResultDone) {
    s.op->alert(tr("Set password error"));
    return r;
  }
  if (!calibration) {
    // The next protected write logs in with the new password, not the old cached one.
    s.login.password = static_cast<uint16_t>(value);
    s.login.cached = true;
  }
  if (!s.bootMode) refreshAfterIdentify(s, st);
  s.op->alert(tr("Ok"));
  return r;
}

int exportSettings(BoardSession& s, SettingsState& st, const std::string& givenPath) {
  // The main record comes from the read copy, which identification clears: without a main
  // settings read from this board the file would hold zeros (or nothing of this board).
  if (!st.tabsEnabled) {
    s.op->alert(tr("Please read device id first"));
    return 0;
  }
  // The extra record is read fresh; when that fails no file is written, since the copy
  // held now may be empty or another board's.
  ExtraSettings rec;
  if (readBlockPolled(s, kExtraSettingsAddress, kBankData, kExtraSettingsSize, rec.data(),
                      kCheckCrc) != kResultDone) {
    s.op->alert(tr("Read error"));
    return 0;
  }
  st.extra = rec;
  st.extraRead = true;
  std::string chosen = givenPath;
  if (chosen.empty() && !s.op->chooseFile(tr("Select a file"), kJsonFilter, true, &chosen))
    return 0;
  if (chosen.empty()) return 0;
  const std::string name = settingsFileName(chosen);
  if (saveSettingsFile(name, st.readCopy, st.extra) != kJsonOk) {
    // Which file and why (read-only folder, full disk, ...), not just that it failed.
    const int err = errno;
    s.op->alert(strprintf("%s: %s (%s)", tr("Write error"), name.c_str(), std::strerror(err)));
    return 0;
  }
  s.op->alert("OK");
  return 1;
}

void keepUnkeyedExtraBytes(const ExtraSettings& board, ExtraSettings* loaded) {
  std::array<bool, kExtraSettingsSize> keyed{};
  for (size_t i = 0; i < kExtraFieldCount; ++i) {
    const RecordField& f = kExtraFields[i];
    if (!f.keyed) continue;
    for (size_t b = f.offset; b < f.offset + f.width && b < keyed.size(); ++b) keyed[b] = true;
  }
  for (size_t b = 0; b < keyed.size(); ++b)
    if (!keyed[b]) loaded->bytes[b] = board.bytes[b];
}

int prepareImport(BoardSession& s, const std::string& path, ImportPlan* plan) {
  // The file first: a file that cannot be used costs no request.
  {
    MainSettings m;
    ExtraSettings e;
    if (loadSettingsFile(path, &m, &e) != kJsonOk) {
      s.op->alert(tr("File load error"));
      return 0;
    }
  }
  ImportPlan p;
  // The fields the file has no key for (baud rates, bus addresses) come from this read; a
  // record that did not arrive would write zeros over them.
  if (readBlockPolled(s, kMainSettingsAddress, kBankData, kMainSettingsSize, p.boardMain.data(),
                      kCheckCrc) != kResultDone) {
    s.op->alert(tr("Read error"));
    return 0;
  }
  // The file carries no key for the reserved word and the heater temperatures; taking them
  // from the board keeps an import from wiping them. Keyed fields absent from the file are
  // still written as 0, so the file alone decides every keyed value.
  if (readBlockPolled(s, kExtraSettingsAddress, kBankData, kExtraSettingsSize, p.boardExtra.data(),
                      kCheckCrc) != kResultDone) {
    s.op->alert(tr("Read error"));
    return 0;
  }
  p.writeMain = p.boardMain;
  if (loadSettingsFile(path, &p.writeMain, &p.writeExtra, &p.skipped) != kJsonOk) {
    s.op->alert(tr("File load error"));  // changed under our feet
    return 0;
  }
  keepUnkeyedExtraBytes(p.boardExtra, &p.writeExtra);
  *plan = std::move(p);
  return 1;
}

size_t logImportChanges(BoardSession& s, const ImportPlan& plan) {
  for (const std::string& key : plan.skipped)
    s.op->logLine(strprintf(tr("Key %s skipped: its value is not a decimal number"), key.c_str()));
  // Bytes without a key are the board's own in both records, so the keyed fields are all
  // that can change.
  const std::vector<FieldChange> changes =
      diffSettings(plan.boardMain, plan.boardExtra, plan.writeMain, plan.writeExtra);
  if (changes.empty()) {
    s.op->logLine(tr("No values changed"));
    return 0;
  }
  s.op->logLine(tr("Values that change (board \xE2\x86\x92 file):"));
  for (const FieldChange& c : changes) s.op->logLine("  " + fieldChangeLine(c));
  return changes.size();
}

int writeImport(BoardSession& s, SettingsState& st, const ImportPlan& plan) {
  // The record just read is the board's latest: the main write compares its side A address
  // with it, so the board is never followed to another address by an import.
  st.readCopy = plan.boardMain;
  st.writeCopy = plan.writeMain;
  // Both records are protected writes: one admin log-in, before the first, serves both.
  if (enterAdminPassword(s, false) != 1) return 0;
  const int extraResult = writeBlockPolled(s, kExtraSettingsAddress, kBankData,
                                           plan.writeExtra.data(), kExtraSettingsSize);
  s.op->alert(
      tr(extraResult == kResultDone ? "Write extra settings ok" : "Write extra settings error"));
  // A failed extra write does not stop the main write, but the import as a whole failed.
  const int mainResult = writeMainSettingsLoggedIn(s, st);
  if (extraResult == kResultDone && mainResult == kResultDone) return kResultDone;
  const std::string failed =
      tr(extraResult != kResultDone && mainResult != kResultDone ? "Import failed: nothing written"
         : extraResult != kResultDone ? "Import failed: extra settings not written"
                                      : "Import failed: main settings not written");
  s.op->logLine(failed);
  s.op->alert(failed);
  return mainResult != kResultDone ? mainResult : extraResult;
}

int previewImport(BoardSession& s, const std::string& path) {
  ImportPlan plan;
  if (prepareImport(s, path, &plan) != 1) return 0;
  logImportChanges(s, plan);
  return 1;
}

int importSettings(BoardSession& s, SettingsState& st, const std::string& givenPath) {
  std::string path = givenPath;
  if (path.empty() && !s.op->chooseFile(tr("Select a file"), kJsonFilter, false, &path)) return 0;
  if (path.empty()) return 0;
  ImportPlan plan;
  if (prepareImport(s, path, &plan) != 1) return 0;
  st.writeCopy = plan.writeMain;
  logImportChanges(s, plan);
  // Asked even when nothing changes: the engineer may want the record written again.
  if (!s.op->confirm(tr("Start writing?"))) return 0;
  return writeImport(s, st, plan);
}
