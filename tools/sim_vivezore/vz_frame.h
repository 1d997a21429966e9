// Frames of the wrist unit's serial line, as the unit sees them: D4 L L D4,
// type, payload, CRC-8 over type and payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace corvane::vzsim {

inline constexpr uint8_t kMarker = 0xD4;
inline constexpr uint8_t kNackBit = 0x80;
inline constexpr size_t kMaxPayload = 254;

// Dallas/Maxim 1-Wire CRC-8: reflected polynomial 0x8C, initial value 0.
uint8_t Crc8(std::span<const uint8_t> bytes);

// The whole frame for a type and a payload of at most kMaxPayload bytes.
std::vector<uint8_t> EncodeFrame(uint8_t type, std::span<const uint8_t> payload = {});

struct Frame {
  uint8_t type = 0;
  std::vector<uint8_t> payload;
};

// Collects bytes from the line and hands out the valid frames in them.
// Anything that is not a frame, including a frame with a bad checksum, costs
// one skipped byte, so a real frame hidden behind garbage is still found.
class FrameScanner {
 public:
  void Push(std::span<const uint8_t> bytes);
  std::optional<Frame> Next();
  size_t skipped() const { return skipped_; }
  size_t bad_frames() const { return bad_frames_; }

 private:
  std::deque<uint8_t> buffer_;
  size_t skipped_ = 0;
  size_t bad_frames_ = 0;
};

}  // namespace corvane::vzsim
