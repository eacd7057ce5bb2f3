// korvane-cli commands for a whole station: back up every board of the bus into a folder,
// restore such a folder, and compare two settings files field by field. The work is the
// core's (settings/board_backup, settings/settings_diff); this file parses arguments.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "settings/board_backup.h"
#include "settings/settings_diff.h"
#include "settings/settings_json.h"
#include "util/catalog.h"

namespace {

int usage(const char* line) {
  std::fprintf(stderr, "usage: korvane-cli %s\n", line);
  return kCliUsage;
}

// "1,3,5-7" (decimal or 0x-hex, 1..239) into a sorted list without repeats.
bool parseAddressList(const std::string& text, std::vector<uint8_t>* out) {
  std::vector<bool> chosen(kBroadcastAddress, false);
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(at, comma - at);
    const size_t dash = item.find('-');
    uint64_t from = 0, to = 0;
    if (!cliParseNumber(item.substr(0, dash), kBroadcastAddress - 1, &from) ||
        (dash != std::string::npos &&
         !cliParseNumber(item.substr(dash + 1), kBroadcastAddress - 1, &to)))
      return false;
    if (dash == std::string::npos) to = from;
    if (from < 1 || to < from) return false;
    for (uint64_t a = from; a <= to; ++a) chosen[a] = true;
    at = comma + 1;
  }
  out->clear();
  for (size_t a = 1; a < chosen.size(); ++a)
    if (chosen[a]) out->push_back(static_cast<uint8_t>(a));
  return true;
}

// DIR [--addresses LIST]; false on anything else.
bool parseFolderArgs(const std::vector<std::string>& args, std::string* dir,
                     std::vector<uint8_t>* addresses, bool* listed) {
  *listed = false;
  dir->clear();
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--addresses") {
      if (i + 1 >= args.size() || *listed || !parseAddressList(args[++i], addresses)) return false;
      *listed = true;
    } else if (dir->empty() && !args[i].empty() && args[i].rfind("--", 0) != 0) {
      *dir = args[i];
    } else {
      return false;
    }
  }
  return !dir->empty();
}

const char* const kBackupUsage = "backup DIR [--addresses LIST]";
int cmdBackup(CliContext& ctx, const std::vector<std::string>& args) {
  std::string dir, why;
  std::vector<uint8_t> addresses;
  bool listed = false;
  if (!parseFolderArgs(args, &dir, &addresses, &listed)) return usage(kBackupUsage);
  if (!listed)
    for (unsigned a = kBusScanFirstAddress; a <= kBusScanLastAddress; ++a)
      addresses.push_back(static_cast<uint8_t>(a));
  // Nothing is asked of the bus when nothing could be saved.
  if (!prepareBackupFolder(dir, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return kCliFailed;
  }
  const std::vector<BusRow> rows = backupBus(ctx.svc->session, dir, addresses, listed);
  if (rows.empty()) std::fprintf(stderr, "%s\n", tr("No board found"));
  return busRunSucceeded(rows, listed) ? kCliOk : kCliFailed;
}

const char* const kRestoreUsage =
    "restore DIR [--addresses LIST]   (asks \"Start writing?\" once unless --yes)";
int cmdRestore(CliContext& ctx, const std::vector<std::string>& args) {
  std::string dir, why;
  std::vector<uint8_t> addresses;
  bool listed = false;
  if (!parseFolderArgs(args, &dir, &addresses, &listed)) return usage(kRestoreUsage);
  if (!listed) {
    if (!backupFilesIn(dir, &addresses, &why)) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return kCliFailed;
    }
    if (addresses.empty()) {
      std::fprintf(stderr, "%s\n",
                   strprintf(tr("No board-NN.json file in %s"), dir.c_str()).c_str());
      return kCliFailed;
    }
  }
  const std::vector<BusRow> rows = restoreBus(ctx.svc->session, dir, addresses);
  return busRunSucceeded(rows, true) ? kCliOk : kCliFailed;
}

// Exit status of diff: 0 equal, 1 different, 2 a file that cannot be read.
constexpr int kDiffEqual = 0;
constexpr int kDiffDifferent = 1;
constexpr int kDiffUnreadable = 2;

const char* const kDiffUsage = "diff A.json B.json";
int cmdDiff(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() != 2) return usage(kDiffUsage);
  SettingsFileContent files[2];
  for (int i = 0; i < 2; ++i) {
    const int r = readSettingsFileContent(args[i], &files[i]);
    if (r != kJsonOk) {
      const int err = errno;
      std::fprintf(stderr, "%s: %s (%s)\n", tr("File load error"), args[i].c_str(),
                   settingsLoadErrorText(r, err).c_str());
      return kDiffUnreadable;
    }
    for (const std::string& key : files[i].skipped)
      std::fprintf(
          stderr, "%s: %s\n", args[i].c_str(),
          strprintf(tr("Key %s skipped: its value is not a decimal number"), key.c_str()).c_str());
  }
  const std::vector<FieldChange> changes = diffSettingsFiles(files[0], files[1]);
  for (const FieldChange& c : changes) ctx.op->logLine(fieldChangeLine(c));
  if (changes.empty()) ctx.op->logLine(tr("No values changed"));
  return changes.empty() ? kDiffEqual : kDiffDifferent;
}

const CliRegistrar kRegBackup(
    {"backup", kBackupUsage, cmdBackup, true,
     "save every board found on the bus (addresses 1..32, or LIST such as 1,3,5-7) into "
     "DIR/board-NN.json: both settings records in the form import reads, and the channel and "
     "meter records and side data; a table of results at the end"});
const CliRegistrar kRegRestore(
    {"restore", kRestoreUsage, cmdRestore, true,
     "import every DIR/board-NN.json (or those of LIST) into the board at NN, after listing "
     "what each import changes; bus addresses are kept"});
const CliRegistrar kRegDiff({"diff", kDiffUsage, cmdDiff, false,
                             "print every settings field whose value the two settings files set "
                             "differently: its key, the value in A, the value in B; exit 0 equal, "
                             "1 different, 2 a file that cannot be read"});

}  // namespace
