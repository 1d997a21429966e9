#include "plot.h"

#include <cmath>
#include <limits>

namespace corvane::recorder {
namespace {

float BeatValue(const Row& row, int index) {
  const int32_t value = row.values[static_cast<size_t>(index)];
  if (!row.Has(index) || value == 0) return std::numeric_limits<float>::quiet_NaN();
  return static_cast<float>(ToPhysical(index, value));
}

}  // namespace

void PlotData::Add(const Row& row) {
  finger.push_back(static_cast<float>(ToPhysical(kFingerPressure, row.values[kFingerPressure])));
  systolic.push_back(BeatValue(row, kSystolic));
  mean.push_back(BeatValue(row, kMean));
  diastolic.push_back(BeatValue(row, kDiastolic));
  heartRate.push_back(BeatValue(row, kHeartRate));
}

std::vector<double> AxisTicks(double low, double high, int wanted) {
  std::vector<double> ticks;
  if (!(high > low) || wanted < 1) return ticks;
  // The round step nearest to an even division, on a logarithmic scale.
  const double rough = (high - low) / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (const double factor : {2.0, 5.0, 10.0}) {
    if (std::abs(std::log(power * factor / rough)) < std::abs(std::log(step / rough))) {
      step = power * factor;
    }
  }
  const auto first = static_cast<long>(std::ceil(low / step - 1e-9));
  const auto last = static_cast<long>(std::floor(high / step + 1e-9));
  for (long n = first; n <= last; ++n) ticks.push_back(static_cast<double>(n) * step);
  return ticks;
}

}  // namespace corvane::recorder
