// korvane-cli commands of the "Load" tab: fuelling commands to one side and nozzle, the side
// monitor run in a loop that prints the nozzle's state and performance as they change, the
// SIP diagnostics and set-address of a side, and the counters the tab shows.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "link/port.h"
#include "link/tick.h"
#include "protocol/board.h"
#include "protocol/board_io.h"
#include "protocol/fuelling.h"
#include "protocol/side_monitor.h"
#include "session/service_session.h"
#include "settings/settings_records.h"
#include "util/catalog.h"
#include "util/number_text.h"

namespace {

const char* const kFuelUsage =
    "fuel volume|amount|fulltank|finish|suspend|continue|price [VALUE] [--side A|B] [--nozzle N]";
const char* const kMonitorUsage = "monitor [--count N] [--side A|B] [--nozzle N]";
const char* const kSipDiagUsage = "sip-diag [--side A|B]";
const char* const kSipAddressUsage = "sip-address [--side A|B]";
const char* const kCountersUsage = "counters";
constexpr uint64_t kMaxNozzle = 5;
constexpr uint64_t kMaxCount = 1000000;

int usage(const char* line) {
  std::fprintf(stderr, "usage: korvane-cli %s\n", line);
  return kCliUsage;
}

struct SideOptions {
  bool sideB = false;
  uint8_t nozzle = 1;
};

// Takes --side and --nozzle out of args; false on a bad value.
bool takeSideOptions(std::vector<std::string>* args, SideOptions* so, uint64_t* count) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args->size(); ++i) {
    const std::string& a = (*args)[i];
    bool hasValue = i + 1 < args->size();
    if (a == "--side") {
      if (!hasValue) return false;
      const std::string& v = (*args)[++i];
      if (v == "A" || v == "a")
        so->sideB = false;
      else if (v == "B" || v == "b")
        so->sideB = true;
      else
        return false;
    } else if (a == "--nozzle") {
      uint64_t n = 0;
      if (!hasValue || !cliParseNumber((*args)[++i], kMaxNozzle, &n) || n == 0) return false;
      so->nozzle = static_cast<uint8_t>(n);
    } else if (a == "--count" && count) {
      if (!hasValue || !cliParseNumber((*args)[++i], kMaxCount, count)) return false;
    } else {
      rest.push_back(a);
    }
  }
  *args = rest;
  return true;
}

// The side addresses come from the board's main settings; without them side A is the board
// the command line names and side B is unknown.
// Aims the session's side monitor at the side chosen, and returns it (nullptr when the side
// cannot be reached, with the reason on stderr).
SideMonitor* setUpSides(CliContext& ctx, const SideOptions& so) {
  ServiceSession& svc = *ctx.svc;
  const int r = svc.readSideAddresses();
  svc.aimSideMonitor(ctx.opt.address);
  SideMonitor* mon = &svc.monitor;
  if (so.sideB && mon->sideBAddress == 0) {
    std::fprintf(stderr, "korvane-cli: side B address unknown (main settings read result=%d)\n", r);
    return nullptr;
  }
  // Side B of a one-sided board may still hold an address: another board's, perhaps.
  const std::string refusal = mon->sideRefusal(so.sideB);
  if (!refusal.empty()) {
    std::fprintf(stderr, "korvane-cli: %s\n", refusal.c_str());
    return nullptr;
  }
  mon->selectSide(so.sideB);
  mon->nozzle = so.nozzle;
  return mon;
}

// Longest single wait while the status reply is awaited; input ends it at once.
constexpr uint32_t kStatusWaitStepMs = 1;

// The timer of a command-line run: the loop below waits for it.
class LoopTimer : public MonitorTimer {
 public:
  bool pending = false;
  uint32_t due = 0;
  void arm(uint32_t ms) override {
    pending = true;
    due = nowMs() + ms;
  }
  void cancel() override { pending = false; }
  bool isArmed() const override { return pending; }
};

