// Load and unload of the Linux module: the counterpart of process attach and
// detach on Windows.
#include "support/debug_trace.h"

namespace {

__attribute__((constructor)) void ModuleAttach() { MVX::StartDebugTraceClock(); }

}  // namespace
