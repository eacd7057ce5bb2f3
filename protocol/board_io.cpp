// Polled block requests over the session's device, the bare header and the last-error query.
#include "protocol/board_io.h"

#include "link/port.h"

namespace {
constexpr uint8_t kCmdLastStatus = 0xF0;
constexpr int kLastStatusCodeByte = 7;
}  // namespace

void sendHeader(uint16_t port, uint8_t address, uint8_t command) {
  uint8_t h[4] = {kFrameStart, address, command, 0};
  h[3] = frameChecksum(h, 3);
  portFlushInput(port);
  portWrite(port, h, sizeof h);
}

int readBlockPolled(BoardSession& s, uint32_t address, uint8_t bank, uint8_t count, uint8_t* dst,
                    uint8_t check) {
  if (!s.dev) return kResultTimeout;
  UTRKDevice& dev = *s.dev;
  return pollRequest(dev, [&] { return dev.readBlock(address, bank, count, dst, check, 0); });
}

int writeBlockPolled(BoardSession& s, uint32_t address, uint8_t bank, const uint8_t* data,
                     uint8_t count) {
  if (!s.dev) return kResultTimeout;
  UTRKDevice& dev = *s.dev;
  return pollRequest(dev, [&] { return dev.writeBlock(address, bank, data, count); });
}

int readLastStatus(BoardSession& s) {
  if (!s.dev) return 0;
  sendHeader(s.dev->port, s.dev->address, kCmdLastStatus);
  uint8_t reply[kLastStatusReplyLength] = {};
  if (!portReadWait(s.dev->port, reply, sizeof reply, kLastStatusTimeoutMs)) return 0;
  return reply[kLastStatusCodeByte];
}

const char* lastErrorMessage(int code, const char* ownText) {
  switch (code) {
    case 'X':
      return N_("Turn the configuration key on");
    case '[':
      return N_("Wrong password");
    case '\\':
      return N_("Password entry locked");
    default:
      return ownText;
  }
}

std::string writeFailureText(BoardSession& s, const char* ownText) {
  return tr(lastErrorMessage(readLastStatus(s), ownText));
}
