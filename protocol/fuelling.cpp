// Fuelling commands sent to the monitored side: the BCD bodies, the preparatory command a
// nozzle needs before its first command, and the one-byte answer.
#include "protocol/fuelling.h"

#include "link/port.h"
#include "link/tick.h"
#include "protocol/board_io.h"
#include "util/catalog.h"

namespace {

uint8_t bcdPair(int64_t v) { return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }

void seal(FuelBody* b) { (*b)[7] = frameChecksum(b->data(), kFuelBodyBytes - 1); }

// Waits for the one answer byte; -1 when none came in time.
int waitAnswer(uint16_t port, uint32_t timeoutMs) {
  const uint16_t deadline = static_cast<uint16_t>(nowMs16() + timeoutMs);
  for (;;) {
    if (portAvailable(port) > 0) {
      uint8_t b = 0;
      portRead(port, &b, 1);
      return b;
    }
    if (deadlineReached16(deadline)) return -1;
    portWaitInput(port, kFuelReplyStepMs);
  }
}

void send(uint16_t port, uint8_t address, uint8_t command, const FuelBody& body) {
  sendHeader(port, address, command);
  portWrite(port, body.data(), body.size());
}

}  // namespace

uint8_t fuellingCommandByte(int code, uint8_t nozzle) {
  return static_cast<uint8_t>((code == kFuelSetPrice ? kPriceCommandBase : kFuelCommandBase) |
                              nozzle);
}

bool buildFuellingBody(int code, int64_t value, uint8_t nozzle, FuelBody* body) {
  if (value < 0) return false;
  FuelBody b{};
  b[0] = nozzle;
  if (code == kFuelSetPrice) {
    if (value > kMaxPriceValue) return false;
    b[1] = 0x00;
    b[2] = bcdPair((value / 10000) & 0xFF);
    b[3] = bcdPair((value / 100) % 100);
    b[4] = bcdPair(value % 100);
    b[5] = 0x01;
    b[6] = 0x00;
  } else {
    if (value > kMaxFuelValue) return false;
    b[1] = static_cast<uint8_t>(code);
    b[2] = 0x00;
    b[3] = bcdPair(value / 1000000);
    b[4] = bcdPair(value / 10000);
    b[5] = bcdPair(value / 100);
    b[6] = bcdPair(value);
  }
  seal(&b);
  *body = b;
  return true;
}

FuelBody preparatoryBody(uint8_t nozzle) {
  FuelBody b{};
  b[0] = nozzle;
  b[1] = kFuelPrepare;
  seal(&b);
  return b;
}

int sendFuellingCommand(SideMonitor& mon, int code, int64_t value, bool quiet, Operator* op) {
  const std::string refusal = mon.refusal();
  if (!refusal.empty()) {
    if (!quiet && op) op->alert(refusal);
    return kResultRefused;
  }
  FuelBody body;
  if (!buildFuellingBody(code, value, mon.nozzle, &body)) {
    if (!quiet && op) op->alert(tr("Operation failed"));
    return kResultRefused;
  }
  mon.pauseSideMonitor();
  const uint16_t port = mon.dev ? mon.dev->port : 0;
  if (!(mon.nozzleFlags & 0x80)) {
    send(port, mon.monitorAddress, static_cast<uint8_t>(kFuelCommandBase | mon.nozzle),
         preparatoryBody(mon.nozzle));
    waitAnswer(port, kPrepareReplyTimeoutMs);  // its answer carries nothing we use
  }
  send(port, mon.monitorAddress, fuellingCommandByte(code, mon.nozzle), body);
  int answer = waitAnswer(port, kFuelReplyTimeoutMs);
  if (answer < 0) {
    if (!quiet && op) op->alert(tr("Timeout!"));
    return kResultTimeout;
  }
  if (!quiet && op) op->alert(answer == 0x00 ? tr("Ok") : tr("Operation failed"));
  return answer == 0x00 ? kResultDone : kResultStatus;
}

int sendTestPrices(SideMonitor& mon, int nozzleCount, bool tabSideB, uint8_t tabNozzle) {
  int accepted = 0;
  if (nozzleCount <= 0) return 0;
  const int64_t unit[2] = {100, 1100};
  const int seen = mon.lastStatus;
  for (int s = 0; s < 2; ++s) {
    // A side the board does not have (or without an address) is left out.
    if (!mon.sideRefusal(s == 1).empty()) continue;
    mon.selectSide(s == 1);
    for (int i = 1; i <= nozzleCount; ++i) {
      mon.nozzle = static_cast<uint8_t>(i);
      if (sendFuellingCommand(mon, kFuelSetPrice, unit[s] * i, true, nullptr) == kResultDone)
        ++accepted;
    }
  }
  mon.selectSide(tabSideB);
  mon.nozzle = tabNozzle ? tabNozzle : 1;
  mon.lastStatus = seen;
  return accepted;
}
