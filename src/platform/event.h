// An auto-reset event: Set wakes one waiter, or the next one to wait.
#pragma once

#include <cstdint>
#include <memory>

namespace corvane::platform {

class Event {
 public:
  Event();  // auto-reset, initially not signalled
  ~Event();
  Event(Event&&) noexcept;
  Event& operator=(Event&&) noexcept;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  // Clears the event without waiting.
  void Reset();
  // Waits until the event is set or `timeoutMs` has passed; true when it was
  // set. The event is reset by a successful wait.
  bool Wait(uint32_t timeoutMs);

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace corvane::platform
