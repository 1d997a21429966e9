// The module's way to the host framework: the log service found through the
// platform's mechanism (an exported entry point in the process on Linux, a
// registered class object under COM on Windows), obtained once.
#include <gtest/gtest.h>

#include "fake_host.h"
#include "host/host_services.h"
#include "hostkit_registration.h"
#include "support/module_log.h"
#include "support/progress_window.h"

using corvane::testing::FakeLogService;

TEST(HostServices, ModuleLogLinesReachTheLogServiceWithTheHostsStart) {
  static FakeLogService service;
  service.hostStartedEarlierMs = 5000;
  corvane::testing::RegisterHostkit(&service);
  corvane::ConnectModuleLog();
  MVX::ModuleLog::Write(L"!!! DMSWrapper error: first");
  MVX::ModuleLog::Write(L"second");

  EXPECT_EQ(corvane::LogService(), &service);  // obtained once, then kept
  {
    std::lock_guard lock(service.mutex);
    EXPECT_EQ(service.exchanges, 1);
    ASSERT_EQ(service.lines.size(), 2u);
    const double seconds = std::stod(service.lines[0].substr(0, 7));
    EXPECT_GE(seconds, 5.0);  // counted from the host's start
    EXPECT_LT(seconds, 60.0);
    EXPECT_EQ(service.lines[0].substr(7), L": !!! DMSWrapper error: first");
  }
  corvane::ReleaseHostServices();
  corvane::testing::UnregisterHostkit();
}

TEST(HostServices, WithoutAHostFrameworkThereIsNoServiceAndNothingBreaks) {
  EXPECT_EQ(corvane::LogService(), nullptr);
  EXPECT_EQ(corvane::OpenProgressWindow(L"Title", L"Text"), nullptr);
  corvane::ConnectModuleLog();
  MVX::ModuleLog::Write(L"dropped");
  corvane::ReleaseHostServices();
}

namespace {

using corvane::Guid;
using corvane::testing::SameGuid;

// A progress window as the host would hand it back.
class FakeProgress final : public corvane::HostProgress {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid&, void** out) override {
    *out = nullptr;
    return -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return static_cast<uint32_t>(++refs); }
  uint32_t CORVANE_STDCALL Release() override { return static_cast<uint32_t>(--refs); }
  int32_t CORVANE_STDCALL SetProgress(int32_t percent, const wchar_t* text) override {
    calls.push_back(std::to_wstring(percent) + L"|" + text);
    return 0;
  }
  int32_t CORVANE_STDCALL Close() override {
    calls.emplace_back(L"close");
    return 0;
  }
  std::atomic<int> refs{0};
  std::vector<std::wstring> calls;
};

// The object the progress service creates; its ninth method opens the window.
class FakeFactory final : public corvane::HostProgressFactory {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid&, void** out) override {
    *out = nullptr;
    return -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return static_cast<uint32_t>(++refs); }
  uint32_t CORVANE_STDCALL Release() override { return static_cast<uint32_t>(--refs); }
  int32_t CORVANE_STDCALL Reserved3() override { return 0; }
  int32_t CORVANE_STDCALL Reserved4() override { return 0; }
  int32_t CORVANE_STDCALL Reserved5() override { return 0; }
  int32_t CORVANE_STDCALL Reserved6() override { return 0; }
  int32_t CORVANE_STDCALL Reserved7() override { return 0; }
  int32_t CORVANE_STDCALL OpenWindow(int32_t show, const wchar_t* title, const wchar_t* text,
                                     int32_t flags, corvane::HostProgress** result) override {
    opened = std::to_wstring(show) + L"|" + title + L"|" + text + L"|" + std::to_wstring(flags);
    window.AddRef();
    *result = &window;
    return 0;
  }
  std::atomic<int> refs{1};
  std::wstring opened;
  FakeProgress window;
};

