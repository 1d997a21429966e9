#include "support/interval_timer.h"

#include <algorithm>
#include <new>

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
  // Never destroyed (built in static storage, not on the heap, so that a
  // module unload leaks nothing): a worker still running while the process
  // exits may read it after the static objects have gone.
  alignas(SystemClockImpl) static unsigned char storage[sizeof(SystemClockImpl)];
  static const Clock& clock = *new (storage) SystemClockImpl();
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
