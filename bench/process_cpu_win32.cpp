#include <windows.h>

#include "process_cpu.h"

namespace corvane::bench {

double ProcessCpuSeconds() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto seconds = [](const FILETIME& t) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace corvane::bench
