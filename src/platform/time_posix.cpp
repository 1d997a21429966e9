#include <sched.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "platform/time.h"

namespace corvane::platform {

uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint64_t SystemTimeAsFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return kUnixEpochAsFileTime + static_cast<uint64_t>(now.tv_sec) * 10000000u +
         static_cast<uint64_t>(now.tv_nsec) / 100u;
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void YieldThread() { sched_yield(); }

}  // namespace corvane::platform
