#include "nano/nano_catalogue.h"

#include <algorithm>
#include <cstring>

namespace corvane::nano {
namespace {

constexpr size_t kVersionRecordOffset = 9;
constexpr size_t kSerialOffset = 22;
constexpr size_t kSerialBytes = 100;
constexpr uint8_t kTestStartByte = 1;
constexpr uint8_t kTestStopByte = 2;

// The first N payload bytes, zero beyond those that arrived.
template <size_t N>
std::array<uint8_t, N> PayloadCopy(const NanoMessage& message, size_t from = 0) {
  std::array<uint8_t, N> copy{};
  const size_t length = message.PayloadLength();
  if (length > from) {
    std::memcpy(copy.data(), message.Payload() + from, std::min(N, length - from));
  }
  return copy;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

NanoMessage WithByte(uint8_t type, uint8_t value) {
  const uint8_t payload[1] = {value};
  return NanoMessage(type, payload);
}

}  // namespace

NanoMessage MakeKeepAlive() { return NanoMessage(kKeepAlive); }
NanoMessage MakeCuffSelect(int32_t cuffValue) {
  return WithByte(kCuff, static_cast<uint8_t>(-cuffValue));
}
NanoMessage MakeEvent(uint8_t subCommand) { return WithByte(kEvent, subCommand); }
NanoMessage MakePhysioCal(uint8_t on) { return WithByte(kPhysioCal, on); }
NanoMessage MakeModeQuery() { return NanoMessage(kMode); }
NanoMessage MakeStatusRequest() { return NanoMessage(kStatus); }
NanoMessage MakeTestStop() { return WithByte(kTest, kTestStopByte); }
NanoMessage MakeUpdateRequest() { return WithByte(kUpdate, 0); }
NanoMessage MakeVersionRequest(uint8_t selector) { return WithByte(kVersion, selector); }
NanoMessage MakeZeroHcu() { return NanoMessage(kZeroHcu); }

NanoMessage MakeTestStart(uint8_t testType, uint32_t cuffSelector, uint32_t pressureMmHg,
                          uint32_t periodMs) {
  uint8_t payload[14] = {kTestStartByte, testType};
  PutU32(&payload[2], cuffSelector);
  PutU32(&payload[6], pressureMmHg);
  PutU32(&payload[10], periodMs);
  return NanoMessage(kTest, payload);
}

uint32_t SquareWavePeriodMs(double hertz) {
  return static_cast<uint16_t>(static_cast<int64_t>(1000.0 / hertz));
}

DataFrame DecodeData(const NanoMessage& message) {
  const auto p = PayloadCopy<DataFrame::kSize>(message);
  return {U16(&p[0]), U16(&p[2]), U16(&p[4]), U16(&p[6]), p[8]};
}

BeatFrame DecodeBeat(const NanoMessage& message) {
  const auto p = PayloadCopy<BeatFrame::kSize>(message);
  return {U16(&p[0]), p[2], U16(&p[3]), U16(&p[5]), U16(&p[7]), U16(&p[9]), U16(&p[11])};
}

StatusFrame DecodeStatus(const NanoMessage& message) {
  const auto p = PayloadCopy<StatusFrame::kSize>(message);
  StatusFrame status;
  status.counter = U16(&p[0]);
  status.state = p[2];
  status.mError = p[3];
  status.mWarning = static_cast<uint32_t>(p[4]) | static_cast<uint32_t>(p[5]) << 8 |
                    static_cast<uint32_t>(p[6]) << 16 | static_cast<uint32_t>(p[7]) << 24;
  status.hcu = p[8];
  status.channel8 = p[9];
  status.extra = p[10];
  status.channel11 = p[11];
  return status;
}

ModeFrame DecodeMode(const NanoMessage& message) {
  const uint8_t byte = PayloadCopy<1>(message)[0];
  return {static_cast<uint8_t>(byte >> 4), static_cast<uint8_t>((byte >> 1) & 3),
          static_cast<uint8_t>(byte & 1)};
}

VersionFrame DecodeVersion(const NanoMessage& message) {
  const auto head = PayloadCopy<kVersionRecordOffset>(message);
  VersionFrame frame;
  frame.typeNumber = head[0];
  frame.structure = static_cast<char>(head[8]);
  frame.record = PayloadCopy<VersionFrame::kHardwareRecordSize>(message, kVersionRecordOffset);
  if (frame.structure != 'H') {
    // The other records are two bytes shorter: a longer frame's tail is not theirs.
    frame.record[120] = 0;
    frame.record[121] = 0;
  }
  return frame;
}

VersionNumbers DecodeVersionNumbers(const uint8_t* record) {
  return {U16(&record[0]), record[2], record[3], U16(&record[4]), U16(&record[6]), record[8]};
}

std::string SerialNumberOf(const std::array<uint8_t, VersionFrame::kHardwareRecordSize>& record) {
  const auto* text = reinterpret_cast<const char*>(&record[kSerialOffset]);
  const auto* end = static_cast<const char*>(std::memchr(text, 0, kSerialBytes));
  return std::string(text, end != nullptr ? static_cast<size_t>(end - text) : kSerialBytes);
}

}  // namespace corvane::nano
