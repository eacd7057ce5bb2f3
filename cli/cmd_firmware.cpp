// korvane-cli commands of the boot loader: the firmware update from an image file and the
// return of a board from its boot loader to normal mode.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "firmware/boot_update.h"
#include "settings/preferences.h"
#include "util/catalog.h"

namespace {

const char* const kFirmwareUsage = "firmware IMAGE [--f0] [--max-baud N]";
const char* const kLeaveUsage = "leave-boot";
constexpr uint64_t kMaxBaudOption = 4000000;

int usage(const char* line) {
  std::fprintf(stderr, "usage: korvane-cli %s\n", line);
  return kCliUsage;
}

const char* resultText(FirmwareResult r) {
  switch (r) {
    case FirmwareResult::Finished:
      return "finished";
    case FirmwareResult::CannotOpenFile:
      return "cannot open the image file";
    case FirmwareResult::NoCpuInfo:
      return "no CPU information from the board";
    case FirmwareResult::CpuInfoCrc:
      return "CPU information checksum wrong";
    case FirmwareResult::EnterFailed:
      return "the board did not enter its boot loader";
    case FirmwareResult::EnterRefused:
      return "the board refused: a fuel delivery is pending";
    case FirmwareResult::BadPageSize:
      return "the board reports a page size of 0";
    case FirmwareResult::BlockTimeout:
      return "a block was not acknowledged";
    case FirmwareResult::FileReadError:
      return "the image file could not be read to its end";
  }
  return "failed";
}

int cmdFirmware(CliContext& ctx, const std::vector<std::string>& args) {
  const Preferences& prefs = ctx.svc->prefs;
  uint32_t maxBaud = prefs.maxBaud > 0 ? static_cast<uint32_t>(prefs.maxBaud) : 0;
  BootTarget target = BootTarget::CurrentAddress;
  std::string imagePath;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--f0") {
      target = BootTarget::BootLoaderAddress;
    } else if (args[i] == "--max-baud") {
      uint64_t n = 0;
      if (i + 1 >= args.size() || !cliParseNumber(args[++i], kMaxBaudOption, &n))
        return usage(kFirmwareUsage);
      maxBaud = static_cast<uint32_t>(n);
    } else if (args[i].rfind("--", 0) == 0 || !imagePath.empty()) {
      return usage(kFirmwareUsage);
    } else {
      imagePath = args[i];
    }
  }
  if (imagePath.empty()) return usage(kFirmwareUsage);

  // The line goes back to what this run opened it with.
  const FirmwareOutcome o =
      ctx.svc->updateBoardFirmware(imagePath, target, ctx.opt.address, maxBaud, *ctx.op);
  if (o.ok()) return kCliOk;
  if (o.result == FirmwareResult::Finished)
    std::fprintf(stderr, "korvane-cli: firmware: the board did not leave its boot loader\n");
  else
    std::fprintf(stderr, "korvane-cli: firmware: %s after %u blocks\n", resultText(o.result),
                 o.blocksSent);
  return kCliFailed;
}

int cmdLeaveBoot(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage(kLeaveUsage);
  const int r = ctx.svc->leaveBootLoader(ctx.opt.address);
  if (r == kHandshakeFailed) {
    std::fprintf(stderr, "korvane-cli: leave-boot: no answer after %d attempts (result %d)\n",
                 kBootHandshakeAttempts, r);
    return kCliFailed;
  }
  ctx.op->logLine(tr("OK"));
  return kCliOk;
}

const CliRegistrar kFirmware({"firmware", kFirmwareUsage, cmdFirmware, true,
                              "replace the board's firmware with the image file IMAGE through its "
                              "boot loader; --f0 talks to a board left in its boot loader (address "
                              "0xF0), --max-baud raises the line rate during the update up to N"});
const CliRegistrar kLeave({"leave-boot", kLeaveUsage, cmdLeaveBoot, true,
                           "bring a board that waits in its boot loader back to normal work"});

}  // namespace
