#include "host/host_services.h"

#include <mutex>

#include "host/resources/version_info.h"
#include "support/module_log.h"

namespace corvane {
namespace {

// One lazily obtained service: tried once per process under its own lock.
struct ServiceSlot {
  std::mutex lock;
  bool tried = false;
  HostUnknown* service = nullptr;

  HostUnknown* Get(const Guid& iid) {
    std::lock_guard guard(lock);
    if (!tried) {
      tried = true;
      void* found = hostkit::GetClassObject(iid);
      if (found == nullptr) {
        hostkit::Prepare();
        found = hostkit::GetClassObject(iid);
      }
      service = static_cast<HostUnknown*>(found);
    }
    return service;
  }

  void Release() {
    std::lock_guard guard(lock);
    if (service != nullptr) service->Release();
    service = nullptr;
    tried = false;
  }
};

ServiceSlot gLogSlot;
ServiceSlot gProgressSlot;
ServiceSlot gRegistrationSlot;

constexpr uint32_t kProgressKeyLow = 16;

class HostLogSink final : public MVX::LogSink {
 public:
  void Deliver(const wchar_t* line, uint32_t* startTick) override {
    if (HostLogService* service = LogService()) service->WriteLine(line, startTick);
  }
};

HostLogSink gLogSink;

}  // namespace

HostLogService* LogService() {
  return static_cast<HostLogService*>(gLogSlot.Get(kLogServiceId));
}

HostProgressService* ProgressService() {
  return static_cast<HostProgressService*>(gProgressSlot.Get(kProgressServiceId));
}

HostProgress* OpenProgressWindow(const wchar_t* title, const wchar_t* text) {
  HostProgressService* service = ProgressService();
  if (service == nullptr) return nullptr;
  static std::once_flag keyOnce;
  static uint16_t keyValue = 0;
  std::call_once(keyOnce, [service] { service->GetKeyValue(&keyValue); });
  const uint32_t key = (static_cast<uint32_t>(keyValue) << 16) | kProgressKeyLow;
  void* created = nullptr;
  service->CreateObject(key, kProgressFactoryId, &created);
  if (created == nullptr) return nullptr;
  auto* factory = static_cast<HostProgressFactory*>(created);
  HostProgress* window = nullptr;
  factory->OpenWindow(1, title, text, 0, &window);
  factory->Release();
  return window;
}

bool AnnounceIfPreRelease(const wchar_t* description, const wchar_t* version) {
  if (description == nullptr || version == nullptr || !ShouldAnnounceVersion(version)) return false;
  // Only pre-release builds get here, so a release build never reaches the
  // host framework from its attach.
  auto* service =
      static_cast<HostRegistrationService*>(gRegistrationSlot.Get(kRegistrationServiceId));
  if (service == nullptr) return false;
  const std::wstring text = std::wstring(description) + L" " + version;
  service->Announce(text.c_str());
  return true;
}

void ConnectModuleLog() { MVX::ModuleLog::SetSink(&gLogSink); }

void ReleaseHostServices() {
  MVX::ModuleLog::SetSink(nullptr);
  gLogSlot.Release();
  gProgressSlot.Release();
  gRegistrationSlot.Release();
}

}  // namespace corvane
