// The serial port's module-log and trace lines, written alike by both
// platforms' implementations.
#pragma once

#include "support/mvx_string.h"

namespace corvane::com_port_log {

// Trace line "COMPort: '<name>' failed to open" and log line
// "COMPort failed to open handle for port <name>".
void OpenFailed(const MVX::MVXString& name);
// "COMPort opened handle for port <name>".
void Opened(const MVX::MVXString& name);
// "COMPort failed to configure port <name>".
void ConfigureFailed(const MVX::MVXString& name);
// "COMPort closed handle for port <name>".
void Closed(const MVX::MVXString& name);

}  // namespace corvane::com_port_log
