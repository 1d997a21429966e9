// The abstract device API through which the engine reaches the hardware.
//
// Operations mirror the vendor library's entry points one for one, plus four of
// the module's own. Contract for every operation:
//  - results are dmsError codes (0 success; a connect also succeeds with 1);
//    no exception ever crosses this interface;
//  - after construction, DMS_ operations and the continue-after-error pair are
//    called from the engine's worker thread only, one at a time: the interface
//    holds no lock;
//  - LoadedOk is also called from host threads; its answer is fixed when
//    construction ends.
// Sample fetches (DMS_Get...Samples): on entry *count is the capacity of
// `records`; on return it holds the number written (at most the capacity,
// oldest first), and those records leave the back-end's queue. A null
// `records` discards the whole queue of that kind and returns 0 (the count is
// not looked at); a null count with records returns dmsError_NullPointer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "api/dms_records.h"

namespace corvane {

class FinapresAPI_I {
 public:
  virtual ~FinapresAPI_I() = default;

  // True when the back-end is usable.
  virtual bool LoadedOk() = 0;
  // Milliseconds after the engine's creation before it may use the back-end.
  virtual uint32_t GetStartupDelayMs() = 0;
  // Whether the host should shift the beat-based channels by channel 7.
  virtual bool NeedsBeatShift() { return true; }

  virtual int32_t DMS_Connect() = 0;
  virtual int32_t DMS_Disconnect() = 0;
  virtual int32_t DMS_GetStatusConnect() = 0;
  // Text calls: *length is the capacity in bytes on entry and the text's
  // length on return; the text is zero-terminated, in the ANSI code page.
  virtual int32_t DMS_GetSerialNr(char* text, uint16_t* length) = 0;
  virtual int32_t DMS_GetVersion(int32_t which, char* text, uint16_t* length) = 0;
  virtual int32_t DMS_GetStatus(DMSStatus* status) = 0;
  virtual int32_t DMS_ClearError() = 0;
  virtual int32_t DMS_SetMode(int32_t mode) = 0;
  virtual int32_t DMS_GetTestSteadyPressure(uint16_t* mmHg) = 0;
  virtual int32_t DMS_SetTestSteadyPressure(uint16_t mmHg) = 0;
  virtual int32_t DMS_GetTestSquarePressure(uint16_t* mmHg) = 0;
  virtual int32_t DMS_SetTestSquarePressure(uint16_t mmHg) = 0;
  virtual int32_t DMS_GetTestSquareFrequency(double* hertz) = 0;
  virtual int32_t DMS_SetTestSquareFrequency(double hertz) = 0;
  virtual int32_t DMS_ZeroHCU() = 0;
  // Cuff selection: kCuff1 (-1) or kCuff2 (-2).
  virtual int32_t DMS_GetCuffSwitching(int32_t* cuff) = 0;
  virtual int32_t DMS_SetCuffSwitching(int32_t cuff) = 0;
  virtual int32_t DMS_GetPatientData(PatientData* data) = 0;
  virtual int32_t DMS_SetPatientData(PatientData data) = 0;
  virtual int32_t DMS_GetPhysioCal(int32_t* on) = 0;
  virtual int32_t DMS_SetPhysioCal(int32_t on) = 0;
  // 1 = keep sampling after a device error, 0 = abort.
  virtual int32_t GetContinueAfterError(int32_t* flag) = 0;
  virtual int32_t SetContinueAfterError(int32_t flag) = 0;
  // A record of the back-end's own; the engine does not call it.
  virtual int32_t DMS_GetInternalStatus(void* record) = 0;
  virtual uint16_t DMS_GetPressureNbrSamples() = 0;
  virtual int32_t DMS_GetPressureSamples(uint16_t* count, PressureSample* records) = 0;
  virtual uint16_t DMS_GetHeightAndStatusNbrSamples() = 0;
  virtual int32_t DMS_GetHeightAndStatusSamples(uint16_t* count,
                                                HeightAndStatusSample* records) = 0;
  virtual uint16_t DMS_GetBeatToBeatNbrSamples() = 0;
  virtual int32_t DMS_GetBeatToBeatSamples(uint16_t* count, BeatToBeatSample* records) = 0;
  virtual uint16_t DMS_GetMarkerNbrSamples() = 0;
  virtual int32_t DMS_GetMarkerSamples(uint16_t* count, MarkerSample* records) = 0;
};

// Creates one candidate back-end, or null when it cannot be allocated.
using BackEndFactory = std::function<std::unique_ptr<FinapresAPI_I>()>;

// The wrist unit driver; null until a wrist unit driver is built in.
std::unique_ptr<FinapresAPI_I> CreateNanoBackEnd();
// The vendor library back-end; constructing it loads the library.
std::unique_ptr<FinapresAPI_I> CreateLibraryBackEnd();

// Tries the candidates in order and returns the first that is loaded and
// connects (result 0 or 1), still connected; a candidate whose connect fails
// is disconnected and destroyed. Null when none is usable.
std::unique_ptr<FinapresAPI_I> ProbeBackEnd(std::span<const BackEndFactory> candidates);
// The module's own order: the wrist unit first, then the vendor library.
std::unique_ptr<FinapresAPI_I> ProbeBackEnd();

}  // namespace corvane
