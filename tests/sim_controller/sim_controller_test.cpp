#include "sim_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace corvane::sim {
namespace {

constexpr uint64_t kStart = 133'000'000'000'000'000ULL;  // a moment in 2022
constexpr uint64_t kTicksPerMs = 10'000;

class SimControllerTest : public ::testing::Test {
 protected:
  void Advance(uint64_t ms) { now_ += ms * kTicksPerMs; }
  uint64_t At(uint64_t ms) const { return kStart + ms * kTicksPerMs; }

  void StartMeasuring() {
    ASSERT_EQ(sim_.Connect(), dmsError_NoError);
    ASSERT_EQ(sim_.SetMode(kModeMeasure), dmsError_NoError);
  }

  DMSStatus Status() {
    DMSStatus status{};
    EXPECT_EQ(sim_.GetStatus(&status), dmsError_NoError);
    return status;
  }

  // One fetch of at most `capacity` records.
  template <typename Record>
  std::vector<Record> TakeSome(int32_t (SimController::*fetch)(uint16_t*, Record*), uint16_t capacity) {
    std::vector<Record> records(capacity);
    uint16_t count = capacity;
    EXPECT_EQ((sim_.*fetch)(&count, records.data()), dmsError_NoError);
    records.resize(count);
    return records;
  }

  template <typename Record>
  void TakeAll(int32_t (SimController::*fetch)(uint16_t*, Record*), std::vector<Record>& into) {
    for (;;) {
      const std::vector<Record> chunk = TakeSome(fetch, 500);
      into.insert(into.end(), chunk.begin(), chunk.end());
      if (chunk.size() < 500) return;
    }
  }

  // Measures for `seconds`, fetching once a second as a host would.
  void Record(int seconds, std::vector<PressureSample>& pressure, std::vector<BeatToBeatSample>& beats,
              std::vector<HeightAndStatusSample>* heights = nullptr) {
    for (int second = 0; second < seconds; ++second) {
      Advance(1000);
      TakeAll(&SimController::GetPressureSamples, pressure);
      TakeAll(&SimController::GetBeatToBeatSamples, beats);
      if (heights != nullptr) TakeAll(&SimController::GetHeightAndStatusSamples, *heights);
    }
  }

