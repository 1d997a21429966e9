// Device start-up (">dev/init") and the HCU zeroing exchange, through the
// rings as the facade drives them, on the scripted back-end.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "sampling_support.h"

namespace corvane::testing {
namespace {

const std::string kControllerOff =
    "The Corvane Controller is turned off. Please make sure the device is plugged in and turned "
    "on.";
const std::string kControllerNotFound =
    "The Corvane Controller cannot be found. Please make sure the device is plugged in and "
    "turned on.";
const std::string kWristCable = "The Corvane Controller wrist unit cable is disconnected.";

const std::string kHcuNotConnectedText =
    "The Height Correction Unit (HCU) is not connected. Connect the HCU to the Corvane Wrist "
    "unit and hold the reference and sensor at the same level, then press the Zero button "
    "again.\\n\\nSee the Help for more information.{help:second_topic}";
const std::string kZeroFailedNotConnected =
    "Zero failed. The Height Correction Unit (HCU) is not connected. Connect the HCU to the "
    "Corvane Wrist unit and hold the reference and sensor at the same level, then press the Zero "
    "button again.\\n\\nSee the Help for more information.{help:second_topic}";
const std::string kZeroFailedLevel =
    "Zero failed. Hold the Height Correction Unit (HCU) reference and sensor at the same level, "
    "then press the Zero button again.\\n\\nSee the Help for more information."
    "{help:second_topic}";
const std::string kZeroFailedBadCode = "Zero failed. Bad controller code returned.";

const std::vector<std::string> kDiscards = {
    "DMS_GetPressureSamples(discard)", "DMS_GetHeightAndStatusSamples(discard)",
    "DMS_GetBeatToBeatSamples(discard)", "DMS_GetMarkerSamples(discard)"};

struct InitCase {
  const char* name;
  int32_t connectResult;
  int32_t warning;
  std::string reply;
  std::string lastError;  // what "lasterror" answers afterwards, after the "="
};

// Test names in listings: the case's name.
void PrintTo(const InitCase& c, std::ostream* os) { *os << c.name; }

class DeviceInit : public ::testing::TestWithParam<InitCase> {};

TEST_P(DeviceInit, RepliesAndLeavesTheReasonForTheHost) {
  const InitCase& c = GetParam();
  EngineHarness h;
  h.Start([&](FakeBackEnd& f) {
    f.connectResult = c.connectResult;
    f.status.mWarning = c.warning;
    f.pressure.push_back({1, 120, 0});  // stale: from before the start-up
  });
  // An earlier error text: a good start-up must not hand it out afterwards.
  EXPECT_EQ(h.Ask(L"no prefix"), "^Invalid command");

  const size_t mark = CallCount(*h.fake);
  EXPECT_EQ(h.Ask(L">dev/init"), c.reply);
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=" + c.lastError);

  const std::vector<std::string> calls = CallsAfter(*h.fake, mark, /*keepPolling=*/true);
  const ptrdiff_t connect = IndexOf(calls, "DMS_Connect()");
  ASSERT_GT(connect, 0);
  EXPECT_EQ(calls[static_cast<size_t>(connect) - 1], "DMS_ClearError()") << "errors cleared first";
  const bool connected = c.connectResult == 0 || c.connectResult == 1;
  const bool flushed = IndexOf(calls, kDiscards[0]) >= 0;
  if (!connected) {
    // No status read, no flush: the start-up ends at the failed connect.
    EXPECT_NE(calls[static_cast<size_t>(connect) + 1], "DMS_GetStatus()");
    EXPECT_FALSE(flushed);
  } else {
    ASSERT_GT(calls.size(), static_cast<size_t>(connect) + 1);
    EXPECT_EQ(calls[static_cast<size_t>(connect) + 1], "DMS_GetStatus()") << "wrist unit check";
    if (c.reply == "<OK") {
      // The stale samples go: the four queues, in order, right after the check.
      const std::vector<std::string> next(calls.begin() + connect + 2,
                                          calls.begin() + connect + 6);
      EXPECT_EQ(next, kDiscards);
    } else {
      EXPECT_FALSE(flushed);
    }
  }
  std::lock_guard lock(h.fake->mutex);
  EXPECT_EQ(h.fake->pressure.empty(), c.reply == "<OK");
}

INSTANTIATE_TEST_SUITE_P(
    ConnectResults, DeviceInit,
    ::testing::Values(
        InitCase{"Connected0", 0, 0, "<OK", ""}, InitCase{"Online1", 1, 0, "<OK", ""},
        InitCase{"TurnedOff2", 2, 0, "<Fail", kControllerOff},
        InitCase{"NotFound4", 4, 0, "<Fail", kControllerNotFound},
        InitCase{"Unexpected3", 3, 0, "<Fail",
                 "Unexpected Corvane Controller connection error: 3"},
        InitCase{"UnexpectedNegative", -1, 0, "<Fail",
                 "Unexpected Corvane Controller connection error: -1"},
        InitCase{"Disconnected5", 5, 0, "<Fail",
                 "Unexpected Corvane Controller connection error: 5"},
        InitCase{"WristUnitCable", 0, kWarningWristUnitCable, "<Fail", kWristCable},
        InitCase{"OtherWarningIsNoObstacle", 0, 3, "<OK", ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DeviceInitAgain, EachInitConnectsAgainAndAFailureFollowsAGoodStart) {
  EngineHarness h;
  h.Start();
  EXPECT_EQ(h.Ask(L">dev/init"), "<OK");
  {
    std::lock_guard lock(h.fake->mutex);
    h.fake->connectResult = dmsError_NoDevice;
  }
  EXPECT_EQ(h.Ask(L"?dev/init"), "<Fail");  // "?" starts the device as ">" does
  EXPECT_EQ(Count(h.fake->Calls(), "DMS_Connect()"), 2u);
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=" + kControllerNotFound);
  {
    std::lock_guard lock(h.fake->mutex);
    h.fake->connectResult = dmsError_NoError;
  }
  EXPECT_EQ(h.Ask(L">dev/init"), "<OK");
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=");
}

// The HCU check's answers once the device has finished (not busy).
struct HcuCase {
  const char* name;
  int32_t hcuStatus;
  bool filled;                      // false: the back-end leaves the field alone
  std::vector<std::string> replies;  // to "dms_IsZeroed"
  std::string lastError;
};

// Test names in listings: the case's name.
void PrintTo(const HcuCase& c, std::ostream* os) { *os << c.name; }

class HcuZeroing : public ::testing::TestWithParam<HcuCase> {};

TEST_P(HcuZeroing, BusyWhileZeroingThenTheOutcome) {
  const HcuCase& c = GetParam();
  EngineHarness h;
  h.Start([](FakeBackEnd& f) {
    f.status.mHCUStatus = kHcuNotZeroed;
    f.status.mBusy = 1;
  });
  EXPECT_EQ(h.Ask(L">dev/init"), "<OK");
  EXPECT_EQ(h.Ask(L"?dev/dms_ZeroHCU"), "<OK");
  EXPECT_TRUE(h.fake->Called("DMS_ZeroHCU()"));
  EXPECT_EQ(h.Ask(L"?dev/dms_IsZeroed"), "=0");
  EXPECT_EQ(h.Ask(L"?dev/dms_IsZeroed"), "=0");
  {
    std::lock_guard lock(h.fake->mutex);
    h.fake->status.mBusy = 0;
    h.fake->status.mHCUStatus = c.hcuStatus;
    h.fake->fillHcuStatus = c.filled;
  }
  h.Send(L"?dev/dms_IsZeroed");
  std::vector<std::string> replies;
  for (size_t i = 0; i < c.replies.size(); ++i) replies.push_back(h.Read());
  EXPECT_EQ(replies, c.replies);
  EXPECT_EQ(h.Read(100), "<none>") << "no further line";
  // The text stays for the host's "lasterror" query, once.
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=" + c.lastError);
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=");
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, HcuZeroing,
    ::testing::Values(
        HcuCase{"Zeroed", kHcuZeroed, true, {"=1"}, ""},
        HcuCase{"NotConnected", kHcuNotConnected, true, {"^" + kHcuNotConnectedText},
                kHcuNotConnectedText},
        HcuCase{"StillNotZeroed", kHcuNotZeroed, true, {"^" + kZeroFailedLevel}, kZeroFailedLevel},
        HcuCase{"FieldLeftUnfilled", kHcuNotZeroed, false,
                {"^HCU not zeroed.", "^" + kZeroFailedNotConnected}, kZeroFailedNotConnected},
        HcuCase{"BadCode", 7, true, {"^" + kZeroFailedBadCode}, kZeroFailedBadCode},
        HcuCase{"NegativeBadCode", -2, true, {"^" + kZeroFailedBadCode}, kZeroFailedBadCode}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(HcuCheck, WithoutAZeroingReportsThePresentState) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.status.mHCUStatus = kHcuZeroed; });
  EXPECT_EQ(h.Ask(L"?dev/dms_IsZeroed"), "=1");
  EXPECT_FALSE(h.fake->Called("DMS_ZeroHCU()"));
  // A failed check does not stop the engine.
  {
    std::lock_guard lock(h.fake->mutex);
    h.fake->status.mHCUStatus = kHcuNotConnected;
  }
  EXPECT_EQ(h.Ask(L"?dev/dms_IsZeroed"), "^" + kHcuNotConnectedText);
  EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");
}

}  // namespace
}  // namespace corvane::testing
