// A fixed-capacity record ring that overwrites its oldest record when full.
// Its storage is allocated once, at construction; appending never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

template <typename Record>
class SampleRing {
 public:
  explicit SampleRing(size_t capacity) : mRecords(capacity) {}

  void Append(const Record& record) {
    mRecords[mWrite] = record;
    mWrite = (mWrite + 1) % mRecords.size();
    if (mCount == mRecords.size()) {
      mRead = mWrite;  // the oldest record was just overwritten
    } else {
      ++mCount;
    }
  }
  // Takes the oldest record out; false when empty.
  bool Take(Record& record) {
    if (mCount == 0) return false;
    record = mRecords[mRead];
    mRead = (mRead + 1) % mRecords.size();
    --mCount;
    return true;
  }
  void Clear() {
    mRead = mWrite;
    mCount = 0;
  }
  size_t Count() const { return mCount; }
  size_t Capacity() const { return mRecords.size(); }

 private:
  std::vector<Record> mRecords;  // the storage, never resized
  size_t mRead = 0;              // oldest record
  size_t mWrite = 0;             // next place to write
  size_t mCount = 0;             // records held
};

}  // namespace corvane
