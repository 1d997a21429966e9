// The text command protocol as the host sees it: an engine on a scripted
// back-end, lines in through the command ring and out through the reply ring.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine_harness.h"
#include "platform/time.h"
#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane::testing {

inline const std::string kCommError =
    "^A device communication error has occurred. Please power-cycle the Corvane device and "
    "relaunch Kymoview.";

// A device whose error stands until the test takes it away: DMS_ClearError
// does not make a fault that persists go away, so every status read reports
// it again. It also notes how many reply bytes were waiting each time the
// engine put the device into idle mode, which tells what the host had been
// sent before sampling stopped.
class StandingErrorBackEnd : public FakeBackEnd {
 public:
  int32_t DMS_ClearError() override {
    std::lock_guard lock(mutex);
    calls.emplace_back("DMS_ClearError()");
    return 0;
  }
  int32_t DMS_SetMode(int32_t mode) override {
    std::lock_guard lock(mutex);
    if (mode == kModeIdle && replyRing != nullptr)
      idleModeReplyBytes.push_back(replyRing->Waiting());
    return FakeBackEnd::DMS_SetMode(mode);
  }

  void SetError(int32_t code) {
    std::lock_guard lock(mutex);
    status.mError = code;
  }
  size_t IdleModeCount() const {
    std::lock_guard lock(mutex);
    return idleModeReplyBytes.size();
  }
  uint32_t LastIdleModeReplyBytes() const {
    std::lock_guard lock(mutex);
    return idleModeReplyBytes.empty() ? 0 : idleModeReplyBytes.back();
  }

  const RingBuffer* replyRing = nullptr;  // set once the engine exists
  std::vector<uint32_t> idleModeReplyBytes;
};

// Starts `h`'s engine on a back-end of type `Fake`; `configure` sets it up
// before the engine's probe sees it.
template <typename Fake, typename Configure>
Fake* StartWith(EngineHarness& h, Configure configure) {
  Fake* made = nullptr;
  h.engine = std::make_unique<DMSWrapper>(
      [&h, &made, configure] {
        auto fake = std::make_unique<Fake>();
        made = fake.get();
        h.fake = fake.get();
        configure(*fake);
        return std::unique_ptr<FinapresAPI_I>(std::move(fake));
      },
      h.clock);
  return made;
}

// Every line the engine sends until it has polled the device at least once
// after this call: two queries go behind whatever is pending, and the lines
// before the second answer are the ones the passes up to then produced. The
// queries' own answers are left out, and so are data lines ("+...") unless
// `keepData`.
inline std::vector<std::string> LinesThroughNextPoll(EngineHarness& h, bool keepData = false) {
  h.Send(L"?in/nachans");
  h.Send(L"?in/nachans");
  std::vector<std::string> lines;
  for (int answers = 0; answers < 2;) {
    std::string line = h.Read();
    if (line == "<none>") {
      lines.push_back(line);
      break;
    }
    if (line == "=11") {
      ++answers;
    } else if (keepData || line.empty() || line[0] != '+') {
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

// Waits up to `timeoutMs` of real time for the worker to end.
inline bool WorkerEnds(EngineHarness& h, uint32_t timeoutMs = 3000) {
  for (uint32_t waited = 0; waited < timeoutMs && h.engine->IsRunning(); waited += 5) {
    platform::SleepMs(5);
  }
  return !h.engine->IsRunning();
}

// The device calls made after the first `from` calls, without the ones every
// idle pass makes (the error check's DMS_ClearError and DMS_GetStatus).
inline std::vector<std::string> CallsSince(const FakeBackEnd& fake, size_t from) {
  std::vector<std::string> calls = fake.Calls();
  std::vector<std::string> made;
  for (size_t i = from; i < calls.size(); ++i) {
    if (calls[i] != "DMS_ClearError()" && calls[i] != "DMS_GetStatus()") made.push_back(calls[i]);
  }
  return made;
}

}  // namespace corvane::testing

namespace corvane::testing {

// Collects the debug trace's messages and the module log's lines while it
// exists.
class TraceAndLogCapture : public MVX::LogSink {
 public:
  TraceAndLogCapture() {
    MVX::SetTraceSinkForTesting([this](const std::string& line) {
      std::lock_guard lock(mMutex);
      mTrace.push_back(line);
    });
    MVX::ModuleLog::SetSink(this);
  }
  ~TraceAndLogCapture() override {
    MVX::ModuleLog::SetSink(nullptr);
    MVX::SetTraceSinkForTesting(nullptr);
  }
  void Deliver(const wchar_t* line, uint32_t*) override {
    if (line == nullptr) return;
    std::lock_guard lock(mMutex);
    mLog.emplace_back(line);
  }

  // Trace lines of the engine's unit whose message is `message`.
  size_t TraceCount(const std::string& message) const {
    std::lock_guard lock(mMutex);
    return static_cast<size_t>(
        std::count_if(mTrace.begin(), mTrace.end(), [&](const std::string& l) {
          const std::string end = "): " + message + "\r\n";
          return l.rfind("DMSWrapper", 0) == 0 && l.size() >= end.size() &&
                 l.compare(l.size() - end.size(), end.size(), end) == 0;
        }));
  }
  // Module log lines whose message is `message`.
  size_t LogCount(const std::wstring& message) const {
    std::lock_guard lock(mMutex);
    return static_cast<size_t>(std::count_if(mLog.begin(), mLog.end(), [&](const std::wstring& l) {
      const std::wstring end = L": " + message;
      return l.size() >= end.size() && l.compare(l.size() - end.size(), end.size(), end) == 0;
    }));
  }

 private:
  mutable std::mutex mMutex;
  std::vector<std::string> mTrace;
  std::vector<std::wstring> mLog;
};

}  // namespace corvane::testing
