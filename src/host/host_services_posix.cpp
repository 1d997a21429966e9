// On Linux the host framework is Hostkit.so: already in the process (linked
// into or loaded by the host), or loaded from beside the host executable.
#include <dlfcn.h>

#include <mutex>

#include "host/host_services.h"
#include "platform/dynamic_library.h"
#include "support/path.h"

namespace corvane::hostkit {
namespace {

platform::DynamicLibrary& Library() {
  static platform::DynamicLibrary library;  // held for the life of the process
  return library;
}

}  // namespace

void* GetClassObject(const Guid& iid) {
  auto entry = reinterpret_cast<HostkitGetClassObjectFn>(dlsym(RTLD_DEFAULT, kHostkitEntryPoint));
  if (entry == nullptr) {
    entry = reinterpret_cast<HostkitGetClassObjectFn>(Library().Symbol(kHostkitEntryPoint));
  }
  if (entry == nullptr) return nullptr;
  void* out = nullptr;
  if (entry(kHostkitClassId, iid, &out) != 0) return nullptr;
  return out;
}

void Prepare() {
  static std::once_flag once;
  std::call_once(once, [] {
    Library() = platform::DynamicLibrary::Open((MVX::Path() / L"Hostkit.so").Wide());
  });
}

}  // namespace corvane::hostkit
