// On Windows the host registers the framework's class object with COM. It is
// registered in the multithreaded apartment, so that the module finds it from
// its worker thread as well as from the main thread.
#include <windows.h>
#include <objbase.h>

#include "recorder_host.h"

namespace corvane::recorder {
namespace {
DWORD gCookie = 0;
bool gRegistered = false;
}  // namespace

void RegisterHostkit(HostUnknown* classObject) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  gRegistered = SUCCEEDED(CoRegisterClassObject(reinterpret_cast<const GUID&>(kHostkitClassId),
                                                reinterpret_cast<IUnknown*>(classObject),
                                                CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                                &gCookie));
}

void UnregisterHostkit() {
  if (gRegistered) CoRevokeClassObject(gCookie);
  gRegistered = false;
  CoUninitialize();
}

}  // namespace corvane::recorder
