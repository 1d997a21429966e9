// The device error catalogue: what a device error code means to the trace, to
// the host's abort request and to the user, and which reply lines reporting it
// takes.
//
// Codes: 1 to 30 are the vendor library's dmsError codes; 256 + n is error n
// of the Vive Zore wrist unit; 320 and 321 are the Nano back-end's own.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "support/mvx_string.h"

namespace corvane {

// Markers of a catalogue entry.
enum ErrorMarker : uint32_t {
  // The log form goes out at once as a plain reply line, and the abort line
  // carries no reason.
  kErrorImmediateLine = 1u << 0,
  // Aborts sampling whatever the continue-after-error setting says.
  kErrorAlwaysAborts = 1u << 1,
  // Not reported after the engine itself has disconnected from the device.
  kErrorIgnoredWhileDisconnected = 1u << 2,
};

struct ErrorCatalogueEntry {
  int32_t firstCode;  // the codes firstCode..lastCode share the entry
  int32_t lastCode;
  uint32_t markers;                // ErrorMarker bits
  const wchar_t* logForm;          // short name for the abort line; null: the unknown-error text
  const wchar_t* userMessage;      // null: the unknown-error text
  const wchar_t* longDescription;  // for the trace; vendor library codes only, else null
};

// The entry that holds `code`, or null for a code that no entry lists.
const ErrorCatalogueEntry* FindErrorEntry(int32_t code);

// Prefix of the trace message callers write after a failed device call:
// kFailedCallTracePrefix + DescribeDmsError(code).
inline constexpr const wchar_t* kFailedCallTracePrefix = L"!!! err == ";

// The long description of a vendor library code 0..30; for any other code
// "Unhandled error code: " and the code in signed decimal.
std::wostream& DescribeDmsError(std::wostream& stream, int32_t code);
MVX::MVXString DescribeDmsError(int32_t code);

// The numbered title that starts the user text: "Corvane Controller Error 17: ",
// "Corvane Nano Error 6: " (256..319) or "Corvane Sampling Error 1: " (320 on).
MVX::MVXString DeviceErrorTitle(int32_t code);

// What the engine knows when it reports a device error.
struct DeviceErrorContext {
  bool isSampling = false;          // the engine's IsSampling flag
  bool continueAfterError = false;  // the back-end's GetContinueAfterError() != 0
  bool engineDisconnected = false;  // mConnectResult is 5: the engine disconnected itself
};

// One effect of reporting an error, in the order the engine carries them out.
struct DeviceErrorStep {
  enum class Kind { SendLine, StopSampling };
  Kind kind;
  MVX::MVXString line;  // the reply line, for SendLine
};

struct DeviceErrorReport {
  // The new mLastError: the title and the user message. Assigned also when
  // nothing is reported (then it holds the title alone).
  MVX::MVXString lastError;
  // False for code 5 after the engine disconnected: nothing is sent or traced
  // and mLastErrorCode keeps its value. True: set mLastErrorCode to the code
  // after the steps.
  bool reported = false;
  std::vector<DeviceErrorStep> steps;
  MVX::MVXString traceMessage;  // debug trace message (unit "DMSWrapper") when reported
  MVX::MVXString logMessage;    // module log message when reported
};

// Plans the report of device error `code`. The engine has already taken the
// code from the device status (or the sample collector's last record) and
// skipped it when it is 0 (the plan would be empty) or equals mLastErrorCode.
// It then assigns lastError, carries out the steps, and, when reported, sets
// mLastErrorCode and writes the trace and log messages.
DeviceErrorReport PlanDeviceErrorReport(int32_t code, const DeviceErrorContext& context);

}  // namespace corvane
