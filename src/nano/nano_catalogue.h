// Every message the module exchanges with the wrist unit: the commands it
// builds and the frames it decodes, with named fields. Multi-byte fields are
// little-endian. A frame shorter than its record fills only what it carries;
// the rest of the decoded record is zero.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "nano/nano_message.h"

namespace corvane::nano {

// Type letters.
inline constexpr uint8_t kKeepAlive = 'a';
inline constexpr uint8_t kBeat = 'b';
inline constexpr uint8_t kCuff = 'c';
inline constexpr uint8_t kData = 'd';
inline constexpr uint8_t kEvent = 'e';
inline constexpr uint8_t kPhysioCal = 'h';
inline constexpr uint8_t kMode = 'm';
inline constexpr uint8_t kStatus = 's';
inline constexpr uint8_t kTest = 't';
inline constexpr uint8_t kUpdate = 'u';
inline constexpr uint8_t kVersion = 'v';
inline constexpr uint8_t kZeroHcu = 'z';

// Sub-commands of 'e'.
inline constexpr uint8_t kEventStartMeasurement = 1;
inline constexpr uint8_t kEventStopMeasurement = 2;
inline constexpr uint8_t kEventEnterTest = 3;
inline constexpr uint8_t kEventLeaveTest = 4;
inline constexpr uint8_t kEventBootloader = 5;
inline constexpr uint8_t kEventClearError = 6;

// Test types of the 't' start form.
inline constexpr uint8_t kTestSteady = 1;
inline constexpr uint8_t kTestSquare = 2;

// Version selectors.
inline constexpr uint8_t kVersionFirmware = 0x0A;
inline constexpr uint8_t kVersionFirst = 0x00;
inline constexpr uint8_t kVersionHardware = 0x0B;

// Device states in the status frame's state nibble and the 'm' mode nibble.
inline constexpr uint8_t kDeviceStateNotMeasuring = 1;
inline constexpr uint8_t kDeviceStateMeasuring = 3;
inline constexpr uint8_t kDeviceStateTest = 4;
inline constexpr uint8_t kDeviceModeBootloader = 7;

// Device errors of this value and above cannot be cleared.
inline constexpr uint8_t kPermanentErrorFlag = 0x80;
// Warnings that raise error 0x40 when no error stands.
inline constexpr uint32_t kPulseWarningMask = 0x80000020u;
inline constexpr uint8_t kNoPulseError = 0x40;

NanoMessage MakeKeepAlive();
// Cuff value -1 is sent as 1, -2 as 2.
NanoMessage MakeCuffSelect(int32_t cuffValue);
NanoMessage MakeEvent(uint8_t subCommand);
NanoMessage MakePhysioCal(uint8_t on);
NanoMessage MakeModeQuery();
NanoMessage MakeStatusRequest();
// The 14-byte start form of 't'.
NanoMessage MakeTestStart(uint8_t testType, uint32_t cuffSelector, uint32_t pressureMmHg,
                          uint32_t periodMs);
NanoMessage MakeTestStop();
NanoMessage MakeUpdateRequest();
NanoMessage MakeVersionRequest(uint8_t selector);
NanoMessage MakeZeroHcu();

// The period of a square wave: 1000 / frequency, truncated to 16 bits.
uint32_t SquareWavePeriodMs(double hertz);

// 'd': one pressure sample.
struct DataFrame {
  static constexpr size_t kSize = 9;
  uint16_t counter = 0;  // +1 per 5 ms sample, wraps
  uint16_t bp = 0;       // finger pressure, 0.1 mmHg
  uint16_t hgt = 0;      // height correction, 0.1 mmHg
  uint16_t plet = 0;     // plethysmogram, raw
  uint8_t flags = 0;     // not interpreted
};
DataFrame DecodeData(const NanoMessage& message);

// 'b': one beat.
struct BeatFrame {
  static constexpr size_t kSize = 14;
  uint16_t counter = 0;  // sample counter of the beat
  uint8_t b2b = 0;       // not interpreted
  uint16_t sys = 0;      // 0.1 mmHg
  uint16_t dia = 0;      // 0.1 mmHg
  uint16_t map = 0;      // 0.1 mmHg
  uint16_t hr = 0;       // 0.1 beats per minute
  uint16_t ibi = 0;      // ms; 0 = no valid interval
};
BeatFrame DecodeBeat(const NanoMessage& message);

// 's': the device status.
struct StatusFrame {
  static constexpr size_t kSize = 15;
  uint16_t counter = 0;   // sample counter at the time of the status
  uint8_t state = 0;      // bits 7-4 device state, bit 0 busy
  uint8_t mError = 0;     // device error, 0 = none
  uint32_t mWarning = 0;  // warning bits
  uint8_t hcu = 0;        // bits 7-5 the HCU state
  uint8_t channel8 = 0;   // bits 1-0
  uint8_t extra = 0;      // bits 7-6 a 2-bit code, bits 3-0 channel 10
  uint8_t channel11 = 0;  // 8-bit value

  uint8_t StateNibble() const { return static_cast<uint8_t>(state >> 4); }
};
StatusFrame DecodeStatus(const NanoMessage& message);

// 'm': mode byte.
struct ModeFrame {
  uint8_t mode = 0;        // bits 7-4
  uint8_t eraseState = 0;  // bits 2-1
  uint8_t busy = 0;        // bit 0
};
ModeFrame DecodeMode(const NanoMessage& message);

// The fields of a bootloader or firmware version record that the module uses.
struct VersionNumbers {
  uint16_t hardwareId = 0;
  uint8_t major = 0;
  uint8_t minor = 0;
  uint16_t patch = 0;
  uint16_t revision = 0;
  uint8_t protocol = 0;
};

// 'v': one version record.
struct VersionFrame {
  static constexpr size_t kRecordSize = 120;
  static constexpr size_t kHardwareRecordSize = 122;
  uint8_t typeNumber = 0;                             // written to the trace
  char structure = 0;                                 // 'B', 'I', 'O', 'H', 'N' or other
  std::array<uint8_t, kHardwareRecordSize> record{};  // zero beyond what arrived
};
VersionFrame DecodeVersion(const NanoMessage& message);
VersionNumbers DecodeVersionNumbers(const uint8_t* record);
// The serial number of a hardware record: the text at offset 22 up to its NUL,
// never beyond the record's 100 bytes there.
std::string SerialNumberOf(const std::array<uint8_t, VersionFrame::kHardwareRecordSize>& record);

}  // namespace corvane::nano
