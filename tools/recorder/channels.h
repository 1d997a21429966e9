// The 11 channels the module delivers, their names and their scales.
//
// Every channel arrives as integers on one scale: full scale is 32000, so a
// value v stands for v * fullScale / 32000 in the channel's unit.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace corvane::recorder {

inline constexpr int kChannelCount = 11;
inline constexpr int kSampleRate = 200;  // samples per second, every channel
inline constexpr int32_t kDigitalFullScale = 32000;

struct ChannelInfo {
  int number;                // 1..11, as in the data lines
  std::string_view csvName;  // CSV column, unit included
  std::string_view label;    // EDF signal label (at most 16 characters)
  std::string_view unit;     // EDF physical dimension (at most 8 characters)
  double fullScale;          // physical value of 32000
};

const std::array<ChannelInfo, kChannelCount>& Channels();

// Channel indices (0-based) of the values that interest a reader most.
inline constexpr int kFingerPressure = 0;
inline constexpr int kHcuPressure = 1;
inline constexpr int kSystolic = 2;
inline constexpr int kMean = 3;
inline constexpr int kDiastolic = 4;
inline constexpr int kHeartRate = 5;
inline constexpr int kInterbeatInterval = 6;
inline constexpr int kCuffSwitchCountdown = 8;

// Channels 3 to 7 carry the values of the last beat; they trail the others
// by up to a beat, because a beat's ticks are only sent once the next beat
// is known.
constexpr bool IsBeatChannel(int index) { return index >= 2 && index <= 6; }

double ToPhysical(int index, int32_t value);

}  // namespace corvane::recorder
