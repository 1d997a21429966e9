#include <windows.h>

#include "platform/event.h"

namespace corvane::platform {

struct Event::Impl {
  HANDLE handle = nullptr;
  ~Impl() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

Event::Event() : mImpl(std::make_unique<Impl>()) {
  mImpl->handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}
Event::~Event() = default;
Event::Event(Event&&) noexcept = default;
Event& Event::operator=(Event&&) noexcept = default;

void Event::Set() { SetEvent(mImpl->handle); }

void Event::Reset() { ResetEvent(mImpl->handle); }

bool Event::Wait(uint32_t timeoutMs) {
  return WaitForSingleObject(mImpl->handle, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace corvane::platform
