// Clocks and the processor yield.
#pragma once

#include <cstdint>

namespace corvane::platform {

// Milliseconds since an arbitrary fixed point; wraps after 49.7 days like the
// Win32 tick count.
uint32_t GetTickCount();

// The system time in 100-ns units since 1601-01-01 UTC (the FILETIME scale).
uint64_t SystemTimeAsFileTime();

// Blocks the calling thread for `ms` milliseconds.
void SleepMs(uint32_t ms);

// Gives up the rest of the time slice so that a woken thread runs at once.
void YieldThread();

// Offset of the Unix epoch on the FILETIME scale.
inline constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

}  // namespace corvane::platform
