// Procedures over the device handle that every front end shares: identifying the board at an
// address, the admin log-in, the board's last-error query and the display-mode switch, talking
// to the engineer only through the Operator.
#include "protocol/board.h"

#include <cstring>

#include "protocol/board_io.h"
#include "util/catalog.h"
#include "util/text.h"

namespace {

constexpr uint8_t kPasswordSetBit = 0x01;
constexpr int kCodePageBoardText = 866;
constexpr int kTextIdBufferSize = 129;

void logIf(BoardSession& s, bool quiet, const char* text) {
  if (!quiet && s.op) s.op->logLine(tr(text));
}

// Password as typed: a decimal number that fits the 16-bit register, nothing else.
bool parsePassword(const std::string& text, uint16_t* out) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) return false;
  uint64_t v = 0;
  if (!parseStrictDecimal(text.substr(b, e - b + 1), 5, 0xFFFF, &v)) return false;
  *out = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

int identifyBoard(BoardSession& s, uint8_t address, bool quiet) {
  // Whatever was known belongs to the previous board.
  s.forgetBoard();
  if (!quiet && s.op) s.op->clearLog();
  if (!s.dev) {
    logIf(s, quiet, "No connection");
    return 0;
  }

  UTRKDevice& dev = *s.dev;
  dev.address = address;
  uint8_t id[3] = {0, 0, 0};
  int r = pollRequest(dev, [&] { return dev.identify(id, address); });
  if (r != kResultDone) {
    logIf(s, quiet, "No connection");
    return 0;
  }
  if (id[1] != '#' && id[1] != '$') {
    logIf(s, quiet, "Unsupported device");
    return 0;
  }
  s.kind = static_cast<char>(id[1]);
  if (quiet) return 1;

  if (address == kBroadcastAddress || address == 0) {
    dev.address = id[0];
    s.pumpAddress = id[0];
    if (s.onPumpAddress) s.onPumpAddress(id[0]);
  }

  std::string text;
  if (readBoardTextId(dev, &text) != kResultDone) {
    logIf(s, false, "Cannot read text identifier");
    return 0;
  }
  // The marker is plain ASCII, which the code-page conversion leaves as it was.
  s.bootMode = text.find("boot load") != std::string::npos;
  s.textId = text;
  if (s.op) s.op->logLine(s.textId);
  return 1;
}

int readBoardTextId(UTRKDevice& dev, std::string* utf8) {
  char text[kTextIdBufferSize] = {};
  const int r = pollRequest(dev, [&] { return dev.readTextId(text); });
  if (r == kResultDone && utf8) *utf8 = codePageToUtf8(std::string(text), kCodePageBoardText);
  return r;
}

int enterAdminPassword(BoardSession& s, bool askOld) {
  if (!(s.login.status[0] & kPasswordSetBit)) return 1;
  if (!s.dev || !s.op) return 0;
  if (!s.login.cached) {
    std::string answer;
    if (!s.op->askPassword(tr(askOld ? "Please enter OLD password" : "Please enter admin password"),
                           &answer))
      return 0;
    uint16_t value = 0;
    // Something that is not a number would be sent as some other password and count as a
    // wrong attempt on the board; refuse it here instead.
    if (!parsePassword(answer, &value)) {
      s.op->alert(tr("Wrong password"));
      return 0;
    }
    s.login.password = value;
    s.login.cached = true;
  }
  UTRKDevice& dev = *s.dev;
  const uint8_t bytes[2] = {static_cast<uint8_t>(s.login.password & 0xFF),
                            static_cast<uint8_t>(s.login.password >> 8)};
  int r =
      pollRequest(dev, [&] { return dev.writeBlock(kRegPasswordEntry, kBankService, bytes, 2); });
  if (r == kResultDone) return 1;
  const std::string why = writeFailureText(s);
  s.login.cached = false;
  s.login.password = 0;
  s.op->alert(why);
  return 0;
}

int setDisplayMode(BoardSession& s, uint8_t mode) {
  if (!s.dev) return kResultTimeout;
  UTRKDevice& dev = *s.dev;
  int r = pollRequest(dev, [&] { return dev.writeBlock(kRegDisplayMode, kBankService, &mode, 1); });
  if (s.op) s.op->logLine(strprintf(tr("Display mode result=%d"), r));
  return r;
}

std::string formatDecimalRight(int64_t value, int decimals, int width) {
  if (decimals < 0) decimals = 0;
  if (decimals > 19) decimals = 19;  // 10^19 is the largest power of ten in 64 bits
  // Work on the magnitude unsigned so that the most negative value has a magnitude too.
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  uint64_t divisor = 1;
  for (int i = 0; i < decimals; ++i) divisor *= 10;
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / divisor);
  if (decimals > 0) {
    std::string frac = std::to_string(magnitude % divisor);
    text += '.';
    text += std::string(static_cast<size_t>(decimals) - frac.size(), '0') + frac;
  }
  if (width > 0 && text.size() < static_cast<size_t>(width))
    text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}
