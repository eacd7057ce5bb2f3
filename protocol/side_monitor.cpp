// The side monitor's poll loop: status poll of one nozzle, then the input/output bits, and
// during a mass-metered delivery the mass flow and pressure. Each step does one bounded piece
// of work so the window stays live between steps.
#include "protocol/side_monitor.h"

#include "link/port.h"
#include "link/tick.h"
#include "protocol/board_io.h"
#include "util/catalog.h"
#include "util/operator.h"

namespace {

struct StatusText {
  uint8_t code;
  const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {0x00, N_("Free")},
    {0x10, N_("Nozzle On")},
    {0x20, N_("Nozzle wait")},
    {0x21, N_("Load start")},
    {0x30, N_("Loading")},
    {0x40, N_("Finished")},
    {0x41, N_("Overfill")},
    {0x45, N_("Timeout")},
    {0x46, N_("PC suspend")},
    {0x47, N_("Nozzle suspend")},
    {0x48, N_("PC timeout")},
    {0x49, N_("No external module")},
    {0x4A, N_("Meter error stop")},
    {0x4B, N_("Valve power loss")},
    {0x4C, N_("Performance stop")},
    {0x4D, N_("Mechanical counters stop")},
    {0x4E, N_("Temperature meter stop")},
    {0x4F, N_("Power loss stop")},
    {0x50, N_("Mechanical counters overflow")},
    {0x51, N_("Performance too high")},
    {0x52, N_("Pressure too high")},
    {0x53, N_("Pressure fall")},
    {0x54, N_("Full tank (pressure metered)")},
    {0x55, N_("Pressure meter error")},
    {0x56, N_("SIP error")},
    {0x57, N_("POS error")},
};

constexpr int kFlowWordBase = 10;     // w[10 + side]
constexpr int kPressureWordBase = 4;  // w[4 + side]
constexpr int kIoBitsPerByte = 6;

}  // namespace

std::string nozzleStatusText(uint8_t code) {
  for (const StatusText& s : kStatusTexts)
    if (s.code == code) return tr(s.text);
  return strprintf(tr("status=%02X"), code);
}

std::string statusLine(const uint8_t r[kStatusReplyBytes]) {
  std::string text;
  if (r[6] >= kStatusLoading) text = strprintf("%02X%02X.%02X ", r[3], r[4], r[5]);
  return text + nozzleStatusText(r[6]);
}

void SideMonitor::show(const std::function<void(const std::string&)>& field,
                       const std::string& text) {
  if (field) field(text);
}

std::string SideMonitor::sideRefusal(bool sideB) const {
  if (sideB && sideCount < 2) return tr("This board has no side B");
  if ((sideB ? sideBAddress : sideAAddress) == 0)
    return tr(sideB ? "Side B has no bus address" : "Side A has no bus address");
  return std::string();
}

void SideMonitor::startSideMonitor(bool sideB) {
  selectSide(sideB);
  lastStatus = kNoStatusSeen;
  stopRequested = false;
  if (timer) timer->arm(kMonitorFirstStepMs);
}

// One poll of a service-space read at the monitored side's address; the handle's own
// address is left as it was.
int SideMonitor::pollRead(uint32_t address, uint8_t count, uint8_t* dst, uint8_t check) {
  if (!dev) return kResultTimeout;
  const uint8_t saved = dev->address;
  dev->address = monitorAddress;
  int r = dev->readBlock(address, kBankService, count, dst, check, 0);
  dev->address = saved;
  return r;
}

