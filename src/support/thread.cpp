#include "support/thread.h"

namespace MVX {

void Thread::Start() {
  if (GetState() == kRunning || GetState() == kEnded) {
    RequestStop();
    mThread.WaitForEnd(kWaitForever);
    mState.store(kEnded, std::memory_order_release);
  }
  mStop.store(false, std::memory_order_release);
  // The state is set before the thread exists: a body that ends at once must
  // leave "ended", not be overwritten with "running" afterwards.
  mState.store(kRunning, std::memory_order_release);
  const bool started = mThread.Start([this] {
    Run();
    mState.store(kEnded, std::memory_order_release);
  });
  if (!started) mState.store(kStartFailed, std::memory_order_release);
}

}  // namespace MVX