// Runs the loop until the status poll has been answered (or timed out), so that the nozzle
// flags are known before a command.
void learnNozzleFlags(SideMonitor& mon) {
  LoopTimer t;
  mon.timer = &t;
  mon.step();
  while (mon.monitorState == kMonitorAwaitStatus) {
    portWaitInput(mon.dev->port, kStatusWaitStepMs);
    mon.step();
  }
  mon.pauseSideMonitor();
  mon.timer = nullptr;
}

int cmdFuel(CliContext& ctx, const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  SideOptions so;
  if (!takeSideOptions(&args, &so, nullptr) || args.empty()) return usage(kFuelUsage);
  const std::string& what = args[0];
  int code = 0;
  bool needsValue = false;
  int64_t value = 0;
  if (what == "volume") {
    code = kFuelLoadVolume, needsValue = true;
  } else if (what == "amount") {
    code = kFuelLoadAmount, needsValue = true;
  } else if (what == "price") {
    code = kFuelSetPrice, needsValue = true;
  } else if (what == "fulltank") {
    code = kFuelLoadVolume, value = kFulltankValue;
  } else if (what == "finish") {
    code = kFuelFinish;
  } else if (what == "suspend") {
    code = kFuelSuspend;
  } else if (what == "continue") {
    code = kFuelContinue;
  } else {
    return usage(kFuelUsage);
  }
  if (args.size() != (needsValue ? 2u : 1u)) return usage(kFuelUsage);
  if (needsValue && !parseStrictHundredths(args[1], &value)) {
    std::fprintf(stderr, "korvane-cli: bad value %s (a number with at most two decimals)\n",
                 args[1].c_str());
    return kCliUsage;
  }
  FuelBody probe;
  if (!buildFuellingBody(code, value, so.nozzle, &probe)) {
    std::fprintf(stderr, "korvane-cli: value %s is out of range\n", args[1].c_str());
    return kCliUsage;
  }

  SideMonitor* side = setUpSides(ctx, so);
  if (!side) return kCliFailed;
  SideMonitor& mon = *side;
  learnNozzleFlags(mon);
  int r = sendFuellingCommand(mon, code, value, false, ctx.op);
  if (r != kResultDone) {
    std::fprintf(stderr, "korvane-cli: fuel %s: result=%d\n", what.c_str(), r);
    return kCliFailed;
  }
  return kCliOk;
}

int cmdMonitor(CliContext& ctx, const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  SideOptions so;
  uint64_t count = 0;
  if (!takeSideOptions(&args, &so, &count) || !args.empty()) return usage(kMonitorUsage);

  UTRKDevice& dev = *ctx.svc->dev;
  uint8_t ident[3] = {};
  int r = pollRequest(dev, [&] { return dev.identify(ident, ctx.opt.address); });
  if (r != kResultDone) {
    ctx.op->logLine(tr("No connection"));
    std::fprintf(stderr, "korvane-cli: monitor: identify result=%d\n", r);
    return kCliFailed;
  }
  dev.address = ctx.opt.address;
  SideMonitor* side = setUpSides(ctx, so);
  if (!side) return kCliFailed;
  SideMonitor& mon = *side;
  // Whatever the board's kind, the monitor reads what it says it is.
  mon.kind = static_cast<char>(ident[1]);

  std::string state, performance;
  uint64_t polls = 0;
  mon.view.showState = [&](const std::string& s) {
    ++polls;
    if (s != state) ctx.op->logLine(strprintf("%s: %s", tr("State"), s.c_str()));
    state = s;
  };
  mon.view.showPerformance = [&](const std::string& s) {
    if (s != performance) ctx.op->logLine(strprintf("%s: %s", tr("Performance"), s.c_str()));
    performance = s;
  };
  // After the last counted status, the loop stops at its next idle point.
  mon.view.loadTabCurrent = [&] { return count == 0 || polls < count; };

  LoopTimer timer;
  mon.timer = &timer;
  mon.startSideMonitor(so.sideB);
  while (timer.pending) {
    int32_t left = static_cast<int32_t>(timer.due - nowMs());
    if (left > 0) tickSleepMs(static_cast<uint32_t>(left));
    timer.pending = false;
    mon.sideMonitorStep();
  }
  return kCliOk;
}

