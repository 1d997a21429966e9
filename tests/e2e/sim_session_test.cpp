// The simulated Controller's behaviours that the end-to-end sessions rely
// on: a device that is found and then gone at the host's own connect, and
// errors and warnings that reach a host which clears them before it reads
// the status, as the engine does at every pass.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "sim_controller.h"
#include "sim_settings.h"

namespace corvane::sim {
namespace {

constexpr uint64_t kStart = 133'000'000'000'000'000ULL;
constexpr uint64_t kTicksPerMs = 10'000;

class SimSession : public ::testing::Test {
 protected:
  void Advance(uint64_t ms) { now_ += ms * kTicksPerMs; }
  DMSStatus Status() {
    DMSStatus status{};
    EXPECT_EQ(sim_.GetStatus(&status), dmsError_NoError);
    return status;
  }
  std::vector<HeightAndStatusSample> TakeHeights() {
    std::vector<HeightAndStatusSample> records(1000);
    uint16_t count = static_cast<uint16_t>(records.size());
    EXPECT_EQ(sim_.GetHeightAndStatusSamples(&count, records.data()), dmsError_NoError);
    records.resize(count);
    return records;
  }

  uint64_t now_ = kStart;
  SimController sim_{[this] { return now_; }};
};

TEST(SimSettingsAfterFirst, ParsesAnyCodeAndStaysUnsetWhenLeftOut) {
  EXPECT_FALSE(ParseSimSettings("connect_result = 2\n").settings.connect_result_after_first);
  const ParsedSettings negative = ParseSimSettings("connect_result_after_first = -1\n");
  EXPECT_TRUE(negative.problems.empty());
  EXPECT_EQ(negative.settings.connect_result_after_first, -1);
  const ParsedSettings bad = ParseSimSettings("connect_result_after_first = off\nserial = X1\n");
  ASSERT_EQ(bad.problems.size(), 1u);
  EXPECT_FALSE(bad.settings.connect_result_after_first);
  EXPECT_EQ(bad.settings.serial, "X1");
}

struct ConnectCase {
  const char* name;
  std::string settings;
  std::vector<int32_t> results;  // connect, connect, connect, disconnect, connect, connect
};

// Test names in listings: the case's name.
void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.name; }

class SimConnects : public SimSession, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(SimConnects, FirstConnectOfASessionAndTheOnesAfterIt) {
  sim_.ApplySettings(ParseSimSettings(GetParam().settings).settings);
  std::vector<int32_t> results;
  for (int i = 0; i < 3; ++i) results.push_back(sim_.Connect());
  EXPECT_EQ(sim_.Disconnect(), dmsError_NoError);
  for (int i = 0; i < 2; ++i) results.push_back(sim_.Connect());
  EXPECT_EQ(results, GetParam().results);
  // A failed repeat leaves the first connection standing.
  EXPECT_EQ(sim_.GetStatusConnect(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SimConnects,
    ::testing::Values(ConnectCase{"Default", "", {0, 0, 0, 0, 0}},
                      ConnectCase{"Online", "connect_result = 1\n", {1, 1, 1, 1, 1}},
                      ConnectCase{"GoneAfterFirst", "connect_result_after_first = 2\n",
                                  {0, 2, 2, 0, 2}},
                      ConnectCase{"NegativeAfterFirst", "connect_result_after_first = -1\n",
                                  {0, -1, -1, 0, -1}},
                      ConnectCase{"OnlineAfterFirst",
                                  "connect_result_after_first = 1\n", {0, 1, 1, 0, 1}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SimSession, WithoutConnectingEveryConnectGivesTheFirstResult) {
  sim_.ApplySettings(ParseSimSettings("connect_result = 4\nconnect_result_after_first = 3\n").settings);
  EXPECT_EQ(sim_.Connect(), dmsError_NoDevice);
  EXPECT_EQ(sim_.Connect(), dmsError_CommChannelInUse);
  EXPECT_EQ(sim_.GetStatusConnect(), 0);
}

// What a host that clears before it reads (ClearError, then GetStatus) sees.
struct ClearCase {
  const char* name;
  std::string settings;
  bool readFirst;        // a status read showed the error before the clear
  int32_t afterClear;    // mError of the read after the clear
  int32_t afterSecond;   // ... after one more clear
};

// Test names in listings: the case's name.
void PrintTo(const ClearCase& c, std::ostream* os) { *os << c.name; }

class SimClearError : public SimSession, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(SimClearError, AnErrorIsClearedOnlyOnceAReadHasShownIt) {
  const ClearCase& c = GetParam();
  sim_.ApplySettings(ParseSimSettings("error_code = 17\nerror_at_ms = 500\n" + c.settings).settings);
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  ASSERT_EQ(sim_.SetMode(kModeMeasure), dmsError_NoError);
  Advance(600);
  if (c.readFirst) {
    EXPECT_EQ(Status().mError, dmsError_CuffCable);
  }
  EXPECT_EQ(sim_.ClearError(), dmsError_NoError);
  EXPECT_EQ(Status().mError, c.afterClear);
  EXPECT_EQ(sim_.ClearError(), dmsError_NoError);
  EXPECT_EQ(Status().mError, c.afterSecond);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SimClearError,
    ::testing::Values(ClearCase{"StoppingUnread", "", false, 17, 0},
                      ClearCase{"StoppingShown", "", true, 0, 0},
                      ClearCase{"StandingUnread", "error_stops = 0\n", false, 17, 17},
                      ClearCase{"StandingShown", "error_stops = 0\n", true, 17, 17}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SimSession, AStandingErrorIsClearedOnceMeasuringEnds) {
  sim_.ApplySettings(ParseSimSettings("error_code = 13\nerror_at_ms = 100\nerror_stops = 0\n").settings);
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  ASSERT_EQ(sim_.SetMode(kModeMeasure), dmsError_NoError);
  Advance(300);
  EXPECT_EQ(Status().mError, dmsError_FingerTooThin);
  const std::vector<HeightAndStatusSample> heights = TakeHeights();
  ASSERT_EQ(heights.size(), 60u);
  EXPECT_EQ(heights[19].mStatus.mError, 0);
  for (size_t i = 20; i < heights.size(); ++i) EXPECT_EQ(heights[i].mStatus.mError, 13) << i;
  ASSERT_EQ(sim_.SetMode(kModeIdle), dmsError_NoError);
  EXPECT_EQ(sim_.ClearError(), dmsError_NoError);
  EXPECT_EQ(Status().mError, dmsError_NoError);
}

TEST_F(SimSession, TheLastRecordBeforeAStoppingErrorCarriesIt) {
  sim_.ApplySettings(ParseSimSettings("error_code = 17\nerror_at_ms = 1000\n").settings);
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  ASSERT_EQ(sim_.SetMode(kModeMeasure), dmsError_NoError);
  Advance(980);
  EXPECT_EQ(TakeHeights().size(), 196u);
  Advance(40);
  // The error came and is cleared before the host reads anything but samples.
  const std::vector<HeightAndStatusSample> heights = TakeHeights();
  ASSERT_EQ(heights.size(), 4u);
  EXPECT_EQ(heights[2].mStatus.mError, 0);
  EXPECT_EQ(heights[3].mStatus.mError, dmsError_CuffCable);
  EXPECT_EQ(Status().mMode, kModeIdle);
}

TEST_F(SimSession, AWarningStaysUntilAReadHasShownIt) {
  sim_.ApplySettings(ParseSimSettings("warning_code = 7\ninject_from = connect\n").settings);
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  // The start-up's own order: clear, connect, read.
  EXPECT_EQ(sim_.ClearError(), dmsError_NoError);
  EXPECT_EQ(Status().mWarning, kWarningWristUnitCable);
  EXPECT_EQ(sim_.ClearError(), dmsError_NoError);
  EXPECT_EQ(Status().mWarning, 0);
}

}  // namespace
}  // namespace corvane::sim
