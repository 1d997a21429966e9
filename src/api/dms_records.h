// Records, codes and modes that cross the device API and the vendor library.
//
// The layouts are binary contracts with the vendor library: little-endian,
// fields at fixed offsets, no padding beyond the named spare fields. The
// static_asserts below keep them so on every compiler and target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// Result codes of the device API (the vendor library's dmsError codes).
enum DmsError : int32_t {
  dmsError_NoError = 0,
  dmsError_Online = 1,
  dmsError_NoCommunication = 2,
  dmsError_CommChannelInUse = 3,
  dmsError_NoDevice = 4,
  dmsError_Disconnected = 5,
  dmsError_NullPointer = 6,
  dmsError_NotAllowed = 7,
  dmsError_OutOfRange = 8,
  dmsError_NoDriver = 9,
  dmsError_WatchdogBarked = 10,
  dmsError_ADCTimeOut = 11,
  dmsError_Electronics = 12,
  dmsError_FingerTooThin = 13,
  dmsError_ManometerNulling = 14,
  dmsError_ADCNulling = 15,
  dmsError_PressureUnstable = 16,
  dmsError_CuffCable = 17,
  dmsError_CpuOverload = 18,
  dmsError_CuffOddSignal = 19,
  dmsError_CuffConnection = 20,
  dmsError_NoPlethysmogram = 21,
  dmsError_AirSupply = 22,
  dmsError_PowerSupply = 23,
  dmsError_PressureOutOfRange = 24,
  dmsError_PressureNoPattern = 25,
  dmsError_CheckPressureXDucer = 26,
  dmsError_RealTimeClock = 27,
  dmsError_FrontendConnection = 28,
  dmsError_ReconnectFrontend = 29,
  dmsError_FinalStop = 30,
};

// Operating modes: the argument of DMS_SetMode and DMSStatus::mMode.
enum DmsMode : int32_t {
  kModeDeviceOnly1 = 1,  // reported by the device only
  kModeIdle = 2,         // not measuring
  kModeMeasure = 3,
  kModeTestSteady = 4,
  kModeTestSquare = 5,
  kModeTestSimulate = 6,
  kModeDeviceOnly7 = 7,  // reported by the device only; counts as stopped
};

// Finger cuff selection for DMS_SetCuffSwitching / DMS_GetCuffSwitching.
inline constexpr int32_t kCuff1 = -1;
inline constexpr int32_t kCuff2 = -2;

// Status warning: the wrist unit cable is disconnected.
inline constexpr int32_t kWarningWristUnitCable = 7;

// HCU states in DMSStatus::mHCUStatus.
inline constexpr int32_t kHcuNotConnected = 0;
inline constexpr int32_t kHcuNotZeroed = 1;
inline constexpr int32_t kHcuZeroed = 2;

// One 5 ms sample period on the FILETIME scale (100-ns units since 1601).
inline constexpr uint64_t kSamplePeriodTicks = 50000;

#pragma pack(push, 4)

struct DMSStatus {
  int32_t mBusy;       // non-zero while an operation such as HCU zeroing runs
  int32_t mMode;       // current operating mode (DmsMode)
  int32_t mError;      // error code, 0 = none
  int32_t mWarning;    // warning code, 0 = none
  int32_t mChannel8;   // low 16 bits, signed, become channel 8
  int32_t mExtra1;     // device status value, not read by the engine
  int32_t mChannel10;  // becomes channel 10
  int32_t mChannel11;  // low 16 bits, signed, become channel 11
  int32_t mHCUStatus;  // 0 not connected, 1 not zeroed, 2 zeroed
  int32_t mExtra2;     // device status value, not read by the engine
};

struct PressureSample {
  uint64_t mTime;      // FILETIME-scale time stamp
  uint16_t mPressure;  // finger pressure, whole mmHg
  uint16_t mSpare;     // not used
};

struct HeightAndStatusSample {
  uint64_t mTime;     // on the 5 ms grid of the pressure samples
  int16_t mHeight;    // height-correction pressure, whole mmHg
  uint16_t mSpare;    // not used
  DMSStatus mStatus;  // device status at that time
};

struct BeatToBeatSample {
  uint64_t mTime;               // time stamp of the beat
  uint16_t mSystolic;           // mmHg
  uint16_t mMean;               // mmHg
  uint16_t mDiastolic;          // mmHg
  uint16_t mHeartRate;          // beats per minute
  uint16_t mInterbeatInterval;  // milliseconds
  uint16_t mSpare;              // not used
};

struct MarkerSample {
  uint8_t mData[8];  // content is the device's; the engine discards markers
};

struct PatientData {
  uint16_t mValue0;  // the engine sets 21
  uint16_t mSpare;   // the engine leaves 0
  int32_t mValue1;   // the engine sets 1
  int32_t mValue2;   // the engine sets 0
};

#pragma pack(pop)

static_assert(sizeof(DMSStatus) == 40);
static_assert(offsetof(DMSStatus, mWarning) == 12);
static_assert(offsetof(DMSStatus, mChannel8) == 16);
static_assert(offsetof(DMSStatus, mChannel10) == 24);
static_assert(offsetof(DMSStatus, mChannel11) == 28);
static_assert(offsetof(DMSStatus, mHCUStatus) == 32);
static_assert(offsetof(DMSStatus, mExtra2) == 36);

static_assert(sizeof(PressureSample) == 12);
static_assert(offsetof(PressureSample, mPressure) == 8);

static_assert(sizeof(HeightAndStatusSample) == 52);
static_assert(offsetof(HeightAndStatusSample, mHeight) == 8);
static_assert(offsetof(HeightAndStatusSample, mStatus) == 12);

static_assert(sizeof(BeatToBeatSample) == 20);
static_assert(offsetof(BeatToBeatSample, mSystolic) == 8);
static_assert(offsetof(BeatToBeatSample, mMean) == 10);
static_assert(offsetof(BeatToBeatSample, mDiastolic) == 12);
static_assert(offsetof(BeatToBeatSample, mHeartRate) == 14);
static_assert(offsetof(BeatToBeatSample, mInterbeatInterval) == 16);

static_assert(sizeof(MarkerSample) == 8);

static_assert(sizeof(PatientData) == 12);
static_assert(offsetof(PatientData, mValue1) == 4);
static_assert(offsetof(PatientData, mValue2) == 8);

}  // namespace corvane
