// The module log: timed lines handed to the host framework's log service.
//
// Line: elapsed seconds right-aligned in 7, ": ", the message, NUL. Times count
// from the log's start: the tick of the first line, which the log service may
// replace with the host's own start so that all logs share one time base.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace MVX {

// Where log lines go; the host services layer implements it.
class LogSink {
 public:
  virtual ~LogSink() = default;
  // `line` is NUL-terminated, or null for the start exchange made before the
  // first line; the sink may overwrite `startTick` with the host's start.
  virtual void Deliver(const wchar_t* line, uint32_t* startTick) = 0;
};

// Formats one log line (without its NUL) as the log stream writes it.
std::wstring FormatLogLine(double seconds, std::wstring_view message);

class ModuleLog {
 public:
  // The log's fixed stream buffer, in characters, its NUL included.
  static constexpr size_t kBufferChars = 65536;

  // Writes one line; lines are serialised on the log's lock. Without a sink
  // the line is dropped: there is nowhere to show it.
  static void Write(std::wstring_view message);

  // Sets the sink (null for none) and forgets the start tick.
  static void SetSink(LogSink* sink);
};

}  // namespace MVX
