// A single-producer single-consumer byte ring, read line by line.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvane {

class RingBuffer {
 public:
  static constexpr uint32_t kSize = 32768;
  static constexpr uint32_t kMask = kSize - 1;
  // One byte always stays free, so that full and empty differ.
  static constexpr uint32_t kCapacity = kSize - 1;

  // Copies min(count, free space) bytes in and returns that number.
  uint32_t Write(const char* bytes, uint32_t count);

  // Takes one line out: copies up to the first line feed into `buffer`,
  // replacing it by NUL, consumes the line feed and a carriage return right
  // after it, and returns the bytes consumed. Returns 0 and consumes nothing
  // when no line feed lies within min(size, waiting) bytes; a line is
  // delivered only if it fits in size - 1 bytes plus its line feed.
  uint32_t ReadLine(char* buffer, uint32_t size);

  // Bytes waiting to be read.
  uint32_t Waiting() const;
  uint32_t FreeSpace() const { return kCapacity - Waiting(); }
  bool Empty() const { return Waiting() == 0; }
  // Drops bytes up to and including the next line feed, if one is waiting;
  // returns the number dropped, 0 when no line feed is waiting yet.
  uint32_t DiscardLine();
  // Drops every waiting byte (reader side) and returns the number dropped.
  uint32_t DiscardAll();

 private:
  std::array<char, kSize> mData{};
  std::atomic<uint32_t> mWrite{0};  // written by the producer only
  std::atomic<uint32_t> mRead{0};   // written by the consumer only
};

}  // namespace corvane
