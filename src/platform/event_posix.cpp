#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/event.h"

namespace corvane::platform {

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable signal;
  bool isSet = false;
};

Event::Event() : mImpl(std::make_unique<Impl>()) {}
Event::~Event() = default;
Event::Event(Event&&) noexcept = default;
Event& Event::operator=(Event&&) noexcept = default;

void Event::Set() {
  {
    std::lock_guard lock(mImpl->mutex);
    mImpl->isSet = true;
  }
  mImpl->signal.notify_one();
}

void Event::Reset() {
  std::lock_guard lock(mImpl->mutex);
  mImpl->isSet = false;
}

bool Event::Wait(uint32_t timeoutMs) {
  std::unique_lock lock(mImpl->mutex);
  const bool set = mImpl->signal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [this] { return mImpl->isSet; });
  mImpl->isSet = false;
  return set;
}

}  // namespace corvane::platform
