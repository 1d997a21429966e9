#include "support/module_log.h"

#include <algorithm>
#include <array>
#include <iomanip>
#include <mutex>

#include "platform/time.h"
#include "support/mvx_string.h"

namespace MVX {
namespace {

struct LogState {
  std::mutex lock;
  LogSink* sink = nullptr;
  bool started = false;
  uint32_t startTick = 0;
  std::array<wchar_t, ModuleLog::kBufferChars> buffer{};
};

LogState& State() {
  static LogState state;
  return state;
}

}  // namespace

std::wstring FormatLogLine(double seconds, std::wstring_view message) {
  OStringStream out;
  out << std::setw(7) << seconds << L": " << message;
  return out.str();
}

void ModuleLog::Write(std::wstring_view message) {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  if (state.sink == nullptr) return;
  if (!state.started) {
    state.started = true;
    state.startTick = corvane::platform::GetTickCount();
    state.sink->Deliver(nullptr, &state.startTick);
  }
  const uint32_t elapsedMs = corvane::platform::GetTickCount() - state.startTick;
  const std::wstring line = FormatLogLine(static_cast<double>(elapsedMs) / 1000.0, message);
  // The stream is fixed: a line longer than the buffer is cut, never overrun.
  const size_t length = std::min(line.size(), kBufferChars - 1);
  std::copy_n(line.begin(), length, state.buffer.begin());
  state.buffer[length] = L'\0';
  state.sink->Deliver(state.buffer.data(), &state.startTick);
}

void ModuleLog::SetSink(LogSink* sink) {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  state.sink = sink;
  state.started = false;
}

}  // namespace MVX