class FakeProgressService final : public corvane::HostProgressService {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override {
    *out = SameGuid(iid, corvane::kProgressServiceId) ? this : nullptr;
    return *out != nullptr ? 0 : -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return 1; }
  uint32_t CORVANE_STDCALL Release() override { return 1; }
  int32_t CORVANE_STDCALL GetKeyValue(uint16_t* value) override {
    ++keyRequests;
    *value = 0x1234;
    return 0;
  }
  int32_t CORVANE_STDCALL Reserved4() override { return 0; }
  int32_t CORVANE_STDCALL CreateObject(uint32_t key, const Guid& iid, void** out) override {
    keys.push_back(key);
    factory.AddRef();
    *out = SameGuid(iid, corvane::kProgressFactoryId) ? &factory : nullptr;
    return 0;
  }
  int keyRequests = 0;
  std::vector<uint32_t> keys;
  FakeFactory factory;
};

}  // namespace

TEST(HostServices, ProgressWindowsAreMadeForTheProcessKey) {
  static FakeProgressService service;
  corvane::testing::RegisterHostkit(&service);
  corvane::HostProgress* window = corvane::OpenProgressWindow(L"Updating", L"Please wait");
  ASSERT_EQ(window, &service.factory.window);
  EXPECT_EQ(service.factory.opened, L"1|Updating|Please wait|0");
  EXPECT_EQ(service.factory.refs.load(), 1);  // the factory is let go again
  EXPECT_EQ(window->Release(), 0u);           // the caller owned one reference
  corvane::OpenProgressWindow(L"Again", L"");
  EXPECT_EQ(service.keyRequests, 1);  // the key value is asked for once
  EXPECT_EQ(service.keys, (std::vector<uint32_t>{0x12340010u, 0x12340010u}));
  corvane::ReleaseHostServices();
  corvane::testing::UnregisterHostkit();
}

TEST(HostServices, LayersBelowOpenProgressWindowsThatCloseWhenLetGo) {
  static FakeProgressService service;
  corvane::testing::RegisterHostkit(&service);
  corvane::ConnectProgressWindows();
  MVX::ProgressWindows* windows = MVX::HostProgressWindows();
  ASSERT_NE(windows, nullptr);
  {
    const std::unique_ptr<MVX::ProgressWindow> window = windows->Open(L"Updating", L"First");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(service.factory.opened, L"1|Updating|First|0");
    window->SetProgress(5);
    window->SetText(L"Second");  // the host takes the text with a percentage
    window->SetProgress(60);
    EXPECT_EQ(service.factory.window.refs.load(), 1);
  }
  EXPECT_EQ(service.factory.window.calls,
            (std::vector<std::wstring>{L"5|First", L"5|Second", L"60|Second", L"close"}));
  EXPECT_EQ(service.factory.window.refs.load(), 0);
  corvane::ReleaseHostServices();
  EXPECT_EQ(MVX::HostProgressWindows(), nullptr);
  corvane::testing::UnregisterHostkit();
}

namespace {

class FakeRegistration final : public corvane::HostRegistrationService {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override {
    *out = SameGuid(iid, corvane::kRegistrationServiceId) ? this : nullptr;
    return *out != nullptr ? 0 : -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return 1; }
  uint32_t CORVANE_STDCALL Release() override { return 1; }
  int32_t CORVANE_STDCALL Announce(const wchar_t* text) override {
    announced.emplace_back(text);
    return 0;
  }
  std::vector<std::wstring> announced;
};

}  // namespace

TEST(HostServices, OnlyPreReleaseVersionsAreAnnounced) {
  static FakeRegistration service;
  corvane::testing::RegisterHostkit(&service);
  EXPECT_FALSE(corvane::AnnounceIfPreRelease(L"Corvane Controller", L"2.0.8"));
  EXPECT_FALSE(corvane::AnnounceIfPreRelease(L"Corvane Controller", L"2.1 final dev"));
  EXPECT_TRUE(corvane::AnnounceIfPreRelease(L"Corvane Controller", L"2.1 beta"));
  EXPECT_TRUE(corvane::AnnounceIfPreRelease(L"Corvane Controller", L"2.1 Final"));
  EXPECT_EQ(service.announced, (std::vector<std::wstring>{L"Corvane Controller 2.1 beta",
                                                          L"Corvane Controller 2.1 Final"}));
  corvane::ReleaseHostServices();
  corvane::testing::UnregisterHostkit();
}
