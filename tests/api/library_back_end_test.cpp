// The vendor library back-end against the simulated Controller, loaded from a
// real "Devices" folder beside this test, and the back-end probe.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "api/finapres_dll_driver.h"
#include "fake_back_end.h"
#include "platform/fs_path.h"
#include "platform/time.h"
#include "support/debug_trace.h"
#include "support/path.h"

using corvane::BackEndFactory;
using corvane::FinapresAPI;
using corvane::FinapresAPI_I;
using corvane::LibraryLoadFailureText;

namespace {

// Points the simulated library at a settings file (read when it loads).
void UseSimSettings(const std::string& text) {
  // One file per test: CTest runs tests in parallel processes.
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::wstring file =
      (MVX::Path() / (L"sim_settings_" + std::wstring(test.begin(), test.end()) + L".txt")).Wide();
  std::ofstream(corvane::platform::ToFsPath(file)) << text;
  static std::string assignment;
  assignment = "CORVANE_SIM_SETTINGS=" + corvane::platform::ToFsPath(file).string();
  putenv(assignment.data());
  // A library already loaded looks at its settings file at most every 100 ms.
  corvane::platform::SleepMs(150);
}

}  // namespace

TEST(LibraryBackEnd, AMissingLibraryNamesThePathThatWasTried) {
  const std::wstring path = (MVX::Path() / L"NoSuchFolder" / L"DMSFinapresAPI_C.lib").Wide();
  FinapresAPI api(path);
  EXPECT_FALSE(api.LoadedOk());
  EXPECT_EQ(LibraryLoadFailureText(),
            MVX::MVXString(L"Corvane control DLL is missing or cannot be loaded: " + path));
}

TEST(LibraryBackEnd, ALibraryWithoutTheLastEntryPointIsFreedAgain) {
  FinapresAPI api((MVX::Path() / L"nomarker" / corvane::VendorLibraryFileName()).Wide());
  EXPECT_FALSE(api.LoadedOk());
  EXPECT_EQ(LibraryLoadFailureText(),
            MVX::MVXString(L"Corvane control DLL cannot be loaded (API mismatch perhaps?)."));
}

TEST(LibraryBackEnd, LoadsFromTheDevicesFolderAndForwards) {
  UseSimSettings("serial = CV42\ncuff_switch_result = 7\n");
  const auto api = corvane::CreateLibraryBackEnd();
  ASSERT_TRUE(api->LoadedOk()) << LibraryLoadFailureText().ToUtf8();
  EXPECT_EQ(api->GetStartupDelayMs(), 1000u);
  EXPECT_TRUE(api->NeedsBeatShift());
  EXPECT_EQ(api->GetContinueAfterError(nullptr), 0);
  EXPECT_EQ(api->SetContinueAfterError(1), 0);
  int32_t flag = 0;
  api->GetContinueAfterError(&flag);
  EXPECT_EQ(flag, 1);
  api->SetContinueAfterError(0);

  ASSERT_EQ(api->DMS_Connect(), 0);
  std::array<char, 256> text{};
  uint16_t length = 256;
  EXPECT_EQ(api->DMS_GetSerialNr(text.data(), &length), 0);
  EXPECT_STREQ(text.data(), "CV42");

  std::vector<std::string> trace;
  MVX::SetTraceSinkForTesting([&](const std::string& line) { trace.push_back(line); });
  EXPECT_EQ(api->DMS_SetCuffSwitching(corvane::kCuff2), 7);
  MVX::SetTraceSinkForTesting(nullptr);
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0].rfind("FinapresDLLDriver", 0), 0u);
  EXPECT_NE(trace[0].find("): Cuff set to -2\r\n"), std::string::npos);
  EXPECT_NE(trace[1].find("): !!! Error setting cuff: 7\r\n"), std::string::npos);
  api->DMS_Disconnect();
}

TEST(BackEndProbe, TakesTheLibraryWhenItConnectsAndDropsItWhenNot) {
  const std::array<BackEndFactory, 1> library = {corvane::CreateLibraryBackEnd};
  UseSimSettings("connect_result = 1\n");
  auto chosen = corvane::ProbeBackEnd(library);
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->DMS_GetStatusConnect(), 1);  // still connected
  chosen.reset();

  UseSimSettings("connect_result = 4\n");
  EXPECT_EQ(corvane::ProbeBackEnd(library), nullptr);
}

TEST(BackEndProbe, CandidatesInOrderWithRejectsDisconnectedAndDestroyed) {
  using corvane::testing::FakeBackEnd;
  bool firstDestroyed = false;
  bool unloadedDestroyed = false;
  FakeBackEnd* first = nullptr;
  const std::array<BackEndFactory, 4> candidates = {
      [] { return std::unique_ptr<FinapresAPI_I>(); },  // allocation failed
      [&] {
        auto f = std::make_unique<FakeBackEnd>();
        f->loadedOk = false;
        f->destroyed = &unloadedDestroyed;
        return std::unique_ptr<FinapresAPI_I>(std::move(f));
      },
      [&] {
        auto f = std::make_unique<FakeBackEnd>();
        f->connectResult = corvane::dmsError_NoDevice;
        f->destroyed = &firstDestroyed;
        first = f.get();
        return std::unique_ptr<FinapresAPI_I>(std::move(f));
      },
      [] {
        auto f = std::make_unique<FakeBackEnd>();
        f->connectResult = corvane::dmsError_Online;
        f->serial = "winner";
        return std::unique_ptr<FinapresAPI_I>(std::move(f));
      }};
  auto chosen = corvane::ProbeBackEnd(candidates);
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(static_cast<FakeBackEnd&>(*chosen).serial, "winner");
  EXPECT_TRUE(unloadedDestroyed);
  EXPECT_TRUE(firstDestroyed);
}
