// The debug trace: one line per event, for a debugger or a developer's console.
//
// Line: source unit, line number right-aligned in 5, "(", seconds since the
// module was loaded with 6 significant digits right-aligned in 8, "): ",
// message, CR LF; passed on as UTF-8. Messages begin "---" for progress, "!!!"
// for errors and failed device calls, "???" for commands not handled.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace MVX {

// Source unit names.
inline constexpr wchar_t kUnitDMSWrapper[] = L"DMSWrapper";
inline constexpr wchar_t kUnitNanoDriver[] = L"FinapresNanoDriver";
inline constexpr wchar_t kUnitDLLDriver[] = L"FinapresDLLDriver";
inline constexpr wchar_t kUnitComPort[] = L"ComPort";

// Formats one trace line as wide text.
std::wstring FormatTraceLine(std::wstring_view unit, int line, double seconds,
                             std::wstring_view message);

// Writes one trace line, timed from the module's load.
void DebugTrace(std::wstring_view unit, int line, std::wstring_view message);

// Takes the module's load time; called once at process attach.
void StartDebugTraceClock();

// Sends every trace line (UTF-8) to `sink` instead of the debugger channel
// while it is set; tests use it to read the trace. Pass null to restore.
void SetTraceSinkForTesting(std::function<void(const std::string&)> sink);

}  // namespace MVX

// Writes a trace line with the current source line number.
#define MVX_TRACE(unit, message) ::MVX::DebugTrace((unit), __LINE__, (message))
