// Tick, deadline and timer-pool rules, driven by the fake clock across both wraps: 16-bit
// deadlines for the status and connect waits, 32-bit ones for exchanges and idle peers.
#include <gtest/gtest.h>

#include "link/tick.h"

namespace {

class TickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tickStart();
    tickUseFakeClock(true);
  }
  void TearDown() override {
    tickStart();
    tickUseFakeClock(false);
  }
};

TEST_F(TickTest, SixteenBitDeadlineHoldsAcrossTheWrap) {
  for (uint32_t start : {1000u, 65500u, 65535u, 0x1FFF0u}) {
    tickSetFake(start);
    const uint16_t deadline = static_cast<uint16_t>(nowMs16() + 100);
    EXPECT_FALSE(deadlineReached16(deadline)) << start;
    tickAdvanceFake(99);
    EXPECT_FALSE(deadlineReached16(deadline)) << start;
    tickAdvanceFake(1);
    EXPECT_TRUE(deadlineReached16(deadline)) << start;
    tickAdvanceFake(20000);
    EXPECT_TRUE(deadlineReached16(deadline)) << start;
  }
  tickSetFake(0x0001FFFF);
  EXPECT_EQ(nowMs16(), 0xFFFF);
  tickAdvanceFake(1);
  EXPECT_EQ(nowMs16(), 0);
}

TEST_F(TickTest, ThirtyTwoBitDeadlineHoldsAcrossTheWrap) {
  tickSetFake(0xFFFFFF00u);
  const uint32_t deadline = nowMs() + 0x200;  // lands after the wrap
  EXPECT_FALSE(deadlineReached(deadline));
  tickAdvanceFake(0x1FF);
  EXPECT_FALSE(deadlineReached(deadline));
  tickAdvanceFake(1);
  EXPECT_EQ(nowMs(), 0x100u);
  EXPECT_TRUE(deadlineReached(deadline));
  // A deadline long past (just under half the range) still counts as reached.
  tickAdvanceFake(0x7FFFFFFFu);
  EXPECT_TRUE(deadlineReached(deadline));
}

TEST_F(TickTest, SleepAdvancesTheFakeClockWithoutWaiting) {
  tickSetFake(500);
  tickSleepMs(250);
  EXPECT_EQ(nowMs(), 750u);
  EXPECT_TRUE(tickFakeClockActive());
}

TEST_F(TickTest, TimerPoolHandsOutLowestFreeSlotsAndFreesOnExpiry) {
  tickSetFake(0xFFFFFFF0u);
  EXPECT_EQ(timerStart(100), 0);
  EXPECT_EQ(timerStart(50), 1);
  EXPECT_EQ(timerStart(10), 2);
  EXPECT_EQ(timerExpired(1), 0);
  tickAdvanceFake(50);  // across the 32-bit wrap
  EXPECT_EQ(timerExpired(0), 0);
  EXPECT_EQ(timerExpired(1), 1);
  EXPECT_EQ(timerExpired(1), 1);  // free now
  EXPECT_EQ(timerStart(5), 1);    // slot 1 is the lowest free again
  EXPECT_EQ(timerExpired(2), 1);
  tickAdvanceFake(50);
  EXPECT_EQ(timerExpired(0), 1);
}

TEST_F(TickTest, TimerPoolRunsOutAtFiveHundredTwelveAndRejectsBadIndexes) {
  for (int i = 0; i < kTimerSlots; ++i) ASSERT_EQ(timerStart(1000), i);
  EXPECT_EQ(timerStart(1000), -1);
  EXPECT_EQ(timerExpired(kTimerSlots), 1);
  EXPECT_EQ(timerExpired(100000), 1);
  EXPECT_EQ(timerExpired(-1), 1);
  EXPECT_EQ(timerExpired(kTimerSlots - 1), 0);
  tickStart();  // clears every slot
  EXPECT_EQ(timerStart(1), 0);
}

TEST(RealTick, FollowsTheMonotonicClock) {
  tickUseFakeClock(false);
  const uint32_t a = nowMs();
  tickSleepMs(20);
  const uint32_t b = nowMs();
  EXPECT_GE(b - a, 19u);
  EXPECT_LT(b - a, 2000u);
  EXPECT_EQ(nowMs16(), static_cast<uint16_t>(nowMs()));
}

}  // namespace
