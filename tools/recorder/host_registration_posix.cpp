// On Linux the host carries the framework itself: the executable exports the
// framework's entry point, and the module finds it among the process's
// symbols.
#include <atomic>

#include "recorder_host.h"

namespace {
std::atomic<corvane::HostUnknown*> gClassObject{nullptr};
}

extern "C" __attribute__((visibility("default"))) int32_t DllGetClassObject(
    const corvane::Guid& clsid, const corvane::Guid& iid, void** out) {
  *out = nullptr;
  corvane::HostUnknown* classObject = gClassObject.load();
  if (classObject == nullptr || !corvane::recorder::SameGuid(clsid, corvane::kHostkitClassId)) {
    return corvane::recorder::kNoInterface;
  }
  return classObject->QueryInterface(iid, out);
}

namespace corvane::recorder {
void RegisterHostkit(HostUnknown* classObject) { gClassObject = classObject; }
void UnregisterHostkit() { gClassObject = nullptr; }
}  // namespace corvane::recorder
