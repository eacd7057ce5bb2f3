// korvane-cli commands over the settings core: diagnostics, totals, restart, controller
// clear, display mode, imitator, serial number, settings file export/import, factory
// presets, meter types and phases, device passwords. This file only parses arguments.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "settings/presets.h"
#include "settings/service_actions.h"
#include "settings/settings_sequences.h"
#include "settings/side_nozzle.h"
#include "util/catalog.h"

namespace {

int usage(const char* line) {
  std::fprintf(stderr, "usage: korvane-cli %s\n", line);
  return kCliUsage;
}

int status(int result) { return result == kResultDone ? kCliOk : kCliFailed; }

// What a command needs to know of the board first: password status, imitator byte and the
// main settings record (side and nozzle counts).
void loadBoard(CliContext& ctx, SettingsState* st) { readServiceState(ctx.svc->session, *st); }

const char* const kDiagUsage = "diag";
int cmdDiag(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage(kDiagUsage);
  readDiagnostics(ctx.svc->session);
  return kCliOk;
}

const char* const kTotalsUsage = "totals";
int cmdTotals(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage(kTotalsUsage);
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  return showTotals(ctx.svc->session, st) ? kCliOk : kCliFailed;
}

const char* const kRestartUsage = "restart";
int cmdRestart(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage(kRestartUsage);
  return status(restartController(ctx.svc->session));
}

const char* const kClearUsage = "clear";
int cmdClear(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage(kClearUsage);
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  return status(controllerClear(ctx.svc->session));
}

const char* const kDisplayUsage =
    "display-mode N   (0 standard, 1 performance, 2 test, 3 totals, 11 test 0..9)";
int cmdDisplayMode(CliContext& ctx, const std::vector<std::string>& args) {
  uint64_t mode;
  if (args.size() != 1 || !cliParseNumber(args[0], 0xFF, &mode)) return usage(kDisplayUsage);
  return status(setDisplayMode(ctx.svc->session, static_cast<uint8_t>(mode)));
}

const char* const kImitatorUsage = "imitator";
int cmdImitator(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage(kImitatorUsage);
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  if (!st.imitatorActive) {
    std::fprintf(stderr, "%s\n", tr("Read error"));
    return kCliFailed;
  }
  return status(toggleImitator(ctx.svc->session, st));
}

const char* const kSerialUsage = "serial NNNNNNNN";
int cmdSerial(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() != 1) return usage(kSerialUsage);
  return status(writeSerialNumber(ctx.svc->session, args[0]));
}

const char* const kExportUsage = "export FILE.json";
int cmdExport(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty()) return usage(kExportUsage);
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  if (!st.tabsEnabled) {  // no main record to save
    std::fprintf(stderr, "%s\n", tr("Read error"));
    return kCliFailed;
  }
  return exportSettings(ctx.svc->session, st, args[0]) == 1 ? kCliOk : kCliFailed;
}

const char* const kImportUsage =
    "import [--dry-run] FILE.json   (asks \"Start writing?\" unless --yes; --dry-run only lists "
    "what would change)";
int cmdImport(CliContext& ctx, const std::vector<std::string>& args) {
  std::string path;
  bool dryRun = false;
  for (const std::string& a : args) {
    if (a == "--dry-run" && !dryRun)
      dryRun = true;
    else if (path.empty() && !a.empty() && a.rfind("--", 0) != 0)
      path = a;
    else
      return usage(kImportUsage);
  }
  if (path.empty()) return usage(kImportUsage);
  // The dry run reads the two records the import reads, and nothing else goes on the bus.
  if (dryRun) return previewImport(ctx.svc->session, path) == 1 ? kCliOk : kCliFailed;
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  return status(importSettings(ctx.svc->session, st, path));
}

