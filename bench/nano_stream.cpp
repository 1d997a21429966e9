#include "nano_stream.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "module_exports.h"
#include "process_cpu.h"
#include "soak_match.h"
#include "vivezore_process.h"

namespace corvane::bench {
namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, as in the simulator

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

struct Module : ModuleExports {
  // Sends a command and reads until its "<OK" (or nothing more comes).
  bool Command(const std::string& text) {
    WriteBuffer(0, text.c_str(), static_cast<int32_t>(text.size()));
    char buffer[8192];
    while (ReadLine(0, buffer, sizeof buffer, 10000) == 1) {
      if (std::string(buffer) == "<OK") return true;
    }
    return false;
  }
};

struct Received {
  int64_t ns;
  int32_t value;
};

struct Match {
  size_t matched = 0;
  size_t lost = 0;         // frames sent inside the matched span that the host never showed
  size_t unmatched = 0;    // values the host showed that no frame sent
  size_t skippedHead = 0;  // values before the first run that could be placed
  size_t counterGaps = 0;  // counter steps other than +1 between the frames sent
  size_t spanFrames = 0;   // frames sent from the first matched to the last matched
  size_t firstSent = 0, lastSent = 0;
  std::vector<double> latencyMs;
};

// The recording's tail may still be on its way: frames after the last one
// matched are not judged, nor those before the host's recording began.
Match MatchRecording(const std::vector<SentFrame>& sent, const std::vector<Received>& received) {
  Match m;
  for (size_t j = 1; j < sent.size(); ++j) {
    if (sent[j].counter != ((sent[j - 1].counter + 1) & 0xFFFF)) ++m.counterGaps;
  }
  std::vector<int32_t> sentValues, readValues;
  sentValues.reserve(sent.size());
  readValues.reserve(received.size());
  for (const SentFrame& frame : sent) sentValues.push_back(frame.value);
  for (const Received& value : received) readValues.push_back(value.value);
  bool first = true;
  const StreamMatch match =
      MatchStream(sentValues, readValues, 200, 20, 2000, [&](size_t i, size_t j) {
        if (first) m.firstSent = j;
        first = false;
        m.latencyMs.push_back(static_cast<double>(received[i].ns - sent[j].ns) / 1e6);
      });
  if (match.matched == 0) return m;
  m.matched = match.matched;
  m.unmatched = match.unmatched;
  m.skippedHead = match.skippedHead;
  m.lastSent = match.lastSent;
  m.lost = static_cast<size_t>(std::count_if(match.lost.begin(), match.lost.end(),
                                             [&](size_t j) { return j >= m.firstSent; }));
  m.spanFrames = m.lastSent - m.firstSent + 1;
  return m;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

}  // namespace

int RunStreamBench(const StreamOptions& options) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("corvane_nanobench_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  VivezoreProcess simulator(dir, "watchdog_ms = 0\n", options.flood);
  if (!simulator.Running()) {
    std::fprintf(stderr, "sim-vivezore did not start (%s)\n", SIM_VIVEZORE_EXE);
    return 2;
  }
  Module module;
  if (!module.Load()) {
    std::fprintf(stderr, "Corvane.kvwdll must stand beside this program\n");
    return 2;
  }
  uint32_t value = 0;
  if (module.FindDevice(&value) != 1 || module.Initialise(0) != 1) {
    std::fprintf(stderr, "the module did not find the simulated wrist unit\n");
    return 2;
  }
  if (!module.Command("?in/sampler/start\n")) {
    std::fprintf(stderr, "the sampler did not start\n");
    return 2;
  }

  // The recording, read as a host reads it: ReadLine with a time-out.
  std::vector<Received> received;
  received.reserve(static_cast<size_t>(options.seconds * 1000));
  size_t otherLines = 0;
  std::string firstOther;
  std::vector<char> buffer(65536);
  const double cpu0 = ProcessCpuSeconds();
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::duration<double>(options.seconds);
  while (Clock::now() < end) {
    if (module.ReadLine(0, buffer.data(), static_cast<int32_t>(buffer.size()), 100) != 1) continue;
    const int64_t at = NowNs();
    const char* c = buffer.data();
    if (c[0] == '+' && c[1] == '1' && c[2] == ',') {
      for (c += 2; *c == ',';) {
        char* next = nullptr;
        received.push_back({at, static_cast<int32_t>(std::strtol(c + 1, &next, 10))});
        c = next;
      }
    } else if (c[0] != '+') {
      if (otherLines++ == 0) firstOther = buffer.data();
    }
  }
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - begin).count();

  module.Command("?in/sampler/stop\n");
  module.CloseAll();
  simulator.Stop();
  const std::vector<SentFrame> sent = ReadSendLog(simulator.SendLog());
  std::filesystem::remove_all(dir);

  const Match m = MatchRecording(sent, received);
  std::printf("%s\n", options.title);
  std::printf(
      "  recording %.1f s: %zu 'd' frames sent in all, %zu pressure values read"
      " (%.0f per second)\n",
      wall, sent.size(), received.size(), static_cast<double>(received.size()) / wall);
  if (m.matched == 0) {
    std::printf("  the values read match no run of frames sent\n");
    return 1;
  }
  std::printf(
      "  matched %zu values to frames; %zu frames in that span, lost %zu, values"
      " matching no frame %zu, values before the first match %zu; counter gaps in"
      " what was sent %zu\n",
      m.matched, m.spanFrames, m.lost, m.unmatched, m.skippedHead, m.counterGaps);
  if (m.spanFrames > 1) {
    const double span = static_cast<double>(sent[m.lastSent].ns - sent[m.firstSent].ns) / 1e9;
    const double rate = static_cast<double>(m.spanFrames - 1) / span;
    // A 'd' frame is 15 bytes on the line, an 's' frame (one with every 20th
    // sample) 21; the few beat frames are left out.
    std::printf(
        "  'd' frames sent at %.0f per second over the matched span: %.1f %% of the"
        " line, with the status frames %.1f %%\n",
        rate, 100.0 * rate * 15 / 11520, 100.0 * rate * (15 + 21.0 / 20) / 11520);
  }
  std::printf(
      "  latency from the frame's last byte written to ReadLine returning its line:"
      " min %.2f ms, median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
      Percentile(m.latencyMs, 0.0), Percentile(m.latencyMs, 0.5), Percentile(m.latencyMs, 0.99),
      Percentile(m.latencyMs, 1.0));
  std::printf("  host process CPU (module included) %.3f s = %.2f %% of one core\n", cpu,
              100.0 * cpu / wall);
  if (otherLines != 0) {
    std::printf("  %zu other lines, the first: %s\n", otherLines, firstOther.c_str());
  }
  return m.lost == 0 && m.unmatched == 0 ? 0 : 1;
}

}  // namespace corvane::bench
