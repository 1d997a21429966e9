// Collects module log lines and debug trace messages while it exists.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane::testing {

class LogCapture : public MVX::LogSink {
 public:
  LogCapture() {
    MVX::SetTraceSinkForTesting([this](const std::string& line) {
      std::lock_guard lock(mMutex);
      mTrace.push_back(line);
    });
    MVX::ModuleLog::SetSink(this);
  }
  ~LogCapture() override {
    MVX::ModuleLog::SetSink(nullptr);
    MVX::SetTraceSinkForTesting(nullptr);
  }
  void Deliver(const wchar_t* line, uint32_t*) override {
    if (line == nullptr) return;
    std::lock_guard lock(mMutex);
    const std::wstring text(line);
    const size_t colon = text.find(L": ");
    mLog.push_back(colon == std::wstring::npos ? text : text.substr(colon + 2));
  }
  // Log messages (without their time) that contain `part`.
  size_t LogCount(const std::wstring& part) const {
    std::lock_guard lock(mMutex);
    return static_cast<size_t>(std::count_if(mLog.begin(), mLog.end(), [&](const std::wstring& l) {
      return l.find(part) != std::wstring::npos;
    }));
  }
  size_t TraceCount(const std::string& part) const {
    std::lock_guard lock(mMutex);
    return static_cast<size_t>(
        std::count_if(mTrace.begin(), mTrace.end(),
                      [&](const std::string& l) { return l.find(part) != std::string::npos; }));
  }
  std::vector<std::wstring> Log() const {
    std::lock_guard lock(mMutex);
    return mLog;
  }

 private:
  mutable std::mutex mMutex;
  std::vector<std::string> mTrace;
  std::vector<std::wstring> mLog;
};

}  // namespace corvane::testing