// "1,2,3" into the cells of an AZT table.
bool parseCells(const std::string& text, std::array<std::string, 5>* cells) {
  size_t start = 0;
  int n = 0;
  cells->fill("");
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (n >= 5) return false;
    (*cells)[n++] = text.substr(start, comma - start);
    start = comma + 1;
  }
  return true;
}

const char* const kPresetUsage =
    "preset TYPE --sides 1|2 --nozzles 1..5 [--side-a A] [--side-b B] [--azt-a A1,A2,..] [--azt-b "
    "B1,..]\n"
    "       TYPE: shelf | general | c4000 | astra | tokheim (or 0..4); clears the totals first\n"
    "       (asks \"This will set all pump totals to 0\" unless --yes)";
int cmdPreset(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.empty()) return usage(kPresetUsage);
  static const char* const kNames[kPumpTypeCount] = {"shelf", "general", "c4000", "astra",
                                                     "tokheim"};
  PresetForm f;
  f.pumpType = -1;
  for (int i = 0; i < kPumpTypeCount; ++i)
    if (args[0] == kNames[i] || args[0] == std::to_string(i)) f.pumpType = i;
  if (f.pumpType < 0) return usage(kPresetUsage);
  describePumpType(&f);
  f.nozzleChoice = -1;
  bool cellsA = false, cellsB = false;
  PresetForm given;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (i + 1 >= args.size()) return usage(kPresetUsage);
    const std::string& v = args[++i];
    uint64_t n;
    if (a == "--sides") {
      if (!cliParseNumber(v, 2, &n) || n < 1) return usage(kPresetUsage);
      f.sideChoice = static_cast<int>(n) - 1;
    } else if (a == "--nozzles") {
      if (!cliParseNumber(v, 5, &n) || n < 1) return usage(kPresetUsage);
      f.nozzleChoice = static_cast<int>(n) - 1;
    } else if (a == "--side-a") {
      f.sideA = v;
    } else if (a == "--side-b") {
      f.sideB = v;
    } else if (a == "--azt-a") {
      if (!parseCells(v, &given.aztA)) return usage(kPresetUsage);
      cellsA = true;
    } else if (a == "--azt-b") {
      if (!parseCells(v, &given.aztB)) return usage(kPresetUsage);
      cellsB = true;
    } else {
      return usage(kPresetUsage);
    }
  }
  onPresetNozzlesChosen(&f);  // consecutive AZT addresses unless given
  if (cellsA) f.aztA = given.aztA;
  if (cellsB) f.aztB = given.aztB;
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  return applyPreset(ctx.svc->session, st, f) == 1 ? kCliOk : kCliFailed;
}

// "1A" .. "5B" -> row of the side and nozzle tab.
int rowOf(const SettingsState& st, const std::string& label) {
  if (label.size() != 2 || label[0] < '1' || label[0] > '5') return -1;
  const int nozzle = label[0] - '1';
  const char side = static_cast<char>(label[1] & ~0x20);
  if (side != 'A' && side != 'B') return -1;
  // Rows are laid out with at most five nozzles per side, as the tab shows them.
  const int n = st.nozzleCount() > 5 ? 5 : static_cast<int>(st.nozzleCount());
  const int row = (side == 'B' ? 1 : 0) * n + nozzle;
  return (nozzle < n && row < shownMeterRows(st)) ? row : -1;
}

