// A picture of the recording: finger pressure with the beats' systolic,
// mean and diastolic pressures over it, and the heart rate below.
#pragma once

#include <string>
#include <vector>

#include "row_assembler.h"

namespace corvane::recorder {

struct PlotData {
  // One value per row, in the channels' units; NaN where there is none (the
  // beat channels before the first beat).
  std::vector<float> finger, systolic, mean, diastolic, heartRate;

  void Add(const Row& row);
  size_t Size() const { return finger.size(); }
};

// Axis marks: about `wanted` round numbers (1, 2 or 5 times a power of ten
// apart) from `low` to `high`.
std::vector<double> AxisTicks(double low, double high, int wanted);

// Writes a PNG image; false with `error` set if it cannot be made here.
bool WritePlot(const std::string& path, const PlotData& data, const std::string& title,
               std::string& error);

}  // namespace corvane::recorder
