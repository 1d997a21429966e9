#include "sim_wave.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSampleMs = 5.0;
constexpr double kSamplesPerSecond = 200.0;
constexpr double kMsPerMinute = 60000.0;
constexpr long kMaxPressure = 300;

// Pulse shape, as shares of the beat length and of the pulse pressure.
constexpr double kUpstrokeMs = 110.0;
constexpr double kMaxUpstrokeShare = 0.2;  // fast beats keep room for a diastole
constexpr double kSystoleShare = 0.25;     // peak to dicrotic notch
constexpr double kSystolicDecayPower = 1.3;
constexpr double kNotchLevel = 0.55;
constexpr double kDicroticBump = 0.15;  // steeper than the decay, so the notch shows
constexpr double kDicroticMs = 110.0;
constexpr double kRunoffRate = 1.5;

// Slow drifts (amplitude, period in seconds) plus beat-to-beat noise.
constexpr double kRateDrift = 7.0;
constexpr double kRateDriftPeriod = 97.0;
constexpr double kBreathingRate = 2.5;  // respiratory sinus arrhythmia
constexpr double kBreathingPeriod = 4.5;
constexpr double kRateNoise = 1.0;
constexpr double kMinRate = 30.0;
constexpr double kMaxRate = 200.0;
constexpr double kSystolicDrift = 9.0;
constexpr double kDiastolicDrift = 6.0;
constexpr double kPressureDriftPeriod = 71.0;
constexpr double kDiastolicLag = 0.3;  // radians behind the systolic drift
constexpr double kSystolicNoise = 1.5;
constexpr double kDiastolicNoise = 1.0;
constexpr double kHeightAmplitude = 4.0;
constexpr double kHeightPeriod = 45.0;

constexpr int32_t kFirstCalibrationBeats = 30;
constexpr int32_t kCalibrationGrowth = 10;
constexpr int32_t kLongestCalibrationBeats = 70;
constexpr uint32_t kCalibrationSamples = 400;  // 2 s

double UpstrokeMs(double beat_ms) { return std::min(kUpstrokeMs, kMaxUpstrokeShare * beat_ms); }

// Share of the pulse pressure reached `ms` into a beat lasting `beat_ms`:
// 0 at the start, 1 at the peak, falling back to 0 at the end.
double PulseShape(double ms, double beat_ms) {
  const double upstroke = UpstrokeMs(beat_ms);
  const double notch = upstroke + kSystoleShare * beat_ms;
  if (ms < upstroke) return 0.5 - 0.5 * std::cos(kPi * ms / upstroke);
  if (ms < notch) {
    return 1.0 - (1.0 - kNotchLevel) * std::pow((ms - upstroke) / (notch - upstroke), kSystolicDecayPower);
  }
  const double runoff_end = std::exp(-kRunoffRate);
  const double x = (ms - notch) / (beat_ms - notch);
  double share = kNotchLevel * (std::exp(-kRunoffRate * x) - runoff_end) / (1.0 - runoff_end);
  if (ms - notch < kDicroticMs) share += kDicroticBump * std::sin(kPi * (ms - notch) / kDicroticMs);
  return share;
}

}  // namespace

void ArterialWave::Start(const CirculationSettings& settings) {
  *this = ArterialWave{};
  settings_ = settings;
  random_state_ = settings.seed;
  end_level_ = settings.diastolic;
  calibration_interval_ = kFirstCalibrationBeats;
  beats_until_calibration_ = kFirstCalibrationBeats;
}

