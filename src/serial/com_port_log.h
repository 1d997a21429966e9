// The serial port's module-log and trace lines, written alike by both
// platforms' implementations.
#pragma once

#include "support/mvx_string.h"

namespace corvane::com_port_log {

// Trace line "COMPort: '<name>' failed to open" and log line
// "COMPort failed to open handle for port <name>". The log line is left out
// when `lastFailed` already names the port: a port that stays away while it
// is tried again and again leaves one log line, not one per attempt.
// `lastFailed` then names it.
void OpenFailed(const MVX::MVXString& name, MVX::MVXString& lastFailed);
// "COMPort opened handle for port <name>".
void Opened(const MVX::MVXString& name);
// "COMPort failed to configure port <name>".
void ConfigureFailed(const MVX::MVXString& name);
// "COMPort closed handle for port <name>".
void Closed(const MVX::MVXString& name);
// "COMPort: a cancelled read or write on port <name> did not end; the port is
// closed", in the trace and the log.
void CancelDidNotEnd(const MVX::MVXString& name);

}  // namespace corvane::com_port_log
