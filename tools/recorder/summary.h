// What a recording held: its beats with their pressures and rates, and the
// channels that fell short.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "row_assembler.h"

namespace corvane::recorder {

struct Spread {
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
  double sum = 0;
  uint64_t count = 0;

  void Add(double value);
  double Mean() const { return count != 0 ? sum / static_cast<double>(count) : 0.0; }
};

class BeatStatistics {
 public:
  // A beat is a change of the beat channels' values from one row to the
  // next (all zero before the first beat does not count).
  void Add(const Row& row);

  uint64_t Beats() const { return mBeats; }
  const Spread& Systolic() const { return mSystolic; }
  const Spread& Diastolic() const { return mDiastolic; }
  const Spread& HeartRate() const { return mHeartRate; }
  // The last beat's values, for the live status; zero before the first.
  const std::array<int32_t, 5>& Last() const { return mLast; }

 private:
  std::array<int32_t, 5> mLast{};
  uint64_t mBeats = 0;
  Spread mSystolic, mDiastolic, mHeartRate;
};

// At the end of a recording the channels are a little apart, and that is no
// gap: the beat channels trail by up to a beat (longer during a calibration),
// the others by what the last fetch of the device brought of each kind.
inline constexpr uint64_t kBeatTrail = 3 * kSampleRate;
inline constexpr uint64_t kFetchTrail = 32;

// What the summary tells of the device beyond the rows.
struct DeviceReport {
  std::string generation;  // empty: unknown
  std::string port;        // the wrist unit's port; empty for the Controller
  bool wristUnit = false;
  uint64_t sequenceErrors = 0;  // breaks in the wrist unit's sample counter
  uint64_t lostFrames = 0;      // its data frames lost at those breaks
  // Each break: seconds into the recording and the frames lost.
  std::vector<std::pair<double, uint64_t>> gaps;
  uint64_t repeatedFrames = 0;  // frames sent again, stored once
  uint64_t reconnects = 0;
};

// What the summary tells of the files beyond the rows written.
struct OutputReport {
  // Rows at the end that a channel had no value for: the recording ended
  // before it came, and its last value is held.
  uint64_t heldRows = 0;
  std::string heldChannels;  // e.g. "ch3-ch7 from 1.680 s; ch2 from 2.995 s"
  // A write failed: what, and the rows each file holds.
  std::string writeFailure;
  std::string csvName, edfName;
  uint64_t csvRows = 0, edfRows = 0;
  bool noEdf = false;  // no EDF+ file: no rows were recorded
};

// The summary printed at the end of a recording.
std::string FormatSummary(const RowAssembler& rows, const BeatStatistics& beats,
                          uint64_t rowsWritten, const DeviceReport& device = {},
                          const OutputReport& output = {});

// Channel numbers of the bits set in `mask` as ranges: "ch3-ch7, ch9".
std::string ChannelRanges(uint32_t mask);

}  // namespace corvane::recorder
