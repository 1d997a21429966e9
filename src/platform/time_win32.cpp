#include <windows.h>

#include "platform/time.h"

namespace corvane::platform {

uint32_t GetTickCount() { return ::GetTickCount(); }

uint64_t SystemTimeAsFileTime() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void SleepMs(uint32_t ms) { ::Sleep(ms); }

void YieldThread() { ::Sleep(0); }

}  // namespace corvane::platform
