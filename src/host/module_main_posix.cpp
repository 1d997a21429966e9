// Load and unload of the Linux module: the counterpart of process attach and
// detach on Windows.
#include "host/host_services.h"
#include "host/resources/version_info.h"
#include "support/debug_trace.h"

namespace corvane {
void ModuleDetach();
}

namespace {

__attribute__((constructor)) void ModuleAttach() {
  MVX::StartDebugTraceClock();
  corvane::ConnectModuleLog();
  corvane::ConnectProgressWindows();
  corvane::AnnounceIfPreRelease(corvane::ModuleVersionValue(L"FileDescription"),
                                corvane::ModuleVersionValue(L"FileVersion"));
}

__attribute__((destructor)) void ModuleUnload() { corvane::ModuleDetach(); }

}  // namespace
