#include "vz_wave.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane::vzsim {
namespace {

// Normalised arterial pulse over one beat, 0 at the foot and 1 at the peak:
// a quick upstroke, a systolic decay, the dicrotic notch and a diastolic run-off.
double PulseShape(double x) {
  constexpr double kPi = std::numbers::pi;
  if (x < 0.12) return 0.5 - 0.5 * std::cos(kPi * x / 0.12);
  if (x < 0.34) return 1.0 - 0.42 * (0.5 - 0.5 * std::cos(kPi * (x - 0.12) / 0.22));
  if (x < 0.40) return 0.58 - 0.05 * std::sin(kPi * (x - 0.34) / 0.06);
  if (x < 0.46) return 0.58 + 0.04 * std::sin(kPi * (x - 0.40) / 0.06);
  const double k = 3.0;
  const double t = (x - 0.46) / 0.54;
  return 0.58 * (std::exp(-k * t) - std::exp(-k)) / (1.0 - std::exp(-k));
}

uint16_t Tenths(double mmhg) {
  return static_cast<uint16_t>(std::clamp(std::lround(mmhg * 10.0), 0L, 65535L));
}

}  // namespace

Wave::Wave(const WaveParams& params) : params_(params), rng_(params.seed) { StartBeat(); }

void Wave::StartBeat() {
  std::normal_distribution<double> noise(0.0, 1.0);
  // A slow random walk around the configured centres, with beat-to-beat scatter.
  drift_ = std::clamp(drift_ * 0.95 + noise(rng_) * 0.6, -6.0, 6.0);
  const double rate =
      std::clamp(params_.heart_rate * (1.0 + 0.02 * noise(rng_)) + drift_ * 0.3, 25.0, 220.0);
  beat_samples_ = std::max(20, static_cast<int>(std::lround(60000.0 / rate / kSampleMs)));
  sys_ = params_.systolic + drift_ + noise(rng_) * 1.5;
  dia_ = params_.diastolic + drift_ * 0.6 + noise(rng_) * 1.0;
  if (sys_ < dia_ + 5.0) sys_ = dia_ + 5.0;
  position_ = 0;
  onset_ = index_;
}

Sample Wave::Next(bool pressure_on) {
  if (position_ >= beat_samples_) {
    if (whole_beat_on_) {
      const auto ibi = static_cast<uint16_t>(beat_samples_ * kSampleMs);
      finished_ = Beat{onset_,
                       max_,
                       min_,
                       static_cast<uint16_t>(sum_ / static_cast<uint64_t>(beat_samples_)),
                       static_cast<uint16_t>(std::lround(600000.0 / ibi)),
                       ibi};
    }
    StartBeat();
  }
  Sample s;
  s.beat_start = position_ == 0;
  if (s.beat_start) {
    whole_beat_on_ = pressure_on;
    max_ = 0;
    min_ = 0xFFFF;
    sum_ = 0;
  }
  const double x = static_cast<double>(position_) / beat_samples_;
  s.bp = pressure_on ? Tenths(dia_ + (sys_ - dia_) * PulseShape(x)) : 0;
  whole_beat_on_ = whole_beat_on_ && pressure_on;
  max_ = std::max(max_, s.bp);
  min_ = std::min(min_, s.bp);
  sum_ += s.bp;
  // The height reading wanders a little, as a hand at rest does.
  const double t = static_cast<double>(index_) * kSampleMs / 1000.0;
  s.hgt = Tenths(params_.height + 0.4 * std::sin(2 * std::numbers::pi * t / 17.0));
  // The plethysmogram lags the pressure slightly.
  const double lag = x < 0.06 ? x + 0.94 : x - 0.06;
  s.plet = static_cast<uint16_t>(std::lround(2000.0 + 900.0 * PulseShape(lag)));
  ++position_;
  ++index_;
  return s;
}

std::optional<Beat> Wave::TakeBeat() {
  std::optional<Beat> beat = finished_;
  finished_.reset();
  return beat;
}

}  // namespace corvane::vzsim