const char* const kMetersUsage = "meters [--type NS=VALUE]... [--phase NS=0|1|2]...   (NS: 1A..5B)";
int cmdMeters(CliContext& ctx, const std::vector<std::string>& args) {
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  if (!st.tabsEnabled) {
    std::fprintf(stderr, "%s\n", tr("Read error"));
    return kCliFailed;
  }
  readSideNozzle(ctx.svc->session, st);
  SideNozzleForm form;
  displaySideNozzle(st, &form);
  bool write = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a != "--type" && a != "--phase") || i + 1 >= args.size()) return usage(kMetersUsage);
    const std::string& v = args[++i];
    const size_t eq = v.find('=');
    if (eq == std::string::npos) return usage(kMetersUsage);
    const int row = rowOf(st, v.substr(0, eq));
    uint64_t n;
    if (row < 0 || !cliParseNumber(v.substr(eq + 1), a == "--type" ? 0x7FFF : 2, &n))
      return usage(kMetersUsage);
    if (a == "--type")
      form.rows[row].type = std::to_string(n);
    else
      form.rows[row].phase = static_cast<int>(n);
    write = true;
  }
  if (write) return writeSideNozzle(ctx.svc->session, st, form) == 1 ? kCliOk : kCliFailed;
  for (int side = 0; side < 2; ++side) {
    const SideGroupForm& g = form.sides[side];
    ctx.op->logLine(
        strprintf("%s: %s %s, %s %s, %s %s, %s %s, %s %s", tr(side ? "Side B" : "Side A"),
                  tr("Active nozzle"), g.activeNozzle.c_str(), tr("Calibration count"),
                  g.calibrationCount.c_str(), tr("Calibration date"), g.calibrationDate.c_str(),
                  tr("Delivery count"), g.deliveryCount.c_str(), tr("Wrong clear count"),
                  g.wrongClearCount.c_str()));
  }
  for (const MeterRowForm& r : form.rows) {
    if (!r.shown) continue;
    ctx.op->logLine(strprintf("%s %s, %s %s, %s %s, %s %s", r.typeLabel.c_str(), r.type.c_str(),
                              r.phaseLabel.c_str(), r.phase >= 0 ? tr(kPhaseItems[r.phase]) : "-",
                              r.calibrationLabel.c_str(), r.calibration.c_str(), tr("Coefficient"),
                              r.coefficient.c_str()));
  }
  return kCliOk;
}

const char* const kPasswdUsage = "passwd admin|calibration NNNN";
int cmdPasswd(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "admin" && args[0] != "calibration"))
    return usage(kPasswdUsage);
  SettingsState& st = ctx.svc->settings;
  loadBoard(ctx, &st);
  return status(changePassword(ctx.svc->session, st, args[0] == "calibration", args[1]));
}

const CliRegistrar kRegDiag({"diag", kDiagUsage, cmdDiag, true,
                             "read the board's diagnostic registers and counters"});
const CliRegistrar kRegTotals({"totals", kTotalsUsage, cmdTotals, true,
                               "read and print the totals of every nozzle"});
const CliRegistrar kRegRestart({"restart", kRestartUsage, cmdRestart, true,
                                "restart the controller"});
const CliRegistrar kRegClear(
    {"clear", kClearUsage, cmdClear, true,
     "set every pump total to 0 and restart the controller (asks first unless --yes)"});
const CliRegistrar kRegDisplay({"display-mode", kDisplayUsage, cmdDisplayMode, true,
                                "switch what the pump's displays show"});
const CliRegistrar kRegImitator({"imitator", kImitatorUsage, cmdImitator, true,
                                 "switch the board's imitation mode on or off"});
const CliRegistrar kRegSerial({"serial", kSerialUsage, cmdSerial, true,
                               "write the board's serial number"});
const CliRegistrar kRegExport({"export", kExportUsage, cmdExport, true,
                               "save the board's settings records to a JSON settings file"});
const CliRegistrar kRegImport({"import", kImportUsage, cmdImport, true,
                               "write the settings of a JSON settings file to the board, after "
                               "listing the fields that change"});
const CliRegistrar kRegPreset(
    {"preset", kPresetUsage, cmdPreset, true,
     "write the factory settings of a pump type, with its sides, nozzles and addresses"});
const CliRegistrar kRegMeters(
    {"meters", kMetersUsage, cmdMeters, true,
     "print the side and nozzle settings, or set meter types and phases"});
const CliRegistrar kRegPasswd({"passwd", kPasswdUsage, cmdPasswd, true,
                               "set the board's admin or calibration password"});

}  // namespace
