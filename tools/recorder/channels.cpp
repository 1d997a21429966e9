#include "channels.h"

namespace corvane::recorder {

const std::array<ChannelInfo, kChannelCount>& Channels() {
  static constexpr std::array<ChannelInfo, kChannelCount> channels = {{
      {1, "finger_pressure_mmHg", "Finger pressure", "mmHg", 400},
      {2, "hcu_pressure_mmHg", "HCU pressure", "mmHg", 400},
      {3, "systolic_mmHg", "Systolic", "mmHg", 400},
      {4, "mean_mmHg", "Mean", "mmHg", 400},
      {5, "diastolic_mmHg", "Diastolic", "mmHg", 400},
      {6, "heart_rate_bpm", "Heart rate", "bpm", 400},
      {7, "interbeat_interval_ms", "Interbeat int.", "ms", 2000},
      {8, "status8", "Status 8", "", 4},
      {9, "cuff_switch_s", "Cuff switch in", "s", 4000},
      {10, "status10", "Status 10", "", 10},
      {11, "status11", "Status 11", "", 400},
  }};
  return channels;
}

double ToPhysical(int index, int32_t value) {
  return static_cast<double>(value) * Channels()[static_cast<size_t>(index)].fullScale /
         kDigitalFullScale;
}

}  // namespace corvane::recorder
