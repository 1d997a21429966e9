// The module's way to the host framework: the log service found through the
// platform's mechanism (an exported entry point in the process on Linux, a
// registered class object under COM on Windows), obtained once.
#include <gtest/gtest.h>

#include "fake_host.h"
#include "hostkit_registration.h"
#include "host/host_services.h"
#include "support/module_log.h"

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
