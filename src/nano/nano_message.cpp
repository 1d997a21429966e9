#include "nano/nano_message.h"

#include <algorithm>
#include <cstring>

#include "support/debug_trace.h"
#include "support/module_log.h"
#include "support/mvx_string.h"

namespace corvane {
namespace {

constexpr uint32_t kEmptyPortPauseMs = 5;

void WriteHeader(std::array<uint8_t, NanoMessage::kSize>& bytes, uint8_t length) {
  bytes[0] = kFrameMarker;
  bytes[1] = length;
  bytes[2] = length;
  bytes[3] = kFrameMarker;
}

// Reads into the room after the fill pointer; returns the byte count.
size_t Refill(ReceiveBuffer& buffer) {
  const size_t room = buffer.mBytes.size() - buffer.mFill;
  if (room == 0 || !buffer.mSource) return 0;
  const size_t count = std::min(buffer.mSource(&buffer.mBytes[buffer.mFill], room), room);
  buffer.mFill += count;
  return count;
}

}  // namespace

uint8_t NanoCrc8(const uint8_t* data, size_t length) {
  uint8_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    uint8_t byte = data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = ((crc ^ byte) & 0x01) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (mix) crc ^= 0x8C;
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

NanoMessage::NanoMessage() { Clear(); }

NanoMessage::NanoMessage(uint8_t type) : NanoMessage(type, {}) {}

NanoMessage::NanoMessage(uint8_t type, std::span<const uint8_t> payload) {
  mBytes.fill(0);
  const size_t n = std::min(payload.size(), kMaxPayload);
  const auto length = static_cast<uint8_t>(n + 1);
  WriteHeader(mBytes, length);
  mBytes[4] = type;
  if (n > 0) std::memcpy(&mBytes[5], payload.data(), n);
  mBytes[length + 4u] = NanoCrc8(&mBytes[4], length);
}

void NanoMessage::Clear() {
  mBytes.fill(0);
  WriteHeader(mBytes, 0);
  mBytes[2] = 1;  // length and its copy differ: never a valid frame
}

bool NanoMessage::IsValid() const {
  const uint8_t length = mBytes[1];
  if (mBytes[0] != kFrameMarker || mBytes[3] != kFrameMarker || length != mBytes[2] ||
      length == 0) {
    return false;
  }
  return mBytes[length + 4u] == NanoCrc8(&mBytes[4], length);
}

void NanoMessage::AssignFrame(const uint8_t* frame, size_t size) {
  mBytes.fill(0);
  std::memcpy(mBytes.data(), frame, std::min(size, kMaxFrame));
}

bool ScanForFrame(ReceiveBuffer& buffer, NanoMessage& target, size_t& cursor, uint32_t timeoutMs,
                  const LinkClock& clock) {
  const int64_t deadline = clock.NowMs() + timeoutMs;
  auto& bytes = buffer.mBytes;
  for (;;) {
    const size_t available = buffer.mFill - cursor;
    if (available < kFrameOverhead) {
      if (Refill(buffer) == 0) clock.SleepMs(kEmptyPortPauseMs);
    } else if (bytes[cursor] != kFrameMarker || bytes[cursor + 1] == 0 ||
               bytes[cursor + 2] != bytes[cursor + 1] || bytes[cursor + 3] != kFrameMarker) {
      ++cursor;
    } else if (available < bytes[cursor + 1] + 5u) {
      // A frame on its way in: read again without pausing.
      Refill(buffer);
    } else {
      target.AssignFrame(&bytes[cursor], bytes[cursor + 1] + 5u);
      if (target.IsValid()) {
        cursor += target.FrameSize();
        return true;
      }
      MVX::OStringStream line;
      line << L"... Nano Driver: Bad message: " << FormatMessageShort(target) << L" started at 0x"
           << std::hex << reinterpret_cast<uintptr_t>(&bytes[cursor]);
      MVX::ModuleLog::Write(line.str());
      ++cursor;
    }
    if (cursor >= ReceiveBuffer::kCompactLimit) return false;
    if (deadline - clock.NowMs() <= 0) return false;
  }
}

bool ReadMessage(ReceiveBuffer& buffer, NanoMessage& target, uint32_t timeoutMs,
                 const LinkClock& clock) {
  target.Clear();
  const int64_t deadline = clock.NowMs() + timeoutMs;
  size_t cursor = 0;
  bool received = false;
  for (;;) {
    const int64_t left = std::max<int64_t>(0, deadline - clock.NowMs());
    if (ScanForFrame(buffer, target, cursor, static_cast<uint32_t>(left), clock)) {
      received = true;
      break;
    }
    if (cursor >= ReceiveBuffer::kCompactLimit) break;
    if (deadline - clock.NowMs() <= 0) break;
  }
  if (cursor > 0) {
    const size_t oldFill = buffer.mFill;
    const size_t kept = oldFill - cursor;
    std::memmove(buffer.mBytes.data(), &buffer.mBytes[cursor], kept);
    buffer.mFill = kept;
    std::memset(&buffer.mBytes[kept], 0, oldFill - kept);
  }
  if (received && target.IsNack()) {
    const std::wstring shortForm = FormatMessageShort(target);
    MVX_TRACE(MVX::kUnitNanoDriver, L"!!! Nack: " + shortForm);
    MVX::ModuleLog::Write(L"!!! Nano driver: Nack: " + shortForm);
    target.SetNackError(target.PayloadLength() > 0 ? target.Payload()[0] : 0);
  }
  return received;
}

std::wstring FormatMessageShort(const NanoMessage& message) {
  MVX::OStringStream text;
  text << L"Type '" << static_cast<wchar_t>(message.Letter()) << L"', len " << message.FrameSize()
       << (message.IsValid() ? L" OK" : L" Bad");
  if (message.IsNack()) {
    const unsigned error = message.PayloadLength() > 0 ? message.Payload()[0] : 0u;
    text << L" (Nack: error " << error << L")";
  }
  return text.str();
}

std::wstring FormatMessageTrace(std::wstring_view prefix, const NanoMessage& message) {
  MVX::OStringStream text;
  text << prefix << L' ' << FormatMessageShort(message);
  const size_t n = message.PayloadLength();
  if (n > 0) {
    text << L":" << std::hex;
    for (size_t i = 0; i < n; ++i) text << L" 0x" << static_cast<unsigned>(message.Payload()[i]);
  }
  return text.str();
}

bool LeavesTraceLine(const NanoMessage& message) {
  const char letter = message.Letter();
  return message.PayloadLength() > 0 && letter != 'b' && letter != 'd' && letter != 's';
}

}  // namespace corvane
