// The vendor control library's 30 entry points: their signatures and the order
// in which the library back-end resolves them.
//
// Every entry point uses the Win32 standard calling convention on Windows and
// takes exactly the arguments of the device API operation of the same name,
// with no object pointer. The simulated Controller library implements the same
// list, so both sides compile against this one header.
#pragma once

#include <cstdint>

#include "api/dms_records.h"
#include "platform/calling_convention.h"

// X(name, result type, parameter list) in resolution order.
#define CORVANE_DMS_ENTRY_POINTS(X)                                             \
  X(DMS_Connect, int32_t, (void))                                               \
  X(DMS_Disconnect, int32_t, (void))                                            \
  X(DMS_GetStatusConnect, int32_t, (void))                                      \
  X(DMS_GetSerialNr, int32_t, (char* text, uint16_t* length))                   \
  X(DMS_GetVersion, int32_t, (int32_t which, char* text, uint16_t* length))     \
  X(DMS_GetStatus, int32_t, (corvane::DMSStatus * status))                      \
  X(DMS_ClearError, int32_t, (void))                                            \
  X(DMS_SetMode, int32_t, (int32_t mode))                                       \
  X(DMS_GetTestSteadyPressure, int32_t, (uint16_t * mmHg))                      \
  X(DMS_SetTestSteadyPressure, int32_t, (uint16_t mmHg))                        \
  X(DMS_GetTestSquarePressure, int32_t, (uint16_t * mmHg))                      \
  X(DMS_SetTestSquarePressure, int32_t, (uint16_t mmHg))                        \
  X(DMS_GetTestSquareFrequency, int32_t, (double* hertz))                       \
  X(DMS_SetTestSquareFrequency, int32_t, (double hertz))                        \
  X(DMS_ZeroHCU, int32_t, (void))                                               \
  X(DMS_GetCuffSwitching, int32_t, (int32_t * cuff))                            \
  X(DMS_SetCuffSwitching, int32_t, (int32_t cuff))                              \
  X(DMS_GetPatientData, int32_t, (corvane::PatientData * data))                 \
  X(DMS_SetPatientData, int32_t, (corvane::PatientData data))                   \
  X(DMS_GetPhysioCal, int32_t, (int32_t * on))                                  \
  X(DMS_SetPhysioCal, int32_t, (int32_t on))                                    \
  X(DMS_GetInternalStatus, int32_t, (void* record))                             \
  X(DMS_GetPressureNbrSamples, uint16_t, (void))                                \
  X(DMS_GetPressureSamples, int32_t,                                            \
    (uint16_t * count, corvane::PressureSample * records))                      \
  X(DMS_GetHeightAndStatusNbrSamples, uint16_t, (void))                         \
  X(DMS_GetHeightAndStatusSamples, int32_t,                                     \
    (uint16_t * count, corvane::HeightAndStatusSample * records))               \
  X(DMS_GetBeatToBeatNbrSamples, uint16_t, (void))                              \
  X(DMS_GetBeatToBeatSamples, int32_t,                                          \
    (uint16_t * count, corvane::BeatToBeatSample * records))                    \
  X(DMS_GetMarkerNbrSamples, uint16_t, (void))                                  \
  X(DMS_GetMarkerSamples, int32_t,                                              \
    (uint16_t * count, corvane::MarkerSample * records))

namespace corvane::dms_library {

// Function pointer types, e.g. dms_library::DMS_Connect_fn.
#define CORVANE_DMS_DECLARE_FN(name, result, params) \
  using name##_fn = result(CORVANE_STDCALL*) params;
CORVANE_DMS_ENTRY_POINTS(CORVANE_DMS_DECLARE_FN)
#undef CORVANE_DMS_DECLARE_FN

inline constexpr int kEntryPointCount = 30;

}  // namespace corvane::dms_library
