#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/worker_thread.h"

namespace corvane::platform {

struct WorkerThread::Impl {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable endedSignal;
  bool ended = false;  // guarded by mutex
};

WorkerThread::~WorkerThread() {
  if (mImpl == nullptr || !mImpl->thread.joinable()) return;
  if (IsCurrentThread()) {
    // A thread cannot join itself; the body's own reference keeps the state
    // alive until it returns.
    mImpl->thread.detach();
    return;
  }
  WaitForEnd(kForever);
}

bool WorkerThread::Start(std::function<void()> body) {
  WaitForEnd(kForever);
  auto impl = std::make_shared<Impl>();
  try {
    impl->thread = std::thread([impl, body = std::move(body)] {
      body();
      std::lock_guard<std::mutex> lock(impl->mutex);
      impl->ended = true;
      impl->endedSignal.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  mImpl = std::move(impl);
  return true;
}

bool WorkerThread::WaitForEnd(uint32_t timeoutMs) {
  if (mImpl == nullptr || !mImpl->thread.joinable()) return true;
  if (IsCurrentThread()) return false;
  {
    std::unique_lock<std::mutex> lock(mImpl->mutex);
    const auto ended = [this] { return mImpl->ended; };
    if (timeoutMs == kForever) {
      mImpl->endedSignal.wait(lock, ended);
    } else if (!mImpl->endedSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
      return false;
    }
  }
  // The body has returned; what is left of the thread's end is the runtime's
  // and takes no lock that an unloading thread holds, so the join is short.
  // After it nothing of the thread remains.
  mImpl->thread.join();
  return true;
}

bool WorkerThread::IsCurrentThread() const {
  return mImpl != nullptr && mImpl->thread.get_id() == std::this_thread::get_id();
}

}  // namespace corvane::platform
