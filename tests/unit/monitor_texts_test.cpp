// The side monitor's status texts and the fuelling command bodies, byte for byte, written
// out from the board's rules rather than from the code under test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/fuelling.h"
#include "protocol/side_monitor.h"

namespace {

uint8_t sum(const std::vector<uint8_t>& b, size_t n) {
  uint8_t s = 0xFF;
  for (size_t i = 0; i < n; ++i) {
    s ^= b[i];
    s = static_cast<uint8_t>((s << 1) | (s >> 7));
  }
  return s;
}

std::vector<uint8_t> withSum(std::vector<uint8_t> b) {
  b.push_back(sum(b, b.size()));
  return b;
}

std::string line(uint8_t code, uint8_t q3, uint8_t q4, uint8_t q5) {
  uint8_t r[8] = {1, 0, 0, q3, q4, q5, code, 0};
  return statusLine(r);
}

std::vector<uint8_t> body(int code, int64_t value, uint8_t nozzle) {
  FuelBody b{};
  EXPECT_TRUE(buildFuellingBody(code, value, nozzle, &b)) << code << " " << value;
  return std::vector<uint8_t>(b.begin(), b.end());
}

TEST(MonitorTexts, EveryKnownStatusCodeHasItsText) {
  const std::vector<std::pair<uint8_t, const char*>> table = {
      {0x00, "Free"},
      {0x10, "Nozzle On"},
      {0x20, "Nozzle wait"},
      {0x21, "Load start"},
      {0x30, "Loading"},
      {0x40, "Finished"},
      {0x41, "Overfill"},
      {0x45, "Timeout"},
      {0x46, "PC suspend"},
      {0x47, "Nozzle suspend"},
      {0x48, "PC timeout"},
      {0x49, "No external module"},
      {0x4A, "Meter error stop"},
      {0x4B, "Valve power loss"},
      {0x4C, "Performance stop"},
      {0x4D, "Mechanical counters stop"},
      {0x4E, "Temperature meter stop"},
      {0x4F, "Power loss stop"},
      {0x50, "Mechanical counters overflow"},
      {0x51, "Performance too high"},
      {0x52, "Pressure too high"},
      {0x53, "Pressure fall"},
      {0x54, "Full tank (pressure metered)"},
      {0x55, "Pressure meter error"},
      {0x56, "SIP error"},
      {0x57, "POS error"}};
  for (auto& [code, text] : table) EXPECT_EQ(nozzleStatusText(code), text) << int(code);
  EXPECT_EQ(nozzleStatusText(0x11), "status=11");
  EXPECT_EQ(nozzleStatusText(0x58), "status=58");
}

TEST(MonitorTexts, QuantityPrecedesTheTextFromLoadingOn) {
  EXPECT_EQ(line(0x30, 0x00, 0x12, 0x34), "0012.34 Loading");
  EXPECT_EQ(line(0x2F, 0x00, 0x12, 0x34), "status=2F");
  EXPECT_EQ(line(0x99, 0x12, 0x34, 0x56), "1234.56 status=99");
  EXPECT_EQ(line(0x21, 0x99, 0x99, 0x99), "Load start");
  EXPECT_EQ(line(0x40, 0x00, 0x05, 0x00), "0005.00 Finished");
  EXPECT_EQ(line(0x00, 0x00, 0x00, 0x00), "Free");
}

TEST(FuellingBodies, EveryButtonBuildsItsBodyAndValuesTheDigitsCannotHoldAreRefused) {
  EXPECT_EQ(fuellingCommandByte(kFuelLoadVolume, 2), 0x12);
  EXPECT_EQ(fuellingCommandByte(kFuelSetPrice, 3), 0x53);
  const struct {
    const char* what;
    int code;
    int64_t value;
    uint8_t nozzle;
    std::vector<uint8_t> body;  // without its checksum
  } cases[] = {
      {"Load Volume 12.50", kFuelLoadVolume, 1250, 2, {2, 0x01, 0x00, 0x00, 0x00, 0x12, 0x50}},
      {"Load Amount 1234.56", kFuelLoadAmount, 123456, 1, {1, 0x11, 0x00, 0x00, 0x12, 0x34, 0x56}},
      {"Fulltank: a volume preset of 999.99",
       kFuelLoadVolume,
       kFulltankValue,
       1,
       {1, 0x01, 0x00, 0x00, 0x09, 0x99, 0x99}},
      {"Finish", kFuelFinish, 0, 4, {4, 0x0F, 0, 0, 0, 0, 0}},
      {"Suspend", kFuelSuspend, 0, 4, {4, 0x0E, 0, 0, 0, 0, 0}},
      {"Continue", kFuelContinue, 0, 4, {4, 0x0A, 0, 0, 0, 0, 0}},
      {"Set price 45.60", kFuelSetPrice, 4560, 1, {1, 0x00, 0x00, 0x45, 0x60, 0x01, 0x00}},
      {"Set price 1234.56", kFuelSetPrice, 123456, 5, {5, 0x00, 0x12, 0x34, 0x56, 0x01, 0x00}},
      {"the largest eight-digit value",
       kFuelLoadVolume,
       99999999,
       1,
       {1, 0x01, 0x00, 0x99, 0x99, 0x99, 0x99}},
  };
  for (const auto& c : cases) EXPECT_EQ(body(c.code, c.value, c.nozzle), withSum(c.body)) << c.what;
  const FuelBody prep = preparatoryBody(3);
  EXPECT_EQ(std::vector<uint8_t>(prep.begin(), prep.end()), withSum({3, 0x13, 0, 0, 0, 0, 0}));

  FuelBody b{};
  EXPECT_FALSE(buildFuellingBody(kFuelLoadVolume, -1, 1, &b));
  EXPECT_FALSE(buildFuellingBody(kFuelLoadVolume, 100000000, 1, &b));
  EXPECT_FALSE(buildFuellingBody(kFuelSetPrice, 1000000, 1, &b));
  EXPECT_TRUE(buildFuellingBody(kFuelSetPrice, 999999, 1, &b));
}

// A monitor without a timer or a port still keeps its bookkeeping straight.
class CountingTimer : public MonitorTimer {
 public:
  int pending = 0;
  int arms = 0;
  uint32_t lastDelay = 0;
  void arm(uint32_t ms) override {
    pending = 1;
    ++arms;
    lastDelay = ms;
  }
  void cancel() override { pending = 0; }
  bool isArmed() const override { return pending != 0; }
};

TEST(MonitorLoop, StartPauseAndTabLeaveKeepOneTimer) {
  SideMonitor mon;
  CountingTimer timer;
  mon.timer = &timer;
  mon.sideAAddress = 3;
  mon.sideBAddress = 4;
  mon.startSideMonitor(true);
  EXPECT_EQ(mon.monitorAddress, 4);
  EXPECT_EQ(timer.lastDelay, kMonitorFirstStepMs);
  // Idle pause: nothing to drive, one timer re-armed at the loop's pace.
  mon.pauseSideMonitor();
  EXPECT_EQ(timer.pending, 1);
  EXPECT_EQ(timer.arms, 2);
  EXPECT_EQ(timer.lastDelay, kMonitorStepMs);
  EXPECT_EQ(mon.monitorState, kMonitorIdle);
  EXPECT_FALSE(mon.stopRequested);
  // A stop request at idle ends the loop without a poll.
  mon.stopRequested = true;
  EXPECT_EQ(mon.step(), kMonitorStop);
  EXPECT_EQ(mon.monitorState, kMonitorIdle);
  // With the tab left, the loop stops at its first idle point.
  mon.stopRequested = false;
  mon.view.loadTabCurrent = [] { return false; };
  mon.monitorState = kMonitorReadIo;  // no device: the read fails at once
  EXPECT_EQ(mon.step(), kMonitorStop);
  EXPECT_EQ(mon.monitorState, kMonitorIdle);
}

}  // namespace