int SideMonitor::step() {
  switch (monitorState) {
    case kMonitorIdle: {
      if (stopRequested) return kMonitorStop;
      // A side the board does not have is not polled: its address would be 0 or another
      // board's. The loop stops until a side is chosen again.
      const std::string why = refusal();
      if (!why.empty()) {
        show(view.showState, why);
        return kMonitorStop;
      }
      sendHeader(port(), monitorAddress, static_cast<uint8_t>(kStatusPollCommand | nozzle));
      replyDeadline = static_cast<uint16_t>(nowMs16() + kStatusReplyTimeoutMs);
      monitorState = kMonitorAwaitStatus;
      break;
    }

    case kMonitorAwaitStatus: {
      if (portAvailable(port()) >= kStatusReplyBytes) {
        uint8_t r[kStatusReplyBytes];
        portRead(port(), r, kStatusReplyBytes);
        if (frameChecksum(r, kStatusReplyBytes - 1) != r[kStatusReplyBytes - 1]) {
          show(view.showState, tr("Wrong reply"));
          monitorState = kMonitorIdle;
          break;
        }
        if (r[0] != nozzle) {
          // Another nozzle's answer: nothing to show, the loop goes on.
          monitorState = kMonitorReadIo;
          break;
        }
        nozzleFlags = r[1];
        show(view.showState, statusLine(r));
        const bool ended =
            r[6] >= kStatusEnded && lastStatus != kNoStatusSeen && lastStatus < kStatusEnded;
        lastStatus = r[6];
        if (ended && view.deliveryEnded) view.deliveryEnded();
        if (r[6] == kStatusLoading && kind == '$') {
          if (stopRequested) {
            monitorState = kMonitorIdle;
            return kMonitorStop;
          }
          monitorState = kMonitorReadMass;
        } else {
          monitorState = kMonitorReadIo;
        }
      } else if (deadlineReached16(replyDeadline)) {
        show(view.showState, tr("Timeout!"));
        monitorState = kMonitorIdle;
      }
      break;
    }

    case kMonitorReadIo: {
      int r = pollRead(kRegIoBits, kIoBitsBytes, ioBuffer_, kCheckNone);
      if (r == kResultInProgress) break;
      if (r == kResultDone) {
        for (int i = 0; i < kIoBitsBytes; ++i) {
          ioBits[i] = ioBuffer_[i];
          for (int j = 0; j < kIoBitsPerByte; ++j)
            if (view.showIndicator) view.showIndicator(i * 8 + j, (ioBits[i] >> j) & 1);
        }
      }
      monitorState = kMonitorIdle;
      break;
    }

    case kMonitorReadMass: {
      int r = pollRead(kRegMassValues, kMassValuesBytes, massBuffer_, kCheckCrc);
      if (r == kResultInProgress) break;
      if (r == kResultDone) {
        const int s = monitorAddress == sideAAddress ? 0 : 1;
        auto word = [this](int i) {
          return static_cast<uint16_t>(massBuffer_[2 * i] | (massBuffer_[2 * i + 1] << 8));
        };
        lastFlowTenths = word(kFlowWordBase + s);
        lastPressureTenths = word(kPressureWordBase + s);
        show(view.showPerformance,
             strprintf(tr("mass flow %3d.%d, pressure  %3d.%d"), lastFlowTenths / 10,
                       lastFlowTenths % 10, lastPressureTenths / 10, lastPressureTenths % 10));
      } else {
        show(view.showPerformance, tr("Timeout!"));
      }
      monitorState = kMonitorReadIo;
      break;
    }

    default:
      monitorState = kMonitorIdle;  // a state from nowhere: start over cleanly
      break;
  }

  const bool tabCurrent = view.loadTabCurrent ? view.loadTabCurrent() : true;
  if (!tabCurrent && monitorState == kMonitorIdle) return kMonitorStop;
  if (stopRequested) return kMonitorStop;
  return static_cast<int>(kMonitorStepMs);
}

void SideMonitor::sideMonitorStep() {
  int delay = step();
  if (delay >= 0 && timer) timer->arm(static_cast<uint32_t>(delay));
}

void SideMonitor::pauseSideMonitor() {
  while (monitorState != kMonitorIdle) {
    stopRequested = true;
    step();
    // Returns as soon as the awaited reply is in, instead of sleeping blind.
    portWaitInput(port(), kMonitorPauseSleepMs);
  }
  stopRequested = false;
  if (timer) timer->arm(kMonitorStepMs);
}
