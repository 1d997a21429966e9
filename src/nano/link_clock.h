// The clock and the sleep of the wrist-unit link. Every wait of the link (reply
// deadlines, the scanner's 5 ms pause, the settle times of the device API)
// goes through one of these, so tests can run the link's timing in
// milliseconds.
#pragma once

#include <cstdint>

#include "support/interval_timer.h"

namespace corvane {

class LinkClock : public MVX::Clock {
 public:
  // Blocks the caller for `ms` milliseconds of this clock's time.
  virtual void SleepMs(uint32_t ms) const = 0;
};

// The system clock and the platform's sleep.
const LinkClock& SystemLinkClock();

}  // namespace corvane
