#include <gtest/gtest.h>

#include "support/interval_timer.h"

namespace {

class FakeClock final : public MVX::Clock {
 public:
  int64_t NowMs() const override { return now; }
  int64_t now = 1000000;
};

}  // namespace

TEST(IntervalTimer, RemainingCountsDownPastZero) {
  FakeClock clock;
  MVX::IntervalTimer timer(100, clock);
  EXPECT_EQ(timer.Remaining(), 100);
  EXPECT_FALSE(timer.Elapsed());
  clock.now += 99;
  EXPECT_EQ(timer.Remaining(), 1);
  clock.now += 1;
  EXPECT_EQ(timer.Remaining(), 0);
  EXPECT_TRUE(timer.Elapsed());
  clock.now += 50;
  EXPECT_EQ(timer.Remaining(), -50);
}

TEST(IntervalTimer, RestartAndSetPeriodMeasureFromNow) {
  FakeClock clock;
  MVX::IntervalTimer timer(100, clock);
  clock.now += 80;
  timer.Restart();
  EXPECT_EQ(timer.Remaining(), 100);
  clock.now += 30;
  timer.SetPeriod(500);
  EXPECT_EQ(timer.Start(), clock.now);
  EXPECT_EQ(timer.Remaining(), 500);
  timer.SetPeriod(0);
  EXPECT_TRUE(timer.Elapsed());
}

TEST(IntervalTimer, AdvanceKeepsThePhaseWhenAtMostOnePeriodLate) {
  FakeClock clock;
  MVX::IntervalTimer timer(100, clock);
  const int64_t start = timer.Start();
  clock.now += 130;  // 30 overdue
  timer.Advance();
  EXPECT_EQ(timer.Start(), start + 100);
  EXPECT_EQ(timer.Remaining(), 70);
  clock.now = timer.Start() + 200;  // exactly one period overdue: still periodic
  timer.Advance();
  EXPECT_EQ(timer.Start(), start + 200);
  // Early advance (not yet due) also moves on by one period.
  timer.Advance();
  EXPECT_EQ(timer.Start(), start + 300);
}

TEST(IntervalTimer, AdvanceRestartsFromNowWhenMoreThanOnePeriodLate) {
  FakeClock clock;
  MVX::IntervalTimer timer(100, clock);
  clock.now = timer.Start() + 100 + 101;  // 101 overdue
  timer.Advance();
  EXPECT_EQ(timer.Start(), clock.now);
  EXPECT_EQ(timer.Remaining(), 100);
}

TEST(IntervalTimer, SystemClockFollowsTheFileTimeScale) {
  // Milliseconds since 1601: some time after 2020 (13.2e12 ms).
  EXPECT_GT(MVX::SystemClock().NowMs(), 13'200'000'000'000);
}
