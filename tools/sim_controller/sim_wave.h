// The finger pressure the simulated device measures: an arterial pressure wave
// beat by beat, with the slow drifts of a resting subject.
#pragma once

#include <cstdint>
#include <optional>

#include "api/dms_records.h"

namespace corvane::sim {

// Centre values the circulation drifts around, and the seed of its noise.
struct CirculationSettings {
  double heart_rate = 70.0;
  double systolic = 122.0;
  double diastolic = 75.0;
  uint64_t seed = 1;
};

// One 5 ms sample of the measure mode.
struct WaveSample {
  uint16_t pressure = 0;
  int16_t height = 0;
  std::optional<BeatToBeatSample> finished_beat;  // the beat that ended just before this sample
};

// Each beat has a fast systolic upstroke, a peak, a dicrotic notch and a
// diastolic decay towards the next beat's diastolic level. With PhysioCal on,
// a 2 s flat calibration segment without beats interrupts the wave every 30 to
// 70 beats. The same seed gives the same wave.
class ArterialWave {
 public:
  void Start(const CirculationSettings& settings);
  WaveSample Next(uint64_t stamp, bool physiocal_on);

  bool Calibrating() const { return segment_ == Segment::kCalibration; }
  int32_t BeatsUntilCalibration() const { return beats_until_calibration_; }
  int32_t Calibrations() const { return calibrations_; }

 private:
  enum class Segment { kNone, kBeat, kCalibration };

  void BeginBeat(uint64_t stamp);
  void BeginCalibration();
  BeatToBeatSample FinishBeat() const;
  double Seconds() const;
  double Noise();  // uniform in [-1, 1)

  CirculationSettings settings_;
  uint64_t random_state_ = 0;
  uint64_t sample_index_ = 0;
  Segment segment_ = Segment::kNone;
  uint32_t segment_samples_ = 0;
  uint32_t position_ = 0;
  uint64_t beat_stamp_ = 0;
  double start_level_ = 0.0;  // diastolic pressure the beat rises from
  double peak_level_ = 0.0;
  double end_level_ = 0.0;  // diastolic pressure the beat decays towards
  uint16_t beat_max_ = 0;
  uint16_t beat_min_ = 0;
  uint64_t beat_sum_ = 0;
  int32_t calibration_interval_ = 0;
  int32_t beats_until_calibration_ = 0;
  int32_t calibrations_ = 0;
};

}  // namespace corvane::sim