// Takes --side out of args (no --nozzle, --count or anything else); false on bad usage.
bool takeSideOnly(const std::vector<std::string>& argsIn, SideOptions* so) {
  for (const std::string& a : argsIn)
    if (a == "--nozzle" || a == "--count") return false;
  std::vector<std::string> args = argsIn;
  return takeSideOptions(&args, so, nullptr) && args.empty();
}

int cmdSipDiag(CliContext& ctx, const std::vector<std::string>& args) {
  SideOptions so;
  if (!takeSideOnly(args, &so)) return usage(kSipDiagUsage);
  const SideMonitor* mon = setUpSides(ctx, so);
  if (!mon) return kCliFailed;
  std::string text;
  const int r = readSipDiagnostics(*ctx.svc->dev, mon->monitorAddress, &text);
  if (r != kResultDone) {
    ctx.op->logLine(tr("Read error"));
    std::fprintf(stderr, "korvane-cli: sip-diag: read result=%d\n", r);
    return kCliFailed;
  }
  std::fputs(text.c_str(), stdout);
  return kCliOk;
}

int cmdSipAddress(CliContext& ctx, const std::vector<std::string>& args) {
  SideOptions so;
  if (!takeSideOnly(args, &so)) return usage(kSipAddressUsage);
  const SideMonitor* side = setUpSides(ctx, so);
  if (!side) return kCliFailed;
  const SideMonitor& mon = *side;
  ctx.op->alert(
      tr("Set the desired meter's switch to 'calibrate'.\nTake the corresponding nozzle out"));
  uint8_t ioBits[kIoBitsBytes] = {};
  const int r = readIoBits(*ctx.svc->dev, mon.monitorAddress, ioBits);
  if (r != kResultDone) {
    ctx.op->logLine(tr("Read error"));
    std::fprintf(stderr, "korvane-cli: sip-address: input bits read result=%d\n", r);
    return kCliFailed;
  }
  if (!exactlyOneNozzleOut(ioBits)) {
    ctx.op->alert(tr("No nozzles (or more than 1) were taken out"));
    return kCliFailed;
  }
  const SipAddressResult result = exchangeSipAddress(*ctx.svc->dev, mon.monitorAddress);
  if (result != SipAddressResult::Done) {
    ctx.op->alert(tr(sipAddressResultText(result)));
    return kCliFailed;
  }
  ctx.op->logLine(tr("OK"));
  return kCliOk;
}

int cmdCounters(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage(kCountersUsage);
  BoardSession& s = ctx.svc->session;
  // The board's kind decides whether mass and amount are shown.
  if (identifyBoard(s, ctx.opt.address, true) != 1) {
    ctx.op->logLine(tr("No connection"));
    return kCliFailed;
  }
  SettingsState& st = ctx.svc->settings;
  // Whether the counters carry litres is an extra setting; unread, they are shown.
  readBlockPolled(s, kExtraSettingsAddress, kBankData, kExtraSettingsSize, st.extra.bytes.data(),
                  kCheckCrc);
  const std::string text = readLoadCounters(s, st);
  if (text.empty()) {
    std::fprintf(stderr, "korvane-cli: counters: the channel records could not be read\n");
    return kCliFailed;
  }
  std::fputs(text.c_str(), stdout);
  return kCliOk;
}

const CliRegistrar kFuel({"fuel", kFuelUsage, cmdFuel, true,
                          "send a fuelling command to a side and nozzle: load a volume or an "
                          "amount, full tank, finish, suspend, continue, or set the price"});
const CliRegistrar kMonitor(
    {"monitor", kMonitorUsage, cmdMonitor, true,
     "follow a side and print the nozzle's state and delivery as they change"});
const CliRegistrar kSipDiag({"sip-diag", kSipDiagUsage, cmdSipDiag, true,
                             "print the SIP diagnostics of a side: one line a meter or sensor"});
const CliRegistrar kSipAddress(
    {"sip-address", kSipAddressUsage, cmdSipAddress, true,
     "give the meter of the one nozzle taken out on a side the address it is to take"});
const CliRegistrar kCounters({"counters", kCountersUsage, cmdCounters, true,
                              "print the counters of nozzle 1 on both sides, as the Load tab "
                              "shows them"});

}  // namespace
