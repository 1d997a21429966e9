#include "support/interval_timer.h"

#include <algorithm>

#include "platform/time.h"

namespace MVX {
namespace {

class SystemClockImpl final : public Clock {
 public:
  int64_t NowMs() const override {
    return static_cast<int64_t>(corvane::platform::SystemTimeAsFileTime() / 10000u);
  }
};

}  // namespace

const Clock& SystemClock() {
  static const SystemClockImpl clock;
  return clock;
}

IntervalTimer::IntervalTimer(int64_t periodMs, const Clock& clock)
    : mClock(&clock), mStart(clock.NowMs()), mPeriod(periodMs) {}

void IntervalTimer::Restart() { mStart = mClock->NowMs(); }

void IntervalTimer::SetPeriod(int64_t periodMs) {
  mPeriod = periodMs;
  mStart = mClock->NowMs();
}

int64_t IntervalTimer::Remaining() const { return mPeriod - (mClock->NowMs() - mStart); }

void IntervalTimer::Advance() {
  const int64_t now = mClock->NowMs();
  const int64_t overdue = std::max<int64_t>(0, now - (mStart + mPeriod));
  if (overdue <= mPeriod) {
    mStart += mPeriod;
  } else {
    mStart = now;
  }
}

}  // namespace MVX
