// An engine on a scripted back-end and a clock the test moves, driven through
// its two rings exactly as the facade drives it.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "engine/dms_wrapper.h"
#include "fake_back_end.h"
#include "platform/time.h"
#include "support/interval_timer.h"

namespace corvane::testing {

class FakeClock final : public MVX::Clock {
 public:
  int64_t NowMs() const override { return now.load(); }
  void Advance(int64_t ms) { now.fetch_add(ms); }
  std::atomic<int64_t> now{13'000'000'000'000};
};

class EngineHarness {
 public:
  // Creates the engine; `configure` sets up the fake before the probe sees it.
  template <typename Configure>
  void Start(Configure configure) {
    engine = std::make_unique<DMSWrapper>(
        [this, configure] {
          auto made = std::make_unique<FakeBackEnd>();
          fake = made.get();
          configure(*made);
          return std::unique_ptr<FinapresAPI_I>(std::move(made));
        },
        clock);
  }
  void Start() {
    Start([](FakeBackEnd&) {});
  }

  // Queues one command line; returns the bytes queued.
  int32_t Send(const std::wstring& line) {
    MVX::MVXString text(line + L"\n");
    return engine->QueueCommand(text);
  }

  // The next reply line, or "<none>" after `timeoutMs` of real time.
  std::string Read(uint32_t timeoutMs = 3000) {
    char buffer[4096];
    for (uint32_t waited = 0; waited <= timeoutMs; ++waited) {
      if (engine->ReplyRing().ReadLine(buffer, sizeof buffer) != 0) return buffer;
      engine->Wake();
      platform::SleepMs(1);
    }
    return "<none>";
  }

  // The reply to one command line.
  std::string Ask(const std::wstring& line) {
    Send(line);
    return Read();
  }

  FakeClock clock;
  FakeBackEnd* fake = nullptr;  // owned by the engine
  std::unique_ptr<DMSWrapper> engine;
};

}  // namespace corvane::testing