WaveSample ArterialWave::Next(uint64_t stamp, bool physiocal_on) {
  WaveSample sample;
  if (position_ >= segment_samples_) {
    const bool beat_ended = segment_ == Segment::kBeat;
    if (beat_ended) {
      sample.finished_beat = FinishBeat();
      if (physiocal_on) --beats_until_calibration_;
    }
    if (beat_ended && physiocal_on && beats_until_calibration_ <= 0) {
      BeginCalibration();
    } else {
      BeginBeat(stamp);
    }
  }

  double pressure = end_level_;  // a calibration holds the level the next beat starts from
  if (segment_ == Segment::kBeat) {
    const double beat_ms = segment_samples_ * kSampleMs;
    const double ms = position_ * kSampleMs;
    const double base = ms < UpstrokeMs(beat_ms) ? start_level_ : end_level_;
    pressure = base + (peak_level_ - base) * PulseShape(ms, beat_ms);
  }
  sample.pressure = static_cast<uint16_t>(std::clamp(std::lround(pressure), 0L, kMaxPressure));
  if (segment_ == Segment::kBeat) {
    beat_max_ = std::max(beat_max_, sample.pressure);
    beat_min_ = std::min(beat_min_, sample.pressure);
    beat_sum_ += sample.pressure;
  }
  sample.height =
      static_cast<int16_t>(std::lround(kHeightAmplitude * std::sin(2.0 * kPi * Seconds() / kHeightPeriod)));
  ++position_;
  ++sample_index_;
  return sample;
}

void ArterialWave::BeginBeat(uint64_t stamp) {
  const double seconds = Seconds();
  const double rate =
      std::clamp(settings_.heart_rate + kRateDrift * std::sin(2.0 * kPi * seconds / kRateDriftPeriod) +
                     kBreathingRate * std::sin(2.0 * kPi * seconds / kBreathingPeriod) + kRateNoise * Noise(),
                 kMinRate, kMaxRate);
  segment_samples_ = static_cast<uint32_t>(std::lround(kMsPerMinute / rate / kSampleMs));
  const double drift_phase = 2.0 * kPi * seconds / kPressureDriftPeriod;
  start_level_ = end_level_;
  peak_level_ = settings_.systolic + kSystolicDrift * std::sin(drift_phase) + kSystolicNoise * Noise();
  end_level_ = settings_.diastolic + kDiastolicDrift * std::sin(drift_phase - kDiastolicLag) +
               kDiastolicNoise * Noise();
  segment_ = Segment::kBeat;
  position_ = 0;
  beat_stamp_ = stamp;
  beat_max_ = 0;
  beat_min_ = std::numeric_limits<uint16_t>::max();
  beat_sum_ = 0;
}

void ArterialWave::BeginCalibration() {
  segment_ = Segment::kCalibration;
  segment_samples_ = kCalibrationSamples;
  position_ = 0;
  ++calibrations_;
  // The device trusts the finger more as it goes, so calibrations grow rarer.
  calibration_interval_ = std::min(calibration_interval_ + kCalibrationGrowth, kLongestCalibrationBeats);
  beats_until_calibration_ = calibration_interval_;
}

BeatToBeatSample ArterialWave::FinishBeat() const {
  const uint32_t ibi_ms = position_ * static_cast<uint32_t>(kSampleMs);
  BeatToBeatSample beat{};
  beat.mTime = beat_stamp_;
  beat.mSystolic = beat_max_;
  beat.mDiastolic = beat_min_;
  beat.mMean = static_cast<uint16_t>((beat_sum_ + position_ / 2) / position_);
  beat.mHeartRate = static_cast<uint16_t>((static_cast<uint32_t>(kMsPerMinute) + ibi_ms / 2) / ibi_ms);
  beat.mInterbeatInterval = static_cast<uint16_t>(ibi_ms);
  return beat;
}

double ArterialWave::Seconds() const { return static_cast<double>(sample_index_) / kSamplesPerSecond; }

double ArterialWave::Noise() {
  // splitmix64: the same numbers on every compiler, unlike std distributions.
  random_state_ += 0x9E3779B97F4A7C15ULL;
  uint64_t z = random_state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  constexpr double kUnit = 1.0 / 9007199254740992.0;  // 2^-53
  return static_cast<double>(z >> 11) * kUnit * 2.0 - 1.0;
}

}  // namespace corvane::sim
