// Bus backup and restore: one board read whole into a backup file, and the runs over a list
// of addresses with their progress lines and table of results.
#include "settings/board_backup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "protocol/board_io.h"
#include "settings/settings_diff.h"
#include "settings/settings_json.h"
#include "settings/settings_sequences.h"
#include "util/catalog.h"
#include "util/files.h"
#include "util/number_text.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kBootLoaderMarker = "boot load";
constexpr int kProbeNameAttempts = 100;
constexpr size_t kTableGap = 2;  // spaces between the table's columns

std::string hexOf(const uint8_t* p, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += strprintf("%02x", p[i]);
  return out;
}

// A JSON string literal of UTF-8 text.
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += strprintf("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// One object of the backup in the settings file's own layout: a key a line, every line but
// the first starting with a comma.
std::string jsonObject(const char* name,
                       const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = strprintf(",\"%s\":{", name);
  for (size_t i = 0; i < members.size(); ++i)
    out += (i ? "," : "") + jsonString(members[i].first) + ":" + members[i].second + "\n";
  return out + "}";
}

std::string channelLabel(int channel) {
  return strprintf("%d%c", channelNozzle(channel), channelSideLetter(channel));
}

// The local time with its offset from UTC ("2026-12-09T01:56:00+0300"). The offset is worked
// out here: strftime's %z gives the zone's name on Windows, in the system's code page.
std::string localTimeText() {
  const std::time_t now = std::time(nullptr);
  const std::tm* lt = std::localtime(&now);
  if (!lt) return "";
  const std::tm local = *lt;
  const std::tm* ut = std::gmtime(&now);
  if (!ut) return "";
  std::tm utcAsLocal = *ut;
  utcAsLocal.tm_isdst = local.tm_isdst;
  const std::time_t shifted = std::mktime(&utcAsLocal);
  char text[40] = "";
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  if (shifted == static_cast<std::time_t>(-1)) return text;
  const long offset = static_cast<long>(std::difftime(now, shifted)) / 60;
  const long minutes = offset < 0 ? -offset : offset;
  return text + strprintf("%c%02ld%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

// Characters of UTF-8 text (for the table's columns).
size_t textWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string padded(const std::string& s, size_t width) {
  const size_t w = textWidth(s);
  return s + std::string(width > w ? width - w : 0, ' ');
}

void logLine(BoardSession& s, const std::string& line) {
  if (s.op) s.op->logLine(line);
}

std::string filePath(const std::string& dir, uint8_t address) {
  return (fs::u8path(dir) / backupFileName(address)).u8string();
}

// Identifies the board at address quietly and logs "found" or "not found".
bool findBoard(BoardSession& s, uint8_t address) {
  const bool found = identifyBoard(s, address, true) == 1;
  logLine(s, strprintf(tr(found ? "Pump %02d found" : "Pump %02d not found"), address));
  if (s.op) s.op->repaint();
  return found;
}

// The text identifier of the board at the handle's address; false (with *why) when it does
// not come or names the boot loader, where the settings cannot be read.
bool readUsableTextId(BoardSession& s, std::string* textId, std::string* why) {
  if (readBoardTextId(*s.dev, textId) != kResultDone) {
    *why = tr("Cannot read text identifier");
    return false;
  }
  if (textId->find(kBootLoaderMarker) != std::string::npos) {
    *why = tr("The board is in its boot loader: its settings cannot be read");
    return false;
  }
  return true;
}

}  // namespace

std::string backupFileName(uint8_t address) { return strprintf("board-%02u.json", address); }

bool backupFileAddress(const std::string& name, uint8_t* address) {
  static const std::string kPrefix = "board-", kSuffix = ".json";
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.compare(0, kPrefix.size(), kPrefix) ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix))
    return false;
  const std::string digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  uint64_t v = 0;
  if (!parseStrictDecimal(digits, 3, 999, &v)) return false;
  // Only the name a backup gives ("board-07.json", not "board-7.json"): a restore reads the
  // file under that name.
  if (v < 1 || v >= kBroadcastAddress || name != backupFileName(static_cast<uint8_t>(v)))
    return false;
  *address = static_cast<uint8_t>(v);
  return true;
}

