// On Windows the host registers the framework's class object with COM.
#include <windows.h>
#include <objbase.h>

#include "hostkit_registration.h"

namespace {
DWORD gCookie = 0;
}

namespace corvane::testing {

void RegisterHostkit(HostUnknown* classObject) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CoRegisterClassObject(reinterpret_cast<const GUID&>(kHostkitClassId),
                        reinterpret_cast<IUnknown*>(classObject), CLSCTX_INPROC_SERVER,
                        REGCLS_MULTIPLEUSE, &gCookie);
}

void UnregisterHostkit() {
  CoRevokeClassObject(gCookie);
  CoUninitialize();
}

}  // namespace corvane::testing
