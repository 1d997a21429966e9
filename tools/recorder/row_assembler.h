// Puts the channels' data lines back together into rows of 11 samples.
//
// Each channel arrives in its own lines, at its own moments: the finger
// pressure and the status channels every poll, the beat channels (3 to 7)
// only when the next beat is known, so they trail. A row is complete once
// every channel has delivered its sample for it; rows leave in order.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string_view>

#include "channels.h"

namespace corvane::recorder {

struct Row {
  uint64_t index = 0;  // 0, 1, 2 ... at 200 per second
  std::array<int32_t, kChannelCount> values{};
  bool hasBeats = true;  // false: the recording brought no beat at all
  // Bit i: channel i had no value of its own for this row (the recording
  // ended before it came); `values` holds the channel's last value.
  uint32_t held = 0;

  double Seconds() const { return static_cast<double>(index) / kSampleRate; }
  // The channel's value came with the recording, rather than being held or
  // left out for want of beats.
  bool Has(int i) const { return (hasBeats || !IsBeatChannel(i)) && (held >> i & 1u) == 0; }
};

class RowAssembler {
 public:
  // Takes one data line ("+N" or "+N,v,..."). A line cut at its length limit
  // continues in a new "+N," line, which simply appends. False for a line
  // that is not a data line; nothing is taken from it then.
  bool AddLine(std::string_view line);

  // The next complete row, if there is one; it is taken out.
  bool PopRow(Row& row);

  // At the end of a recording without any beat line (test modes make no
  // beats): the next row that every other channel has reached, its beat
  // channels empty. False when beats did arrive or no such row is left.
  bool PopRowWithoutBeats(Row& row);

  // At the end of a recording: the next row that the finger pressure has
  // reached, each channel without a value for it holding its last value
  // (zero before its first) and marked in `held`. False when the finger
  // pressure has no further row.
  bool PopRowHeld(Row& row);

  // Samples received on channel `index` (0-based) since the start.
  uint64_t Received(int index) const { return mReceived[static_cast<size_t>(index)]; }
  // Samples received by the channel that has most.
  uint64_t MostReceived() const;
  // Rows that every channel has reached, popped or not.
  uint64_t CompleteRows() const;
  // Rows that the channels other than the beat channels have reached.
  uint64_t RowsWithoutBeats() const;
  bool HasBeats() const;
  uint64_t RowsPopped() const { return mNextRow; }
  uint64_t MalformedLines() const { return mMalformed; }

 private:
  std::array<std::deque<int32_t>, kChannelCount> mPending;
  std::array<uint64_t, kChannelCount> mReceived{};
  std::array<int32_t, kChannelCount> mLast{};
  uint64_t mNextRow = 0;
  uint64_t mMalformed = 0;
};

}  // namespace corvane::recorder