std::string backupFileText(const BoardBackup& b) {
  // The export's own text, its last closing brace taken off so that the backup's objects
  // follow "mass_setts" inside the same document.
  std::string t = settingsFileText(b.main, b.extra);
  const std::string kEnd = "}}\n";
  if (t.size() >= kEnd.size() && t.compare(t.size() - kEnd.size(), kEnd.size(), kEnd) == 0)
    t.resize(t.size() - 2);
  const auto str = [](const std::string& v) { return jsonString(v); };
  t += jsonObject("board", {{"address", str(std::to_string(b.address))},
                            {"kind", str(std::string(1, b.kind ? b.kind : '?'))},
                            {"text_id", str(b.textId)},
                            {"backup_time", str(b.time)}});
  std::vector<std::pair<std::string, std::string>> channels, meters, sides;
  for (int ch = 0; ch < b.channelCount && ch < kChannelCount; ++ch) {
    channels.push_back({channelLabel(ch), str(hexOf(b.channels[ch].data(), kChannelRecordSize))});
    meters.push_back({channelLabel(ch), str(hexOf(b.meters[ch].data(), kMeterRecordSize))});
  }
  for (int side = 0; side < 2; ++side)
    sides.push_back({side ? "B" : "A", str(hexOf(b.sides[side].bytes.data(), kSideDataSize))});
  t += jsonObject("channel_records", channels);
  t += jsonObject("meter_records", meters);
  t += jsonObject("side_data", sides);
  return t + "}\n";
}

int saveBackupFile(const std::string& path, const BoardBackup& b) {
  const std::string text = backupFileText(b);
  // The import reads no more than this; a longer file would not load again.
  if (text.size() > kSettingsFileMaxBytes) {
    errno = EFBIG;
    return kJsonCannotOpen;
  }
  return saveTextFileAtomically(path, text);
}

int readBoardBackup(BoardSession& s, uint8_t address, BoardBackup* out, std::string* why) {
  if (!s.dev) {
    *why = tr("No connection");
    return 0;
  }
  s.dev->address = address;
  BoardBackup b;
  b.address = address;
  b.kind = s.kind;
  b.time = localTimeText();
  // Whatever fails, the text identifier read so far names the board in the table.
  const auto fail = [&](const std::string& text) {
    *why = text;
    out->textId = b.textId;
    return 0;
  };
  std::string textWhy;
  if (!readUsableTextId(s, &b.textId, &textWhy)) return fail(textWhy);
  const auto read = [&](uint32_t at, uint8_t* dst, size_t n) {
    return readBlockPolled(s, at, kBankData, static_cast<uint8_t>(n), dst, kCheckCrc);
  };
  int r = read(kMainSettingsAddress, b.main.data(), kMainSettingsSize);
  if (r != kResultDone) return fail(strprintf(tr("Main settings read error res=%d"), r));
  r = read(kExtraSettingsAddress, b.extra.data(), kExtraSettingsSize);
  if (r != kResultDone) return fail(strprintf(tr("Extra settings read error res=%d"), r));
  // The channels the board has: both sides' slots of each nozzle, as the side and nozzle
  // settings read them.
  b.channelCount = std::min<int>(2 * b.main.get(ms::noz_count), kChannelCount);
  for (int ch = 0; ch < b.channelCount; ++ch) {
    const std::string label = channelLabel(ch);
    r = read(channelRecordAddress(ch), b.channels[ch].data(), kChannelRecordSize);
    if (r != kResultDone)
      return fail(strprintf(tr("Channel %s record read error res=%d"), label.c_str(), r));
    r = read(meterRecordAddress(ch), b.meters[ch].data(), kMeterRecordSize);
    if (r != kResultDone)
      return fail(strprintf(tr("Meter %s record read error res=%d"), label.c_str(), r));
  }
  for (int side = 0; side < 2; ++side) {
    r = read(sideDataAddress(side), b.sides[side].data(), kSideDataSize);
    if (r != kResultDone)
      return fail(strprintf(tr("Side %s data read error res=%d"), side ? "B" : "A", r));
  }
  *out = b;
  return 1;
}