  uint64_t now_ = kStart;
  SimController sim_{[this] { return now_; }};
};

TEST_F(SimControllerTest, FetchHandsOutQueuedRecordsOldestFirstUpToCapacity) {
  StartMeasuring();
  Advance(200);
  EXPECT_EQ(sim_.GetPressureNbrSamples(), 40);
  EXPECT_EQ(sim_.GetHeightAndStatusNbrSamples(), 40);

  const auto first = TakeSome(&SimController::GetPressureSamples, 32);
  ASSERT_EQ(first.size(), 32u);
  EXPECT_EQ(uint64_t{first.front().mTime}, kStart);
  const auto rest = TakeSome(&SimController::GetPressureSamples, 32);
  ASSERT_EQ(rest.size(), 8u);
  EXPECT_EQ(uint64_t{rest.front().mTime}, kStart + 32 * kSamplePeriodTicks);
  EXPECT_TRUE(TakeSome(&SimController::GetPressureSamples, 32).empty());

  Advance(50);
  std::array<PressureSample, 4> buffer{};
  EXPECT_EQ(sim_.GetPressureSamples(nullptr, buffer.data()), dmsError_NullPointer);
  EXPECT_EQ(sim_.GetPressureNbrSamples(), 10) << "a refused fetch must not consume records";

  // Null records discard that kind only; the count is not looked at.
  EXPECT_EQ(sim_.GetPressureSamples(nullptr, nullptr), dmsError_NoError);
  EXPECT_EQ(sim_.GetPressureNbrSamples(), 0);
  EXPECT_EQ(sim_.GetHeightAndStatusNbrSamples(), 50);
  uint16_t untouched = 7;
  EXPECT_EQ(sim_.GetHeightAndStatusSamples(&untouched, nullptr), dmsError_NoError);
  EXPECT_EQ(untouched, 7);
  EXPECT_EQ(sim_.GetHeightAndStatusNbrSamples(), 0);

  Advance(100);
  EXPECT_EQ(sim_.Disconnect(), dmsError_NoError);
  EXPECT_TRUE(TakeSome(&SimController::GetPressureSamples, 32).empty());
  EXPECT_EQ(sim_.GetPressureNbrSamples(), 0);
}

TEST_F(SimControllerTest, SampleGridHasNoGapsWhenFetchedLateInOddChunks) {
  StartMeasuring();
  std::vector<PressureSample> pressure;
  std::vector<HeightAndStatusSample> heights;
  const uint64_t steps_ms[] = {7, 13, 1, 0, 29, 4};
  for (int i = 0; i < 600; ++i) {
    Advance(steps_ms[i % 6]);
    const auto p = TakeSome(&SimController::GetPressureSamples, static_cast<uint16_t>(3 + i % 11));
    pressure.insert(pressure.end(), p.begin(), p.end());
    const auto h = TakeSome(&SimController::GetHeightAndStatusSamples, 17);
    heights.insert(heights.end(), h.begin(), h.end());
  }
  TakeAll(&SimController::GetPressureSamples, pressure);
  TakeAll(&SimController::GetHeightAndStatusSamples, heights);

  ASSERT_EQ(pressure.size(), 5400u / 5);
  ASSERT_EQ(heights.size(), pressure.size());
  for (size_t i = 0; i < pressure.size(); ++i) {
    ASSERT_EQ(uint64_t{pressure[i].mTime}, kStart + i * kSamplePeriodTicks) << "sample " << i;
    ASSERT_EQ(uint64_t{heights[i].mTime}, uint64_t{pressure[i].mTime}) << "sample " << i;
    ASSERT_EQ(heights[i].mStatus.mMode, kModeMeasure);
  }
}

TEST_F(SimControllerTest, BeatRecordsDescribeTheWaveBetweenTheirStamps) {
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  ASSERT_EQ(sim_.SetPhysioCal(0), dmsError_NoError);  // no calibration gaps between beats
  ASSERT_EQ(sim_.SetMode(kModeMeasure), dmsError_NoError);
  std::vector<PressureSample> pressure;
  std::vector<BeatToBeatSample> beats;
  Record(40, pressure, beats);

  ASSERT_GE(beats.size(), 40u);
  EXPECT_EQ(uint64_t{beats.front().mTime}, kStart);
  for (size_t i = 0; i + 1 < beats.size(); ++i) {
    const BeatToBeatSample& beat = beats[i];
    SCOPED_TRACE(i);
    ASSERT_EQ(beats[i + 1].mTime - uint64_t{beat.mTime}, beat.mInterbeatInterval * kTicksPerMs);
    const auto first = static_cast<size_t>((beat.mTime - kStart) / kSamplePeriodTicks);
    const size_t samples = beat.mInterbeatInterval / 5u;
    uint16_t max = 0;
    uint16_t min = std::numeric_limits<uint16_t>::max();
    size_t peak_at = 0;
    double sum = 0.0;
    for (size_t k = 0; k < samples; ++k) {
      const uint16_t p = pressure[first + k].mPressure;
      if (p > max) peak_at = k;
      max = std::max(max, p);
      min = std::min(min, p);
      sum += p;
    }
    EXPECT_EQ(beat.mSystolic, max);
    EXPECT_EQ(beat.mDiastolic, min);
    EXPECT_EQ(beat.mMean, std::lround(sum / static_cast<double>(samples)));
    EXPECT_LE(std::abs(beat.mHeartRate * beat.mInterbeatInterval - 60000), beat.mInterbeatInterval / 2);

    EXPECT_GE(beat.mHeartRate, 55);
    EXPECT_LE(beat.mHeartRate, 90);
    EXPECT_GE(beat.mSystolic, 105);
    EXPECT_LE(beat.mSystolic, 140);
    EXPECT_GE(beat.mDiastolic, 60);
    EXPECT_LE(beat.mDiastolic, 90);
    EXPECT_LT(peak_at, samples / 4) << "upstroke should be fast";
    // The dicrotic notch: the decay from the peak rises again once before diastole.
    bool rebound = false;
    for (size_t k = first + peak_at + 1; k + 1 < first + samples; ++k) {
      rebound = rebound || pressure[k + 1].mPressure > pressure[k].mPressure;
    }
    EXPECT_TRUE(rebound);
  }
}

TEST_F(SimControllerTest, PhysioCalInterruptsBeatsWithFlatSegments) {
  StartMeasuring();
  std::vector<PressureSample> pressure;
  std::vector<BeatToBeatSample> beats;
  std::vector<HeightAndStatusSample> heights;
  Record(120, pressure, beats, &heights);

  std::vector<size_t> gaps_after;
  for (size_t i = 0; i + 1 < beats.size(); ++i) {
    const uint64_t beat_end = beats[i].mTime + beats[i].mInterbeatInterval * kTicksPerMs;
    if (beats[i + 1].mTime == beat_end) continue;
    gaps_after.push_back(i);
    const uint64_t flat_ms = (beats[i + 1].mTime - beat_end) / kTicksPerMs;
    EXPECT_GE(flat_ms, 1900u);
    EXPECT_LE(flat_ms, 2100u);
    const auto from = static_cast<size_t>((beat_end - kStart) / kSamplePeriodTicks);
    for (size_t k = from; k < from + flat_ms / 5; ++k) {
      ASSERT_EQ(pressure[k].mPressure, pressure[from].mPressure) << "calibration must be flat";
      ASSERT_EQ(heights[k].mStatus.mChannel8, heights[from].mStatus.mChannel8);
    }
    EXPECT_NE(heights[from].mStatus.mChannel8, heights[from - 1].mStatus.mChannel8)
        << "the cuff state tells a calibration apart";
  }
  ASSERT_GE(gaps_after.size(), 2u);
  EXPECT_EQ(gaps_after[0], 29u) << "first calibration after 30 beats";
  EXPECT_GT(gaps_after[1] - gaps_after[0], 30u) << "calibrations grow rarer";
}

TEST_F(SimControllerTest, SameSeedGivesTheSameWave) {
  auto record = [this](uint64_t seed) {
    SimController sim([this] { return now_; });
    SimSettings settings;
    settings.seed = seed;
    sim.ApplySettings(settings);
    sim.Connect();
    sim.SetMode(kModeMeasure);
    now_ += 5000 * kTicksPerMs;
    std::vector<PressureSample> samples(1000);
    uint16_t count = 1000;
    sim.GetPressureSamples(&count, samples.data());
    now_ = kStart;
    std::vector<uint16_t> values;
    for (const PressureSample& sample : samples) values.push_back(sample.mPressure);
    return values;
  };
  EXPECT_EQ(record(7), record(7));
  EXPECT_NE(record(7), record(8));
}

TEST_F(SimControllerTest, TestModesProduceTheirPressures) {
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  ASSERT_EQ(sim_.SetTestSteadyPressure(80), dmsError_NoError);
  ASSERT_EQ(sim_.SetMode(kModeTestSteady), dmsError_NoError);
  Advance(100);
  std::vector<PressureSample> pressure;
  TakeAll(&SimController::GetPressureSamples, pressure);
  ASSERT_EQ(pressure.size(), 20u);
  for (const PressureSample& sample : pressure) EXPECT_EQ(sample.mPressure, 80);

  // Square wave: offset 60 +- 50 at 2 Hz gives 250 ms half periods.
  ASSERT_EQ(sim_.SetTestSquarePressure(60), dmsError_NoError);
  ASSERT_EQ(sim_.SetTestSquareFrequency(2.0), dmsError_NoError);
  ASSERT_EQ(sim_.SetMode(kModeTestSquare), dmsError_NoError);
  Advance(2000);
  std::vector<PressureSample> square;
  TakeAll(&SimController::GetPressureSamples, square);
  ASSERT_EQ(square.size(), 400u);
  EXPECT_EQ(uint64_t{square.front().mTime}, pressure.back().mTime + kSamplePeriodTicks) << "mode switch keeps the grid";
  for (size_t i = 0; i < square.size(); ++i) {
    EXPECT_EQ(square[i].mPressure, (i / 50) % 2 == 0 ? 110 : 10) << "sample " << i;
  }

  // Simulated pressure: 5 s square wave in finger and height pressure together.
  ASSERT_EQ(sim_.SetMode(kModeTestSimulate), dmsError_NoError);
  EXPECT_EQ(Status().mChannel8, 0) << "no cuff inflation";
  Advance(10000);
  std::vector<HeightAndStatusSample> heights;
  std::vector<PressureSample> simulated;
  TakeAll(&SimController::GetPressureSamples, simulated);
  TakeAll(&SimController::GetHeightAndStatusSamples, heights);
  ASSERT_EQ(simulated.size(), 2000u);
  ASSERT_EQ(heights.size(), 2420u);
  for (size_t i = 0; i < simulated.size(); ++i) {
    const bool high = (i / 500) % 2 == 0;
    EXPECT_EQ(simulated[i].mPressure, high ? 120 : 60) << "sample " << i;
    EXPECT_EQ(heights[420 + i].mHeight, high ? 10 : -10) << "sample " << i;
  }
  EXPECT_EQ(sim_.GetBeatToBeatNbrSamples(), 0) << "test modes have no beats";
}

TEST_F(SimControllerTest, CallsCheckConnectionArgumentsAndRanges) {
  DMSStatus status{};
  EXPECT_EQ(sim_.GetStatusConnect(), 0);
  EXPECT_EQ(sim_.GetStatus(&status), dmsError_Disconnected);
  EXPECT_EQ(sim_.SetMode(kModeMeasure), dmsError_Disconnected);
  EXPECT_EQ(sim_.ZeroHCU(), dmsError_Disconnected);

  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  EXPECT_EQ(sim_.GetStatusConnect(), 1);
  for (int32_t mode : {int32_t{0}, int32_t{kModeDeviceOnly1}, int32_t{kModeDeviceOnly7}, int32_t{8}}) {
    EXPECT_EQ(sim_.SetMode(mode), dmsError_OutOfRange) << mode;
  }
  EXPECT_EQ(sim_.SetPhysioCal(2), dmsError_OutOfRange);
  EXPECT_EQ(sim_.SetCuffSwitching(0), dmsError_OutOfRange);
  EXPECT_EQ(sim_.SetTestSquareFrequency(0.0), dmsError_OutOfRange);
  EXPECT_EQ(sim_.SetTestSquareFrequency(std::nan("")), dmsError_OutOfRange);
  EXPECT_EQ(sim_.GetStatus(nullptr), dmsError_NullPointer);
  EXPECT_EQ(sim_.GetTestSquareFrequency(nullptr), dmsError_NullPointer);
  EXPECT_EQ(sim_.GetPatientData(nullptr), dmsError_NullPointer);

  int32_t cuff = 0;
  EXPECT_EQ(sim_.SetCuffSwitching(kCuff2), dmsError_NoError);
  EXPECT_EQ(sim_.GetCuffSwitching(&cuff), dmsError_NoError);
  EXPECT_EQ(cuff, kCuff2);

  std::array<uint8_t, 20> internal;
  internal.fill(0xAA);
  EXPECT_EQ(sim_.GetInternalStatus(internal.data()), dmsError_NoError);
  EXPECT_EQ(internal[15], 0);
  EXPECT_EQ(internal[16], 0xAA) << "writes no more than the assumed 16 bytes";
}

TEST_F(SimControllerTest, SettingsChangeConnectAndCuffSwitchingResults) {
  SimSettings settings;
  settings.connect_result = dmsError_NoDevice;
  settings.cuff_switch_result = dmsError_NotAllowed;
  sim_.ApplySettings(settings);
  EXPECT_EQ(sim_.Connect(), dmsError_NoDevice);
  EXPECT_EQ(sim_.GetStatusConnect(), 0);

  settings.connect_result = dmsError_Online;
  sim_.ApplySettings(settings);
  EXPECT_EQ(sim_.Connect(), dmsError_Online);
  EXPECT_EQ(sim_.GetStatusConnect(), 1);

  int32_t cuff = 0;
  EXPECT_EQ(sim_.SetCuffSwitching(kCuff2), dmsError_NotAllowed);
  EXPECT_EQ(sim_.SetCuffSwitching(5), dmsError_OutOfRange);
  EXPECT_EQ(sim_.GetCuffSwitching(&cuff), dmsError_NoError);
  EXPECT_EQ(cuff, kCuff1);
}

TEST_F(SimControllerTest, HcuZeroingIsBusyThenZeroedUnlessItFails) {
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  EXPECT_EQ(Status().mHCUStatus, kHcuNotZeroed);
  ASSERT_EQ(sim_.ZeroHCU(), dmsError_NoError);
  Advance(2999);
  EXPECT_NE(Status().mBusy, 0);
  EXPECT_EQ(Status().mHCUStatus, kHcuNotZeroed);
  Advance(1);
  EXPECT_EQ(Status().mBusy, 0);
  EXPECT_EQ(Status().mHCUStatus, kHcuZeroed);

  SimSettings settings;
  settings.zero_fails = true;
  settings.zero_ms = 500;
  sim_.ApplySettings(settings);
  ASSERT_EQ(sim_.ZeroHCU(), dmsError_NoError);
  Advance(500);
  EXPECT_EQ(Status().mBusy, 0);
  EXPECT_EQ(Status().mHCUStatus, kHcuNotZeroed);

  settings.hcu_status = kHcuNotConnected;
  sim_.ApplySettings(settings);
  EXPECT_EQ(sim_.ZeroHCU(), dmsError_NotAllowed);
}

TEST_F(SimControllerTest, SlowStopStaysBusyInModeSevenWithoutSamples) {
  SimSettings settings;
  settings.stop_delay_ms = 400;
  sim_.ApplySettings(settings);
  StartMeasuring();
  Advance(100);
  ASSERT_EQ(sim_.SetMode(kModeIdle), dmsError_NoError);
  Advance(399);
  EXPECT_EQ(Status().mMode, kModeDeviceOnly7);
  EXPECT_NE(Status().mBusy, 0);
  EXPECT_EQ(sim_.GetPressureNbrSamples(), 20) << "production ends at the stop request";
  Advance(1);
  EXPECT_EQ(Status().mMode, kModeIdle);
  EXPECT_EQ(Status().mBusy, 0);
}

TEST_F(SimControllerTest, TextCallsTruncateToCapacity) {
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  std::array<char, 32> text{};
  uint16_t length = 4;
  EXPECT_EQ(sim_.GetSerialNr(text.data(), &length), dmsError_NoError);
  EXPECT_STREQ(text.data(), "CV1");
  EXPECT_EQ(length, 3);

  SimSettings settings;
  settings.version = "Sim 2.5.1";
  sim_.ApplySettings(settings);
  length = static_cast<uint16_t>(text.size());
  EXPECT_EQ(sim_.GetVersion(0, text.data(), &length), dmsError_NoError);
  EXPECT_STREQ(text.data(), "Sim 2.5.1");
  EXPECT_EQ(length, 9);

  EXPECT_EQ(sim_.GetVersion(1, text.data(), &length), dmsError_OutOfRange);
  EXPECT_EQ(sim_.GetSerialNr(nullptr, &length), dmsError_NullPointer);
  EXPECT_EQ(sim_.GetSerialNr(text.data(), nullptr), dmsError_NullPointer);
}

TEST_F(SimControllerTest, InjectedErrorAppearsAtItsMomentAndStopsMeasuring) {
  SimSettings settings;
  settings.error_code = dmsError_FingerTooThin;
  settings.error_at_ms = 1000;
  settings.warning_code = kWarningWristUnitCable;
  settings.warning_at_ms = 500;
  sim_.ApplySettings(settings);
  StartMeasuring();
  Advance(999);
  EXPECT_EQ(Status().mError, dmsError_NoError);
  EXPECT_EQ(Status().mWarning, kWarningWristUnitCable);
  Advance(1);
  EXPECT_EQ(Status().mError, dmsError_FingerTooThin);
  EXPECT_EQ(Status().mMode, kModeIdle);

  std::vector<HeightAndStatusSample> heights;
  TakeAll(&SimController::GetHeightAndStatusSamples, heights);
  ASSERT_EQ(heights.size(), 200u);
  EXPECT_EQ(heights[99].mStatus.mWarning, 0);
  EXPECT_EQ(heights[100].mStatus.mWarning, kWarningWristUnitCable);

  ASSERT_EQ(sim_.ClearError(), dmsError_NoError);
  EXPECT_EQ(Status().mError, dmsError_NoError);
  EXPECT_EQ(Status().mWarning, 0);
  ASSERT_EQ(sim_.SetMode(kModeMeasure), dmsError_NoError);
  Advance(1000);
  EXPECT_EQ(Status().mError, dmsError_FingerTooThin) << "each measurement meets the error again";
}

TEST_F(SimControllerTest, ErrorTimedFromConnectCanLeaveMeasuringOn) {
  SimSettings settings;
  settings.error_code = dmsError_CuffCable;
  settings.error_at_ms = 300;
  settings.inject_from = InjectFrom::kConnect;
  settings.error_stops = false;
  sim_.ApplySettings(settings);
  ASSERT_EQ(sim_.Connect(), dmsError_NoError);
  Advance(100);
  ASSERT_EQ(sim_.SetMode(kModeMeasure), dmsError_NoError);
  Advance(400);
  std::vector<HeightAndStatusSample> heights;
  TakeAll(&SimController::GetHeightAndStatusSamples, heights);
  ASSERT_EQ(heights.size(), 80u);
  EXPECT_EQ(heights[39].mStatus.mError, dmsError_NoError);
  EXPECT_EQ(uint64_t{heights[40].mTime}, At(300));
  EXPECT_EQ(heights[40].mStatus.mError, dmsError_CuffCable);
  EXPECT_EQ(Status().mMode, kModeMeasure);
}

TEST_F(SimControllerTest, QueuesKeepTheLastMinuteEvenAfterLongSilence) {
  StartMeasuring();
  Advance(90'000);
  EXPECT_EQ(sim_.GetPressureNbrSamples(), 12000);
  EXPECT_LE(sim_.GetBeatToBeatNbrSamples(), 200);
  std::vector<PressureSample> pressure;
  TakeAll(&SimController::GetPressureSamples, pressure);
  EXPECT_EQ(uint64_t{pressure.front().mTime}, At(30'000));

  Advance(3'600'000);
  pressure.clear();
  TakeAll(&SimController::GetPressureSamples, pressure);
  ASSERT_EQ(pressure.size(), 12000u);
  EXPECT_EQ(uint64_t{pressure.back().mTime}, now_ - kSamplePeriodTicks);
  for (size_t i = 1; i < pressure.size(); ++i) {
    ASSERT_EQ(pressure[i].mTime - uint64_t{pressure[i - 1].mTime}, kSamplePeriodTicks);
  }
}

TEST_F(SimControllerTest, MarkersOnlyWhenConfigured) {
  StartMeasuring();
  Advance(3500);
  EXPECT_EQ(sim_.GetMarkerNbrSamples(), 0);
  SimSettings settings;
  settings.marker_interval_s = 1;
  sim_.ApplySettings(settings);
  Advance(3000);
  EXPECT_EQ(sim_.GetMarkerNbrSamples(), 3);
}

}  // namespace
}  // namespace corvane::sim
