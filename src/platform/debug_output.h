// The debugger output channel for the module's trace lines.
#pragma once

#include <string>

namespace corvane::platform {

// Passes one UTF-8 text to the debugger channel: OutputDebugStringA on
// Windows; on Linux standard error, but only while CORVANE_TRACE is set.
void DebugOutput(const std::string& utf8);

}  // namespace corvane::platform