std::vector<std::string> busTableLines(const std::vector<BusRow>& rows, bool restore) {
  auto resultText = [restore](BusResult r) {
    switch (r) {
      case BusResult::Done:
        return tr(restore ? "restored" : "saved");
      case BusResult::NotFound:
        return tr("not found");
      case BusResult::NotWritten:
        return tr("not written");
      default:
        return tr("failed");
    }
  };
  std::vector<std::vector<std::string>> cells;
  cells.push_back({tr("Address"), tr("Text identifier"), tr("Result")});
  for (const BusRow& r : rows)
    cells.push_back(
        {strprintf("%02u", r.address), r.textId.empty() ? "-" : r.textId, resultText(r.result)});
  size_t width[2] = {0, 0};
  for (const auto& c : cells)
    for (size_t i = 0; i < 2; ++i) width[i] = std::max(width[i], textWidth(c[i]));
  std::vector<std::string> lines;
  for (const auto& c : cells)
    lines.push_back(padded(c[0], width[0] + kTableGap) + padded(c[1], width[1] + kTableGap) + c[2]);
  return lines;
}

bool busRunSucceeded(const std::vector<BusRow>& rows, bool listed) {
  bool anyDone = false;
  for (const BusRow& r : rows) {
    if (r.result == BusResult::Done) anyDone = true;
    if (r.result == BusResult::Failed || r.result == BusResult::NotWritten) return false;
    if (r.result == BusResult::NotFound && listed) return false;
  }
  return anyDone;
}

bool prepareBackupFolder(const std::string& dir, std::string* why) {
  std::error_code ec;
  const fs::path folder = fs::u8path(dir);
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec)) {
    *why = strprintf("%s: %s (%s)", tr("Cannot create the folder"), dir.c_str(),
                     ec ? ec.message().c_str() : std::strerror(ENOTDIR));
    return false;
  }
  // A file of our own made and removed again: the surest test that the files can be written.
  for (int i = 0; i < kProbeNameAttempts; ++i) {
    const fs::path probe = folder / strprintf(".write-check-%d", i);
    if (fs::exists(probe, ec)) continue;
    std::FILE* f = fileOpen(probe.u8string(), "wb");
    if (!f) {
      *why = strprintf("%s: %s (%s)", tr("Cannot write to the folder"), dir.c_str(),
                       std::strerror(errno));
      return false;
    }
    std::fclose(f);
    fs::remove(probe, ec);
    return true;
  }
  *why = strprintf("%s: %s", tr("Cannot write to the folder"), dir.c_str());
  return false;
}

std::vector<BusRow> backupBus(BoardSession& s, const std::string& dir,
                              const std::vector<uint8_t>& addresses, bool listed) {
  std::vector<BusRow> rows;
  for (uint8_t a : addresses) {
    BusRow row;
    row.address = a;
    if (!findBoard(s, a)) {
      row.result = BusResult::NotFound;
      if (listed) rows.push_back(row);
      continue;
    }
    BoardBackup b;
    std::string why;
    const bool read = readBoardBackup(s, a, &b, &why) == 1;
    row.textId = b.textId;
    if (read) {
      const std::string path = filePath(dir, a);
      if (saveBackupFile(path, b) == kJsonOk) {
        row.result = BusResult::Done;
        logLine(s, strprintf(tr("Pump %02d saved to %s"), a, path.c_str()));
      } else {
        why = strprintf("%s: %s (%s)", tr("Write error"), path.c_str(), std::strerror(errno));
      }
    }
    if (row.result != BusResult::Done) {
      logLine(s, strprintf(tr("Pump %02d failed: %s"), a, why.c_str()));
      // A file of an earlier backup is the engineer's and stays, but a restore of this
      // folder would write it: say so.
      std::error_code ec;
      const std::string path = filePath(dir, a);
      if (fs::exists(fs::u8path(path), ec))
        logLine(s, strprintf(tr("Pump %02d: %s is from an earlier backup"), a, path.c_str()));
    }
    rows.push_back(row);
  }
  for (const std::string& line : busTableLines(rows, false)) logLine(s, line);
  return rows;
}

