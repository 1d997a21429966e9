#include "host/host_services.h"

#include <mutex>
#include <string>

#include "host/resources/version_info.h"
#include "support/module_log.h"
#include "support/progress_window.h"

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

// The host's window takes the percentage and the text together, so the text
// last set goes along with every percentage.
class HostProgressWindow final : public MVX::ProgressWindow {
 public:
  HostProgressWindow(HostProgress* window, std::wstring_view text) : mWindow(window), mText(text) {}
  ~HostProgressWindow() override {
    mWindow->Close();
    mWindow->Release();
  }
  HostProgressWindow(const HostProgressWindow&) = delete;
  HostProgressWindow& operator=(const HostProgressWindow&) = delete;

  void SetProgress(int32_t percent) override {
    mPercent = percent;
    mWindow->SetProgress(mPercent, mText.c_str());
  }
  void SetText(std::wstring_view text) override {
    mText = text;
    mWindow->SetProgress(mPercent, mText.c_str());
  }

 private:
  HostProgress* mWindow;  // one reference owned
  std::wstring mText;     // shown with every percentage
  int32_t mPercent = 0;   // last set
};

class HostProgressWindows final : public MVX::ProgressWindows {
 public:
  std::unique_ptr<MVX::ProgressWindow> Open(std::wstring_view title,
                                            std::wstring_view text) override {
    const std::wstring titleText(title);
    const std::wstring bodyText(text);
    HostProgress* window = OpenProgressWindow(titleText.c_str(), bodyText.c_str());
    if (window == nullptr) return nullptr;
    return std::make_unique<HostProgressWindow>(window, text);
  }
};

HostProgressWindows gProgressWindows;

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

void ConnectProgressWindows() { MVX::SetHostProgressWindows(&gProgressWindows); }

void ReleaseHostServices() {
  MVX::ModuleLog::SetSink(nullptr);
  MVX::SetHostProgressWindows(nullptr);
  gLogSlot.Release();
  gProgressSlot.Release();
  gRegistrationSlot.Release();
}

}  // namespace corvane
