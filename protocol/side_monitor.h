// The side monitor of the "Load" tab: a non-blocking poll loop, one exchange step per timer
// expiry, that follows one nozzle's state, the side's input/output bits and, on mass-metered
// boards, the mass flow and pressure. The caller owns the timer; the monitor tells it when.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/utrk_device.h"

constexpr uint32_t kStatusReplyTimeoutMs = 150;
constexpr uint32_t kMonitorFirstStepMs = 100;
constexpr uint32_t kMonitorStepMs = 50;
constexpr uint32_t kMonitorPauseSleepMs = 1;
constexpr int kMonitorStop = -1;  // step result: do not re-arm
constexpr int kStatusReplyBytes = 8;
constexpr uint8_t kStatusPollCommand = 0x80;
constexpr int kIndicatorCount = 12;  // six bits of each of two bytes
constexpr uint8_t kStatusLoading = 0x30;
// Codes from here on end a delivery ("Finished", "Overfill" and the stop reasons).
constexpr uint8_t kStatusEnded = 0x40;
constexpr int kNoStatusSeen = -1;

enum MonitorState : int {
  kMonitorIdle = 0,
  kMonitorAwaitStatus = 1,
  kMonitorReadIo = 2,
  kMonitorReadMass = 3,
};

// The window side of the monitor. Every hook is optional.
struct SideMonitorView {
  std::function<void(const std::string&)> showState;        // the "State" field
  std::function<void(const std::string&)> showPerformance;  // the "Performance" field
  std::function<void(int index, bool on)> showIndicator;    // index byte * 8 + bit (bits 0..5)
  std::function<bool()> loadTabCurrent;                     // absent: always current
  // A delivery of the followed nozzle ended (the status went from below 0x40 to an end code).
  std::function<void()> deliveryEnded;
};

// The one monitor timer. arm() replaces any pending monitor timer; cancel() drops it.
class MonitorTimer {
 public:
  virtual ~MonitorTimer() = default;
  virtual void arm(uint32_t delayMs) = 0;
  virtual void cancel() = 0;
  // Whether a step is due (armed and not yet fired or cancelled).
  virtual bool isArmed() const = 0;
};

// The text shown for a nozzle status code ("Loading", "status=2F", ...), translated.
std::string nozzleStatusText(uint8_t code);
// The "State" text of a valid status reply: the quantity "%02X%02X.%02X " first when the code
// is 0x30 or above.
std::string statusLine(const uint8_t reply[kStatusReplyBytes]);

class SideMonitor {
 public:
  explicit SideMonitor(UTRKDevice* dev = nullptr) : dev(dev) {}

  // Wiring.
  UTRKDevice* dev;
  MonitorTimer* timer = nullptr;
  SideMonitorView view;
  char kind = '#';  // the board's kind character ('$': mass meters)
  uint8_t sideAAddress = 1;
  uint8_t sideBAddress = 0;
  uint8_t sideCount = 2;  // sides of the board (main settings); side B only with 2

  // State.
  bool monitoredSideB = false;
  uint8_t monitorAddress = 1;
  uint8_t nozzle = 1;
  int monitorState = kMonitorIdle;
  bool stopRequested = false;
  uint16_t replyDeadline = 0;
  uint8_t nozzleFlags = 0;
  uint8_t ioBits[kIoBitsBytes] = {0, 0};
  uint16_t lastFlowTenths = 0;
  uint16_t lastPressureTenths = 0;
  // Status code of the last valid reply for the followed nozzle; kNoStatusSeen after a
  // start or a change of side or nozzle.
  int lastStatus = kNoStatusSeen;

  // The "Load" tab came to the front: follow side A (or B), first step after 0.1 s.
  void startSideMonitor(bool sideB);
  void selectSide(bool sideB) {
    if (sideB != monitoredSideB) lastStatus = kNoStatusSeen;
    monitoredSideB = sideB;
    monitorAddress = sideB ? sideBAddress : sideAAddress;
  }
  // Why nothing may be sent to a side (translated), or "" when the side can be reached: a
  // side without a bus address, or side B of a one-sided board. Address 0 is nobody's.
  std::string sideRefusal(bool sideB) const;
  // The same for the side followed now.
  std::string refusal() const { return sideRefusal(monitoredSideB); }
  // One step of the poll loop. Returns the delay before the next step in ms, or kMonitorStop.
  // Does not touch the timer.
  int step();
  // The timer callback: one step, then re-arms the timer when the step asks for it.
  void sideMonitorStep();
  // Brings the loop to idle between exchanges so that the bus is free, then re-arms the
  // timer (0.05 s). Afterwards exactly one monitor timer is pending.
  void pauseSideMonitor();

 private:
  uint16_t port() const { return dev ? dev->port : 0; }
  int pollRead(uint32_t address, uint8_t count, uint8_t* dst, uint8_t check);
  void show(const std::function<void(const std::string&)>& field, const std::string& text);
  uint8_t ioBuffer_[kIoBitsBytes] = {0, 0};
  uint8_t massBuffer_[kMassValuesBytes] = {};
};
