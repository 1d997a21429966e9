// What a host costs while it waits for lines: the real module beside this
// program, the simulated Controller in "Devices", and the whole process's CPU
// time (the module's worker included) over two runs:
//   1. one ReadLine call that waits with nothing to read;
//   2. reading a recording of 200 samples per second with ReadLine time-outs.
// Usage: host_wait_bench [idle-seconds [record-seconds [timeout-ms]]]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "module_exports.h"
#include "process_cpu.h"

namespace {

using Clock = std::chrono::steady_clock;

using Module = corvane::bench::ModuleExports;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Report(const char* what, double cpu, double wall, const std::string& extra) {
  std::printf("%-34s wall %6.2f s  process CPU %7.3f s  = %6.2f %% of one core  %s\n", what, wall,
              cpu, 100.0 * cpu / wall, extra.c_str());
}

int Arg(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::atoi(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int idleSeconds = Arg(argc, argv, 1, 10);
  const int recordSeconds = Arg(argc, argv, 2, 10);
  const int timeoutMs = Arg(argc, argv, 3, 100);

  Module module;
  if (!module.Load()) {
    std::fprintf(stderr, "Corvane.kvwdll must stand beside this program\n");
    return 2;
  }
  uint32_t value = 0;
  if (module.FindDevice(&value) != 1 || module.Initialise(0) != 1) {
    std::fprintf(stderr, "no device: is the simulated Controller in Devices/?\n");
    return 2;
  }
  char buffer[2048];
  while (module.ReadLine(0, buffer, sizeof buffer, 0) == 1) {
  }

  // 1. Nothing to read: one call waits out its whole time-out.
  {
    const double cpu0 = corvane::bench::ProcessCpuSeconds();
    const auto start = Clock::now();
    const int32_t result = module.ReadLine(0, buffer, sizeof buffer, idleSeconds * 1000);
    const double wall = Since(start);
    Report("idle ReadLine wait", corvane::bench::ProcessCpuSeconds() - cpu0, wall,
           "(returned " + std::to_string(result) + ")");
  }

  // 2. A recording, read as a host reads it: ReadLine with a time-out until
  // the time is up.
  {
    const char start[] = "?in/sampler/start\n";
    module.WriteBuffer(0, start, static_cast<int32_t>(sizeof start - 1));
    while (module.ReadLine(0, buffer, sizeof buffer, 10000) == 1 && std::string(buffer) != "<OK") {
    }
    const double cpu0 = corvane::bench::ProcessCpuSeconds();
    const auto begin = Clock::now();
    uint64_t lines = 0, values = 0, timeouts = 0;
    while (Since(begin) < recordSeconds) {
      if (module.ReadLine(0, buffer, sizeof buffer, timeoutMs) != 1) {
        ++timeouts;
        continue;
      }
      ++lines;
      if (buffer[0] == '+' && buffer[1] == '1' && buffer[2] == ',') {
        for (const char* c = buffer; *c != '\0'; ++c) values += *c == ',' ? 1 : 0;
      }
    }
    const double wall = Since(begin);
    const double cpu = corvane::bench::ProcessCpuSeconds() - cpu0;
    char extra[160];
    std::snprintf(extra, sizeof extra,
                  "(time-out %d ms; %llu lines, %.0f finger-pressure samples/s, %llu time-outs)",
                  timeoutMs, static_cast<unsigned long long>(lines),
                  static_cast<double>(values) / wall, static_cast<unsigned long long>(timeouts));
    Report("recording read", cpu, wall, extra);
    const char stop[] = "?in/sampler/stop\n";
    module.WriteBuffer(0, stop, static_cast<int32_t>(sizeof stop - 1));
    while (module.ReadLine(0, buffer, sizeof buffer, 10000) == 1 && std::string(buffer) != "<OK") {
    }
  }
  module.CloseAll();
  return 0;
}
