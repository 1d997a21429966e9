// Helpers shared by the start-up and sampling tests: a back-end with a few
// more behaviours than the scripted one, and readers for the call log and the
// reply lines.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine_harness.h"

namespace corvane::testing {

// The scripted back-end, plus a device that does not simply take the mode it
// is given on a stop, and a pressure queue that never runs dry.
class ScriptedBackEnd : public FakeBackEnd {
 public:
  // What the status reports after DMS_SetMode(2); 0 = the mode itself.
  int32_t modeAfterStop = 0;
  // Non-zero: every pressure fetch returns this many records, and moves
  // `clock` on by `fetchCostMs` (a fetch that takes time on a busy device).
  uint16_t pressureEveryFetch = 0;
  FakeClock* clock = nullptr;
  int64_t fetchCostMs = 0;
  // With pressureEveryFetch: each fetch also queues a height-and-status
  // record at the time of its last pressure record.
  bool heightEveryFetch = false;

  int32_t DMS_SetMode(int32_t mode) override {
    std::lock_guard lock(mutex);
    const int32_t result = FakeBackEnd::DMS_SetMode(mode);
    if (mode == kModeIdle && modeAfterStop != 0) status.mMode = modeAfterStop;
    return result;
  }

  int32_t DMS_GetPressureSamples(uint16_t* count, PressureSample* records) override {
    std::lock_guard lock(mutex);
    if (records == nullptr || pressureEveryFetch == 0) {
      return FakeBackEnd::DMS_GetPressureSamples(count, records);
    }
    const uint16_t n = std::min(*count, pressureEveryFetch);
    for (uint16_t i = 0; i < n; ++i) {
      records[i] = {nextTime, 100, 0};
      nextTime += kSamplePeriodTicks;
    }
    *count = n;
    if (heightEveryFetch && n > 0)
      heightAndStatus.push_back({nextTime - kSamplePeriodTicks, 0, 0, {}});
    calls.emplace_back("PressureFetch");
    if (clock != nullptr) clock->Advance(fetchCostMs);
    return 0;
  }

 private:
  uint64_t nextTime = 133'000'000'000'000'000;
};

// Starts `h` on a ScriptedBackEnd; returns the back-end (owned by the engine).
template <typename Configure>
ScriptedBackEnd* StartScripted(EngineHarness& h, Configure configure) {
  ScriptedBackEnd* created = nullptr;
  h.engine = std::make_unique<DMSWrapper>(
      [&h, &created, configure] {
        auto made = std::make_unique<ScriptedBackEnd>();
        created = made.get();
        h.fake = made.get();
        configure(*made);
        return std::unique_ptr<FinapresAPI_I>(std::move(made));
      },
      h.clock);
  return created;
}

inline bool IsDataLine(const std::string& line) { return !line.empty() && line[0] == '+'; }

// Reply lines up to and including the first one that `last` accepts (or up
// to a time-out, which adds "<none>"); data lines are left out unless asked for.
inline std::vector<std::string> ReadThrough(EngineHarness& h,
                                            const std::function<bool(const std::string&)>& last,
                                            bool keepData = false, uint32_t timeoutMs = 5000) {
  std::vector<std::string> lines;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    const auto left =
        deadline > now
            ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()
            : 0;
    const std::string line = h.Read(static_cast<uint32_t>(left));
    if (line == "<none>") {
      lines.push_back(line);
      return lines;
    }
    if (keepData || !IsDataLine(line)) lines.push_back(line);
    if (last(line)) return lines;
  }
}

inline std::vector<std::string> ReadThroughOK(EngineHarness& h, bool keepData = false) {
  return ReadThrough(
      h, [](const std::string& line) { return line == "<OK"; }, keepData);
}

// The call log from `from` on, without the calls that every pass makes (the
// error check's DMS_ClearError and status reads).
inline std::vector<std::string> CallsAfter(const FakeBackEnd& fake, size_t from,
                                           bool keepPolling = false) {
  const std::vector<std::string> all = fake.Calls();
  std::vector<std::string> out;
  for (size_t i = std::min(from, all.size()); i < all.size(); ++i) {
    if (!keepPolling && (all[i] == "DMS_ClearError()" || all[i] == "DMS_GetStatus()")) continue;
    out.push_back(all[i]);
  }
  return out;
}

inline size_t CallCount(const FakeBackEnd& fake) { return fake.Calls().size(); }

inline ptrdiff_t IndexOf(const std::vector<std::string>& calls, const std::string& call,
                         size_t from = 0) {
  const auto it = std::find(calls.begin() + static_cast<ptrdiff_t>(std::min(from, calls.size())),
                            calls.end(), call);
  return it == calls.end() ? -1 : it - calls.begin();
}

inline size_t Count(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

// Waits (real time) until the worker has made at least `passes` more passes,
// each of which ends with the error check's DMS_ClearError.
inline void WaitForPasses(EngineHarness& h, size_t passes = 2) {
  const size_t before = Count(h.fake->Calls(), "DMS_ClearError()");
  for (int i = 0; i < 500; ++i) {
    if (Count(h.fake->Calls(), "DMS_ClearError()") >= before + passes) return;
    h.engine->Wake();
    platform::SleepMs(2);
  }
  ADD_FAILURE() << "the worker made no passes";
}

}  // namespace corvane::testing
