// A millisecond stopwatch with a period, on the system clock.
#pragma once

#include <cstdint>

namespace MVX {

// Source of "now" in milliseconds (100-ns system time divided by 10000).
// Tests substitute a clock they advance by hand.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowMs() const = 0;
};

// The system clock.
const Clock& SystemClock();

class IntervalTimer {
 public:
  explicit IntervalTimer(int64_t periodMs = 0, const Clock& clock = SystemClock());

  void Restart();                    // start = now
  void SetPeriod(int64_t periodMs);  // period = p, start = now
  // period - (now - start); elapsed at 0 or less.
  int64_t Remaining() const;
  bool Elapsed() const { return Remaining() <= 0; }
  // Periodic use: moves the start on by one period, or to now when more than
  // one whole period is overdue, so that a late caller does not fire in a burst.
  void Advance();

  int64_t Start() const { return mStart; }
  int64_t Period() const { return mPeriod; }
  // Sets the start directly (for example to make the timer due at once).
  void SetStart(int64_t startMs) { mStart = startMs; }
  int64_t Now() const { return mClock->NowMs(); }

 private:
  const Clock* mClock;  // not owned; outlives the timer
  int64_t mStart;       // ms
  int64_t mPeriod;      // ms
};

}  // namespace MVX
