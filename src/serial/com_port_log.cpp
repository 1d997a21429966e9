#include "serial/com_port_log.h"

#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane::com_port_log {
namespace {

constexpr wchar_t kTraceOpenFailedBefore[] = L"COMPort: '";
constexpr wchar_t kTraceOpenFailedAfter[] = L"' failed to open\n";
constexpr wchar_t kLogOpenFailed[] = L"COMPort failed to open handle for port ";
constexpr wchar_t kLogOpened[] = L"COMPort opened handle for port ";
constexpr wchar_t kLogConfigureFailed[] = L"COMPort failed to configure port ";
constexpr wchar_t kLogClosed[] = L"COMPort closed handle for port ";
constexpr wchar_t kLogCancelDidNotEndBefore[] = L"COMPort: a cancelled read or write on port ";
constexpr wchar_t kLogCancelDidNotEndAfter[] = L" did not end; the port is closed";

}  // namespace

void OpenFailed(const MVX::MVXString& name, MVX::MVXString& lastFailed) {
  MVX_TRACE(MVX::kUnitComPort, kTraceOpenFailedBefore + name + kTraceOpenFailedAfter);
  if (lastFailed == name) return;
  lastFailed = name;
  MVX::ModuleLog::Write(kLogOpenFailed + name);
}

void Opened(const MVX::MVXString& name) { MVX::ModuleLog::Write(kLogOpened + name); }

void ConfigureFailed(const MVX::MVXString& name) {
  MVX::ModuleLog::Write(kLogConfigureFailed + name);
}

void Closed(const MVX::MVXString& name) { MVX::ModuleLog::Write(kLogClosed + name); }

void CancelDidNotEnd(const MVX::MVXString& name) {
  const MVX::MVXString line = kLogCancelDidNotEndBefore + name + kLogCancelDidNotEndAfter;
  MVX_TRACE(MVX::kUnitComPort, line);
  MVX::ModuleLog::Write(line);
}

}  // namespace corvane::com_port_log