bool backupFilesIn(const std::string& dir, std::vector<uint8_t>* addresses, std::string* why) {
  std::error_code ec;
  fs::directory_iterator it(fs::u8path(dir), ec);
  if (ec) {
    *why =
        strprintf("%s: %s (%s)", tr("Cannot read the folder"), dir.c_str(), ec.message().c_str());
    return false;
  }
  addresses->clear();
  for (const fs::directory_entry& e : it) {
    uint8_t a = 0;
    if (backupFileAddress(e.path().filename().u8string(), &a)) addresses->push_back(a);
  }
  std::sort(addresses->begin(), addresses->end());
  addresses->erase(std::unique(addresses->begin(), addresses->end()), addresses->end());
  return true;
}

std::vector<BusRow> restoreBus(BoardSession& s, const std::string& dir,
                               const std::vector<uint8_t>& addresses) {
  struct Item {
    BusRow row;
    ImportPlan plan;
    bool ready = false;
  };
  std::vector<Item> items;
  // First every board is found and its import worked out, with the list of what changes;
  // nothing is written before the one question for the whole run.
  for (uint8_t a : addresses) {
    Item it;
    it.row.address = a;
    const std::string path = filePath(dir, a);
    SettingsFileContent content;
    const int loaded = readSettingsFileContent(path, &content);
    if (loaded != kJsonOk) {
      const int err = errno;
      logLine(s, strprintf(tr("Pump %02d failed: %s"), a,
                           strprintf("%s: %s (%s)", tr("File load error"), path.c_str(),
                                     settingsLoadErrorText(loaded, err).c_str())
                               .c_str()));
      items.push_back(it);
      continue;
    }
    if (!findBoard(s, a)) {
      it.row.result = BusResult::NotFound;
      items.push_back(it);
      continue;
    }
    std::string why;
    if (!readUsableTextId(s, &it.row.textId, &why)) {
      logLine(s, strprintf(tr("Pump %02d failed: %s"), a, why.c_str()));
      items.push_back(it);
      continue;
    }
    if (prepareImport(s, path, &it.plan) != 1) {
      logLine(s, strprintf(tr("Pump %02d failed: %s"), a, tr("Read error")));
      items.push_back(it);
      continue;
    }
    logLine(s, strprintf(tr("Pump %02d, %s:"), a, path.c_str()));
    logImportChanges(s, it.plan);
    it.ready = true;
    items.push_back(it);
  }
  const bool anyReady =
      std::any_of(items.begin(), items.end(), [](const Item& it) { return it.ready; });
  const bool go = anyReady && s.op && s.op->confirm(tr("Start writing?"));
  for (Item& it : items) {
    if (!it.ready) continue;
    if (!go) {
      it.row.result = BusResult::NotWritten;
      continue;
    }
    const uint8_t a = it.row.address;
    // Identified again: the password status and the cached password are this board's.
    SettingsState st;
    if (identifyBoard(s, a, true) == 1) {
      readServiceState(s, st);
      if (writeImport(s, st, it.plan) == kResultDone) it.row.result = BusResult::Done;
    }
    logLine(s, strprintf(tr(it.row.result == BusResult::Done ? "Pump %02d restored"
                                                             : "Pump %02d not restored"),
                         a));
  }
  std::vector<BusRow> rows;
  for (const Item& it : items) rows.push_back(it.row);
  for (const std::string& line : busTableLines(rows, true)) logLine(s, line);
  return rows;
}
