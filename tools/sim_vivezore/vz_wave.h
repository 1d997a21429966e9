// The finger-pressure wave of the simulated unit, one sample every 5 ms, and
// the beat records that summarise it.
#pragma once

#include <cstdint>
#include <optional>
#include <random>

namespace corvane::vzsim {

inline constexpr int kSampleMs = 5;
inline constexpr int kSamplesPerSecond = 1000 / kSampleMs;

struct WaveParams {
  double heart_rate = 70.0;  // bpm, centre of a slow drift
  double systolic = 120.0;   // mmHg
  double diastolic = 78.0;
  double height = 5.0;
  uint64_t seed = 1;
};

struct Sample {
  uint16_t bp = 0;    // 0.1 mmHg
  uint16_t hgt = 0;   // 0.1 mmHg
  uint16_t plet = 0;  // raw
  bool beat_start = false;
};

// Values of one finished beat, taken from the samples actually produced.
struct Beat {
  uint64_t onset = 0;  // sample index of the beat's first sample
  uint16_t sys = 0;    // 0.1 mmHg
  uint16_t dia = 0;
  uint16_t map = 0;
  uint16_t hr = 0;   // 0.1 bpm
  uint16_t ibi = 0;  // ms
};

class Wave {
 public:
  explicit Wave(const WaveParams& params);
  void set_params(const WaveParams& params) { params_ = params; }

  // The next sample. `pressure_on` is false while the cuff is deflated: the
  // beat clock and the plethysmogram go on, the pressure reads 0 and no beat
  // is reported for a beat that was not fully under pressure.
  Sample Next(bool pressure_on);
  std::optional<Beat> TakeBeat();

 private:
  void StartBeat();

  WaveParams params_;
  std::mt19937_64 rng_;
  uint64_t index_ = 0;
  uint64_t onset_ = 0;
  int beat_samples_ = 1;
  int position_ = 0;
  double sys_ = 0;
  double dia_ = 0;
  double drift_ = 0;
  // Running summary of the current beat.
  bool whole_beat_on_ = false;
  uint16_t max_ = 0;
  uint16_t min_ = 0;
  uint64_t sum_ = 0;
  std::optional<Beat> finished_;
};

}  // namespace corvane::vzsim
