// Frames of the wrist unit's serial protocol, the receive buffer they are
// found in, and their text form for the module log.
//
// Frame: D4, L, L, D4, type, payload (L - 1 bytes), CRC-8 over type and
// payload. L counts the type byte and the payload, 1 to 255. Bit 7 of the
// type marks a Nack, whose first payload byte is the device's error number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "nano/link_clock.h"

namespace corvane {

inline constexpr uint8_t kFrameMarker = 0xD4;
inline constexpr uint8_t kNackFlag = 0x80;
// Header (4), type and checksum.
inline constexpr size_t kFrameOverhead = 6;
inline constexpr size_t kMaxPayload = 254;
inline constexpr size_t kMaxFrame = 260;

// Dallas/Maxim 1-Wire CRC-8: reflected polynomial 0x8C, initial value 0.
uint8_t NanoCrc8(const uint8_t* data, size_t length);

// One frame in a fixed 262-byte object: the frame from offset 0 (header,
// type, payload and checksum) and, at offset 261, the error number of a
// received Nack.
class NanoMessage {
 public:
  static constexpr size_t kSize = 262;

  // The empty receive target: header D4 00 01 D4, which is never valid.
  NanoMessage();
  explicit NanoMessage(uint8_t type);
  // Payloads longer than kMaxPayload are cut to it.
  NanoMessage(uint8_t type, std::span<const uint8_t> payload);

  void Clear();
  bool IsValid() const;

  uint8_t LengthByte() const { return mBytes[1]; }
  uint8_t Type() const { return mBytes[4]; }
  char Letter() const { return static_cast<char>(mBytes[4] & 0x7F); }
  bool IsNack() const { return (mBytes[4] & kNackFlag) != 0; }
  size_t PayloadLength() const { return mBytes[1] == 0 ? 0 : mBytes[1] - 1u; }
  const uint8_t* Payload() const { return &mBytes[5]; }
  // Whole frame on the wire: L + 5 bytes from Frame().
  size_t FrameSize() const { return mBytes[1] + 5u; }
  const uint8_t* Frame() const { return mBytes.data(); }
  uint8_t NackError() const { return mBytes[261]; }
  void SetNackError(uint8_t error) { mBytes[261] = error; }

  // Copies a frame of `size` bytes (at most kMaxFrame) as found on the wire.
  void AssignFrame(const uint8_t* frame, size_t size);

 private:
  std::array<uint8_t, kSize> mBytes;
};
static_assert(sizeof(NanoMessage) == NanoMessage::kSize);

// The driver's receive buffer: bytes received and not yet consumed lie from
// the start of the array to `fill`; after a compaction the rest is zero.
struct ReceiveBuffer {
  static constexpr size_t kCapacity = 512;
  // A frame starting before this offset always fits in the array.
  static constexpr size_t kCompactLimit = kCapacity - kMaxFrame;
  // Reads what the port has, at most `capacity` bytes, without blocking long.
  using Source = std::function<size_t(uint8_t* buffer, size_t capacity)>;

  explicit ReceiveBuffer(Source source) : mSource(std::move(source)) {}

  std::array<uint8_t, kCapacity> mBytes{};  // received bytes
  size_t mFill = 0;                         // end of the valid data
  Source mSource;                           // the port the buffer refills from
};

// Looks for the next valid frame from `cursor` on, reading the port as needed,
// until `timeoutMs` have passed (one step for 0). Skips garbage byte by byte;
// also returns, without a frame, once the cursor has passed the compaction
// limit so that the caller can make room.
bool ScanForFrame(ReceiveBuffer& buffer, NanoMessage& target, size_t& cursor, uint32_t timeoutMs,
                  const LinkClock& clock);

// Receives one frame into `target` within `timeoutMs` (0: only what has
// arrived), compacts the buffer, and logs a Nack and keeps its error number.
bool ReadMessage(ReceiveBuffer& buffer, NanoMessage& target, uint32_t timeoutMs,
                 const LinkClock& clock);

// "Type 'x', len N OK" or " Bad", with " (Nack: error E)" for a Nack.
std::wstring FormatMessageShort(const NanoMessage& message);
// The prefix, a blank, the short form and ": 0x.. 0x.." for a payload.
std::wstring FormatMessageTrace(std::wstring_view prefix, const NanoMessage& message);
// Only frames with a payload leave a log line, and never the streaming
// data, beat and status frames.
bool LeavesTraceLine(const NanoMessage& message);

}  // namespace corvane
