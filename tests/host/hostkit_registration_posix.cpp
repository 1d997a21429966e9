// On Linux a host that carries the framework itself exports its entry point
// from the executable; the module finds it among the process's symbols.
#include "fake_host.h"
#include "hostkit_registration.h"

namespace {
corvane::HostUnknown* gClassObject = nullptr;
}

extern "C" __attribute__((visibility("default"))) int32_t DllGetClassObject(
    const corvane::Guid& clsid, const corvane::Guid& iid, void** out) {
  *out = nullptr;
  if (gClassObject == nullptr || !corvane::testing::SameGuid(clsid, corvane::kHostkitClassId)) {
    return -1;
  }
  return gClassObject->QueryInterface(iid, out);
}

namespace corvane::testing {
void RegisterHostkit(HostUnknown* classObject) { gClassObject = classObject; }
void UnregisterHostkit() { gClassObject = nullptr; }
}  // namespace corvane::testing
