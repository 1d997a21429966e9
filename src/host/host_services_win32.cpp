// On Windows the host framework's services come through COM.
#include <windows.h>
#include <ole2.h>

#include <mutex>

#include "host/host_services.h"

namespace corvane::hostkit {
namespace {

constexpr DWORD kClassContext = 23;  // in-process server and handler, local and remote server

const GUID& AsGuid(const Guid& id) { return reinterpret_cast<const GUID&>(id); }

}  // namespace

void* GetClassObject(const Guid& iid) {
  void* out = nullptr;
  if (FAILED(CoGetClassObject(AsGuid(kHostkitClassId), kClassContext, nullptr, AsGuid(iid), &out))) {
    return nullptr;
  }
  return out;
}

void Prepare() {
  static std::once_flag once;
  std::call_once(once, [] {
    OleInitialize(nullptr);
    LoadLibraryW(L"Hostkit.dll");  // stays loaded for the life of the process
  });
}

}  // namespace corvane::hostkit
