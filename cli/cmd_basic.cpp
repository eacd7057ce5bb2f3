// korvane-cli commands that talk to the bus directly: identify the board, scan the bus,
// and raw block reads and writes of the data and service spaces.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "protocol/board.h"
#include "protocol/board_io.h"
#include "session/service_session.h"
#include "util/catalog.h"
#include "util/number_text.h"

namespace {

constexpr uint64_t kMaxBank = 7;
constexpr uint64_t kMaxBlockAddress = 0xFFFFFF;
constexpr int kMaxReplyBytes = 253;  // data + check + trailing byte of a block read

int usage(const char* line) {
  std::fprintf(stderr, "usage: korvane-cli %s\n", line);
  return kCliUsage;
}

int checkLength(unsigned mode) { return mode == 1 ? 1 : mode == 2 ? 4 : 0; }

bool parseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
  if (text.empty() || text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = hexDigitValue(text[i]), lo = hexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

int cmdIdentify(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage("identify");
  // The identifier alone: the settings are read by the commands that need them.
  return ctx.svc->identifyAndRefresh(ctx.opt.address, false) == 1 ? kCliOk : kCliFailed;
}

int cmdScan(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return usage("scan");
  return scanBus(ctx.svc->session) > 0 ? kCliOk : kCliFailed;
}

const char* const kReadUsage = "read BANK ADDR COUNT [--check 0|1|2]";

int cmdRead(CliContext& ctx, const std::vector<std::string>& args) {
  std::vector<std::string> pos;
  uint64_t check = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--check") {
      if (i + 1 >= args.size() || !cliParseNumber(args[i + 1], 2, &check)) return usage(kReadUsage);
      ++i;
    } else {
      pos.push_back(args[i]);
    }
  }
  uint64_t bank = 0, address = 0, count = 0;
  if (pos.size() != 3 || !cliParseNumber(pos[0], kMaxBank, &bank) ||
      !cliParseNumber(pos[1], kMaxBlockAddress, &address) ||
      !cliParseNumber(
          pos[2],
          static_cast<uint64_t>(kMaxReplyBytes - 1 - checkLength(static_cast<unsigned>(check))),
          &count))
    return usage(kReadUsage);

  UTRKDevice& dev = *ctx.svc->dev;
  std::vector<uint8_t> data(count + 1);
  int r = pollRequest(dev, [&] {
    return dev.readBlock(static_cast<uint32_t>(address), static_cast<uint8_t>(bank),
                         static_cast<uint8_t>(count), data.data(), static_cast<uint8_t>(check), 0);
  });
  if (r != kResultDone) {
    std::fprintf(stderr, "Read result=%d\n", r);
    return kCliFailed;
  }
  std::string line;
  for (uint64_t i = 0; i < count; ++i) line += strprintf(i ? " %02x" : "%02x", data[i]);
  ctx.op->logLine(line);
  return kCliOk;
}

const char* const kWriteUsage = "write BANK ADDR HEXBYTES";

int cmdWrite(CliContext& ctx, const std::vector<std::string>& args) {
  uint64_t bank = 0, address = 0;
  std::vector<uint8_t> bytes;
  if (args.size() != 3 || !cliParseNumber(args[0], kMaxBank, &bank) ||
      !cliParseNumber(args[1], kMaxBlockAddress, &address) || !parseHexBytes(args[2], &bytes) ||
      bytes.size() > 255)
    return usage(kWriteUsage);

  UTRKDevice& dev = *ctx.svc->dev;
  BoardSession& s = ctx.svc->session;
  // A raw write logs in only when asked to: the board tells whether a password is set.
  if (!ctx.opt.password.empty()) {
    uint8_t status[kPasswordStatusSize] = {0, 0};
    int r = pollRequest(dev, [&] {
      return dev.readBlock(kRegPasswordStatus, kBankService, sizeof status, status, kCheckNone, 0);
    });
    if (r != kResultDone) {
      std::fprintf(stderr, "Password status read result=%d\n", r);
      return kCliFailed;
    }
    s.login.status[0] = status[0];
    s.login.status[1] = status[1];
    if (enterAdminPassword(s, false) != 1) return kCliFailed;
  }
  int r = pollRequest(dev, [&] {
    return dev.writeBlock(static_cast<uint32_t>(address), static_cast<uint8_t>(bank), bytes.data(),
                          static_cast<uint8_t>(bytes.size()));
  });
  if (r != kResultDone) {
    std::fprintf(stderr, "Write result=%d\n", r);
    int code = readLastStatus(s);
    if (code != 0) std::fprintf(stderr, "%s\n", tr(lastErrorMessage(code)));
    return kCliFailed;
  }
  ctx.op->logLine(strprintf("Write result=%d", r));
  return kCliOk;
}

CliRegistrar regIdentify({"identify", "identify", cmdIdentify, true,
                          "print the text identifier of the board at --address"});
CliRegistrar regScan({"scan", "scan", cmdScan, true,
                      "identify bus addresses 1..32 in turn and print which boards answer"});
CliRegistrar regRead({"read", kReadUsage, cmdRead, true,
                      "read COUNT bytes at ADDR of memory bank BANK and print them in hex; --check "
                      "1 or 2 asks for a checksum or a CRC-32 with the reply"});
CliRegistrar regWrite({"write", kWriteUsage, cmdWrite, true,
                       "write the bytes HEXBYTES at ADDR of memory bank BANK (logging in first "
                       "when --password is given)"});

}  // namespace
