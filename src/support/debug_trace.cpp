#include "support/debug_trace.h"

#include <atomic>
#include <iomanip>
#include <mutex>

#include "platform/debug_output.h"
#include "platform/time.h"
#include "support/mvx_string.h"
#include "support/utf8.h"

namespace MVX {
namespace {

std::atomic<uint32_t> gLoadTick{corvane::platform::GetTickCount()};

std::mutex gSinkMutex;
std::function<void(const std::string&)> gSink;

}  // namespace

std::wstring FormatTraceLine(std::wstring_view unit, int line, double seconds,
                             std::wstring_view message) {
  OStringStream out;
  out << unit << std::setw(5) << line << L"(" << std::setw(8) << seconds << L"): " << message
      << L"\r\n";
  return out.str();
}

void StartDebugTraceClock() { gLoadTick.store(corvane::platform::GetTickCount()); }

void DebugTrace(std::wstring_view unit, int line, std::wstring_view message) {
  const uint32_t elapsedMs = corvane::platform::GetTickCount() - gLoadTick.load();
  const std::string text =
      WideToUtf8(FormatTraceLine(unit, line, static_cast<double>(elapsedMs) / 1000.0, message));
  {
    std::lock_guard lock(gSinkMutex);
    if (gSink) {
      gSink(text);
      return;
    }
  }
  corvane::platform::DebugOutput(text);
}

void SetTraceSinkForTesting(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(gSinkMutex);
  gSink = std::move(sink);
}

}  // namespace MVX
