// Process attach and detach of the Windows module.
#include <windows.h>

#include "host/host_services.h"
#include "host/resources/version_info.h"
#include "platform/resources.h"
#include "support/debug_trace.h"

namespace corvane {
void ModuleDetach();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    corvane::platform::SetResourceModule(instance);
    MVX::StartDebugTraceClock();
    corvane::ConnectModuleLog();
    corvane::ConnectProgressWindows();
    corvane::AnnounceIfPreRelease(corvane::ModuleVersionValue(L"FileDescription"),
                                  corvane::ModuleVersionValue(L"FileVersion"));
  } else if (reason == DLL_PROCESS_DETACH) {
    // On FreeLibrary a facade still there says goodbye to the engine. At
    // process exit (reserved non-null) the worker is already gone and
    // waiting for its reply would only hold up the exit.
    if (reserved == nullptr) corvane::ModuleDetach();
    corvane::platform::SetResourceModule(nullptr);
  }
  return TRUE;
}
