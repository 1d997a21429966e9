// Process attach and detach of the Windows module.
#include <windows.h>

#include "platform/resources.h"
#include "support/debug_trace.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    corvane::platform::SetResourceModule(instance);
    MVX::StartDebugTraceClock();
  } else if (reason == DLL_PROCESS_DETACH) {
    corvane::platform::SetResourceModule(nullptr);
  }
  return TRUE;
}
