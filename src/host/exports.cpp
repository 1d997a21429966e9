// The module's exported functions (cdecl, undecorated names). No exception
// leaves an export: each catches everything and gives its failure value.
#include <cstdint>

#include "engine/dms_wrapper.h"
#include "host/finapres_device.h"
#include "host/host_interfaces.h"
#include "host/host_services.h"
#include "platform/calling_convention.h"
#include "platform/dynamic_library.h"
#include "platform/time.h"
#include "support/debug_trace.h"

namespace corvane {
namespace {

// The device class record handed to the host.
struct DeviceClassInfo {
  Guid classId;                    // this driver's device class
  const wchar_t* description;      // "Corvane Devices"
  const wchar_t* name;             // "Corvane"
};
static_assert(sizeof(void*) != 4 || sizeof(DeviceClassInfo) == 24);

constexpr Guid kDeviceClassId = {
    0x3c9e7b10, 0x8a41, 0x4d2f, {0xb5, 0x6e, 0x0d, 0x42, 0x91, 0x7a, 0xc3, 0x58}};
constexpr wchar_t kClassDescription[] = L"Corvane Devices";
constexpr wchar_t kDeviceName[] = L"Corvane";

HostObject* gHostObject = nullptr;
HostUnknown* gHostService = nullptr;

FinapresDevice* Facade(int port) { return port == 0 ? gDevice : nullptr; }

template <typename Body>
int32_t Guarded(int32_t failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace

// The module's unload by its host (not process exit): a device still open is
// closed as CloseAll closes it, within a bounded time.
void ModuleDetach() {
  Guarded(0, [] {
    if (!CloseForUnload()) {
      // The worker did not end: it may still be in our code or in the vendor
      // library's, and would run into unmapped code later. Keep the code.
      MVX_TRACE(MVX::kUnitDMSWrapper, L"!!! Worker still running at unload; module kept mapped");
      platform::PinThisModule();
    }
    return 0;
  });
}

}  // namespace corvane

using namespace corvane;

extern "C" {

CORVANE_EXPORT int32_t GetDeviceClassInfo(DeviceClassInfo* info) {
  if (info == nullptr) return 0;
  info->classId = kDeviceClassId;
  info->description = kClassDescription;
  info->name = kDeviceName;
  return 1;
}

CORVANE_EXPORT int32_t FindDevice(uint32_t* value) {
  return Guarded(0, [value] {
    if (gDevice != nullptr) return 0;
    if (value != nullptr) *value = 0;
    gDevice = new FinapresDevice();
    return 1;
  });
}

CORVANE_EXPORT int32_t Initialise(int32_t port) {
  return Guarded(0, [port] {
    FinapresDevice* device = Facade(port);
    return device != nullptr && device->Initialise() ? 1 : 0;
  });
}

CORVANE_EXPORT int32_t CloseAll() {
  return Guarded(1, [] {
    FinapresDevice* device = gDevice;
    gDevice = nullptr;
    delete device;
    return 1;
  });
}

CORVANE_EXPORT int32_t IsFailed(int32_t port) {
  return Guarded(1, [port] {
    FinapresDevice* device = Facade(port);
    return device == nullptr || device->IsFailed() ? 1 : 0;
  });
}

CORVANE_EXPORT int32_t WriteBuffer(int32_t port, const char* text, int32_t length) {
  return Guarded(1, [=] {
    if (FinapresDevice* device = Facade(port)) device->WriteBuffer(text, length);
    return 1;
  });
}

CORVANE_EXPORT int32_t ReadLine(int32_t port, char* buffer, int32_t size, int32_t timeout) {
  return Guarded(0, [=] {
    FinapresDevice* device = Facade(port);
    if (device == nullptr) return 1;
    return device->ReadLineWithin(buffer, size, timeout) ? 1 : 0;
  });
}

CORVANE_EXPORT int32_t ReadBuffer() { return 0; }

CORVANE_EXPORT int32_t ReadBuffSize(int32_t port) {
  return Guarded(0, [port] {
    FinapresDevice* device = Facade(port);
    return device != nullptr ? device->ReadBuffSize() : 0;
  });
}

CORVANE_EXPORT void FlushReadBuffer(int32_t port) {
  Guarded(0, [port] {
    if (FinapresDevice* device = Facade(port)) device->FlushReadBuffer();
    return 0;
  });
}

CORVANE_EXPORT int32_t GetUniqueID(int32_t port, uint32_t* id) {
  return Guarded(0, [=] {
    FinapresDevice* device = Facade(port);
    if (device == nullptr || id == nullptr) return 0;
    *id = 0;
    device->GetUniqueID(id);
    return 1;
  });
}

CORVANE_EXPORT int32_t GetLastErrorMsg(int32_t port, char* buffer) {
  return Guarded(0, [=] {
    FinapresDevice* device = port == 0 ? gDevice : port == -1 ? gLastFound : nullptr;
    return device != nullptr ? device->GetLastErrorMsg(buffer) : 0;
  });
}

CORVANE_EXPORT int32_t InitOnMainThread(void* /*unused*/, HostObject* host) {
  return Guarded(0, [host] {
    EnsureEngine();
    if (host == nullptr) return 0;  // the host must hand an object; refuse safely
    host->AddRef();
    if (gHostObject != nullptr) gHostObject->Release();
    gHostObject = host;
    if (gHostService != nullptr) gHostService->Release();
    gHostService = nullptr;
    return host->GetHostService(&gHostService);
  });
}

CORVANE_EXPORT void CleanupOnMainThread() {
  Guarded(0, [] {
    if (gHostService != nullptr) gHostService->Release();
    gHostService = nullptr;
    if (gHostObject != nullptr) gHostObject->Release();
    gHostObject = nullptr;
    return 0;
  });
}

CORVANE_EXPORT int32_t SetBaudRate() { return 0; }
CORVANE_EXPORT int32_t GetBaudRate() { return 0; }
CORVANE_EXPORT int32_t CanUseBaudRate() { return 0; }

}  // extern "C"
