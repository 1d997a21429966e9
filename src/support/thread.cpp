#include "support/thread.h"

#include <system_error>

namespace MVX {

Thread::~Thread() { JoinUnlessSelf(); }

bool Thread::IsCurrentThread() const {
  return mThread != nullptr && mThread->get_id() == std::this_thread::get_id();
}

void Thread::JoinUnlessSelf() {
  if (mThread == nullptr || !mThread->joinable()) return;
  // A thread cannot join itself; one that ends its own object lets go instead.
  if (IsCurrentThread()) {
    mThread->detach();
    return;
  }
  mThread->join();
}

void Thread::Start() {
  if (mThread != nullptr && mThread->joinable()) {
    RequestStop();
    JoinUnlessSelf();
    mState.store(kEnded, std::memory_order_release);
  }
  mStop.store(false, std::memory_order_release);
  // The state is set before the thread exists: a body that ends at once must
  // leave "ended", not be overwritten with "running" afterwards.
  mState.store(kRunning, std::memory_order_release);
  try {
    mThread = std::make_unique<std::thread>([this] {
      Run();
      mState.store(kEnded, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    mThread.reset();
    mState.store(kStartFailed, std::memory_order_release);
  }
}

void Thread::WaitForEnd() { JoinUnlessSelf(); }

}  // namespace MVX
