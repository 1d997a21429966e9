// Turns a device error in the status into user messages and abort requests.
#include "engine/dms_wrapper.h"
#include "engine/error_catalogue.h"
#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane {

bool DMSWrapper::ReportDeviceError() {
  mDevice->DMS_ClearError();
  DMSStatus status{};
  mDevice->DMS_GetStatus(&status);
  int32_t code = status.mError;
  // An error seen only in a sample record is taken from there, once.
  if (code == 0) code = mSampleCollector.TakeLastRecordError();
  if (code != 0) ReportError(code);
  return true;
}

void DMSWrapper::ReportError(int32_t code) {
  if (code == mLastErrorCode) return;
  int32_t continueAfterError = 0;
  mDevice->GetContinueAfterError(&continueAfterError);
  DeviceErrorContext context;
  context.isSampling = Flag(kFlagIsSampling);
  context.continueAfterError = continueAfterError != 0;
  context.engineDisconnected = mConnectResult == kConnectResultDisconnected;

  DeviceErrorReport report = PlanDeviceErrorReport(code, context);
  mLastError = report.lastError;
  if (!report.reported) return;
  for (const DeviceErrorStep& step : report.steps) {
    if (step.kind == DeviceErrorStep::Kind::StopSampling) {
      StopSampling();
    } else {
      SendReply(step.line);
    }
  }
  mLastErrorCode = code;
  MVX_TRACE(MVX::kUnitDMSWrapper, report.traceMessage);
  MVX::ModuleLog::Write(report.logMessage);
}

}  // namespace corvane
