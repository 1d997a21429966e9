#include "nano/link_clock.h"

#include "platform/time.h"

namespace corvane {
namespace {

class SystemLinkClockImpl final : public LinkClock {
 public:
  int64_t NowMs() const override { return MVX::SystemClock().NowMs(); }
  void SleepMs(uint32_t ms) const override { platform::SleepMs(ms); }
};

}  // namespace

const LinkClock& SystemLinkClock() {
  static const SystemLinkClockImpl clock;
  return clock;
}

}  // namespace corvane
