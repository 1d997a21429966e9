#include "vz_frame.h"

#include <algorithm>

namespace corvane::vzsim {

uint8_t Crc8(std::span<const uint8_t> bytes) {
  uint8_t crc = 0;
  for (uint8_t byte : bytes) {
    for (int bit = 0; bit < 8; ++bit) {
      const bool low = ((crc ^ byte) & 1) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (low) crc ^= 0x8C;
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

std::vector<uint8_t> EncodeFrame(uint8_t type, std::span<const uint8_t> payload) {
  const size_t n = std::min(payload.size(), kMaxPayload);
  const auto length = static_cast<uint8_t>(n + 1);
  std::vector<uint8_t> frame(n + 6, 0);
  frame[0] = kMarker;
  frame[1] = length;
  frame[2] = length;
  frame[3] = kMarker;
  frame[4] = type;
  std::copy_n(payload.begin(), n, frame.begin() + 5);
  frame[n + 5] = Crc8(std::span<const uint8_t>(frame).subspan(4, n + 1));
  return frame;
}

void FrameScanner::Push(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<Frame> FrameScanner::Next() {
  while (buffer_.size() >= 6) {
    const uint8_t length = buffer_[1];
    if (buffer_[0] != kMarker || length == 0 || buffer_[2] != length || buffer_[3] != kMarker) {
      buffer_.pop_front();
      ++skipped_;
      continue;
    }
    const size_t total = size_t{length} + 5;
    if (buffer_.size() < total) return std::nullopt;  // wait for the rest
    std::vector<uint8_t> body(buffer_.begin() + 4,
                              buffer_.begin() + static_cast<std::ptrdiff_t>(total) - 1);
    if (Crc8(body) != buffer_[total - 1]) {
      ++bad_frames_;
      buffer_.pop_front();
      ++skipped_;
      continue;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    Frame frame;
    frame.type = body[0];
    frame.payload.assign(body.begin() + 1, body.end());
    return frame;
  }
  return std::nullopt;
}

}  // namespace corvane::vzsim
