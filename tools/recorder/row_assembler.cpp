#include "row_assembler.h"

#include <algorithm>

#include "reply_lines.h"

namespace corvane::recorder {

bool RowAssembler::AddLine(std::string_view line) {
  const auto parsed = ParseDataLine(line);
  if (!parsed) {
    ++mMalformed;
    return false;
  }
  const auto index = static_cast<size_t>(parsed->channel - 1);
  mPending[index].insert(mPending[index].end(), parsed->values.begin(), parsed->values.end());
  mReceived[index] += parsed->values.size();
  return true;
}

bool RowAssembler::PopRow(Row& row) {
  if (CompleteRows() <= mNextRow) return false;
  row.index = mNextRow++;
  row.hasBeats = true;
  row.held = 0;
  for (size_t i = 0; i < kChannelCount; ++i) {
    row.values[i] = mLast[i] = mPending[i].front();
    mPending[i].pop_front();
  }
  return true;
}

bool RowAssembler::PopRowHeld(Row& row) {
  if (mReceived[kFingerPressure] <= mNextRow) return false;
  row.index = mNextRow++;
  row.hasBeats = HasBeats();
  row.held = 0;
  for (size_t i = 0; i < kChannelCount; ++i) {
    if (mPending[i].empty()) {
      if (row.hasBeats || !IsBeatChannel(static_cast<int>(i))) row.held |= 1u << i;
    } else {
      mLast[i] = mPending[i].front();
      mPending[i].pop_front();
    }
    row.values[i] = mLast[i];
  }
  return true;
}

bool RowAssembler::PopRowWithoutBeats(Row& row) {
  if (HasBeats() || RowsWithoutBeats() <= mNextRow) return false;
  row.index = mNextRow++;
  row.hasBeats = false;
  row.held = 0;
  for (size_t i = 0; i < kChannelCount; ++i) {
    if (IsBeatChannel(static_cast<int>(i))) {
      row.values[i] = 0;
    } else {
      row.values[i] = mLast[i] = mPending[i].front();
      mPending[i].pop_front();
    }
  }
  return true;
}

uint64_t RowAssembler::MostReceived() const {
  return *std::max_element(mReceived.begin(), mReceived.end());
}

uint64_t RowAssembler::CompleteRows() const {
  return *std::min_element(mReceived.begin(), mReceived.end());
}

uint64_t RowAssembler::RowsWithoutBeats() const {
  uint64_t rows = UINT64_MAX;
  for (int i = 0; i < kChannelCount; ++i) {
    if (!IsBeatChannel(i)) rows = std::min(rows, mReceived[static_cast<size_t>(i)]);
  }
  return rows;
}

bool RowAssembler::HasBeats() const {
  for (int i = 0; i < kChannelCount; ++i) {
    if (IsBeatChannel(i) && mReceived[static_cast<size_t>(i)] != 0) return true;
  }
  return false;
}

}  // namespace corvane::recorder
