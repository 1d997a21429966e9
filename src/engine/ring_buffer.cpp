#include "engine/ring_buffer.h"

#include <algorithm>
#include <cstring>

namespace corvane {

// The producer publishes its index with release after copying the data; the
// consumer reads it with acquire before copying out, and the same the other
// way round for the read index.

uint32_t RingBuffer::Waiting() const {
  return (mWrite.load(std::memory_order_acquire) - mRead.load(std::memory_order_acquire)) & kMask;
}

uint32_t RingBuffer::Write(const char* bytes, uint32_t count) {
  const uint32_t write = mWrite.load(std::memory_order_relaxed);
  const uint32_t read = mRead.load(std::memory_order_acquire);
  const uint32_t space = kCapacity - ((write - read) & kMask);
  const uint32_t n = std::min(count, space);
  if (n == 0) return 0;
  const uint32_t first = std::min(n, kSize - write);
  std::memcpy(mData.data() + write, bytes, first);
  std::memcpy(mData.data(), bytes + first, n - first);
  mWrite.store((write + n) & kMask, std::memory_order_release);
  return n;
}

uint32_t RingBuffer::ReadLine(char* buffer, uint32_t size) {
  const uint32_t read = mRead.load(std::memory_order_relaxed);
  const uint32_t write = mWrite.load(std::memory_order_acquire);
  const uint32_t avail = (write - read) & kMask;
  if (avail == 0) return 0;
  const uint32_t n = std::min(size, avail);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t at = (read + i) & kMask;
    const char c = mData[at];
    if (c != '\n') {
      buffer[i] = c;
      continue;
    }
    buffer[i] = '\0';
    uint32_t consumed = i + 1;
    // A carriage return right after the line feed belongs to this line end,
    // if it is waiting and lies in the same piece of the array.
    const uint32_t next = at + 1;
    if (consumed < avail && next < kSize && mData[next] == '\r') ++consumed;
    mRead.store((read + consumed) & kMask, std::memory_order_release);
    return consumed;
  }
  return 0;
}

uint32_t RingBuffer::DiscardAll() {
  const uint32_t read = mRead.load(std::memory_order_relaxed);
  const uint32_t write = mWrite.load(std::memory_order_acquire);
  mRead.store(write, std::memory_order_release);
  return (write - read) & kMask;
}

uint32_t RingBuffer::DiscardLine() {
  const uint32_t read = mRead.load(std::memory_order_relaxed);
  const uint32_t avail = (mWrite.load(std::memory_order_acquire) - read) & kMask;
  for (uint32_t i = 0; i < avail; ++i) {
    if (mData[(read + i) & kMask] == '\n') {
      mRead.store((read + i + 1) & kMask, std::memory_order_release);
      return i + 1;
    }
  }
  return 0;
}

}  // namespace corvane
