// Starting and stopping a recording, and the device work of every pass.
#include <algorithm>

#include "engine/dms_wrapper.h"
#include "engine/error_catalogue.h"
#include "platform/time.h"
#include "support/debug_trace.h"

namespace corvane {
namespace {

constexpr uint32_t kStopPollMs = 100;
constexpr int64_t kStopWaitMs = 1000;
constexpr int kStopPollLimit = 10;  // the wait's bound also under a test clock
constexpr int64_t kDrainLimitMs = 100;
constexpr int32_t kBacklogThreshold = 16;  // more than half a fetch: keep draining

constexpr PatientData kPatientData{21, 0, 1, 0};

constexpr wchar_t kAbortCommError[] = L"#abort Corvane Controller communication error!";
constexpr wchar_t kCommErrorText[] = L"Corvane Controller communication error.";

bool IsStopped(int32_t mode) { return mode == kModeIdle || mode == kModeDeviceOnly7; }

int32_t ApiCuff(int32_t cuff) { return cuff != 0 ? kCuff2 : kCuff1; }

}  // namespace

void DMSWrapper::TraceFailure(const wchar_t* prefix, int32_t result) {
  if (result != 0) MVX_TRACE(MVX::kUnitDMSWrapper, prefix + DescribeDmsError(result));
}

void DMSWrapper::StartSampling() {
  mLastError.clear();
  mLastErrorCode = 0;
  TraceFailure(L"!!! err: ", mDevice->DMS_SetMode(kModeIdle));

  bool calibration = Flag(kFlagPhysioCalOn);
  if (mTestEnabled) {
    mMeasureMode = mTestMode;
    calibration = false;
  } else {
    mMeasureMode = kModeMeasure;
    if (calibration) mDevice->DMS_SetPatientData(kPatientData);
  }
  const int32_t wanted = calibration ? 1 : 0;
  TraceFailure(L"!!! err == ", mDevice->DMS_SetPhysioCal(wanted));
  int32_t isOn = wanted;
  TraceFailure(L"!!! err == ", mDevice->DMS_GetPhysioCal(&isOn));
  if (isOn != wanted) MVX_TRACE(MVX::kUnitDMSWrapper, L"!!! isOn == setPhyioCalOn");

  if (Flag(kFlagUseComments)) {
    DMSStatus status{};
    // An unreadable status says nothing about the HCU: no comment then.
    if (mDevice->DMS_GetStatus(&status) == dmsError_NoError) {
      if (status.mHCUStatus == kHcuNotConnected) {
        SendReply(L"&UHCU not connected");
      } else if (status.mHCUStatus != kHcuZeroed) {
        SendReply(L"&UHCU not zeroed");
      }
    }
    if (mMeasureMode == kModeTestSteady) SendReply(L"&UTest mode - Steady pressure");
    if (mMeasureMode == kModeTestSquare) SendReply(L"&UTest mode - Square wave pressure");
    if (mMeasureMode == kModeTestSimulate) SendReply(L"&UTest mode - Simulate pressure");
  }

  mSampleCollector.FlushSamples();
  mCuffSwitchTimer.SetStart(mCuffSwitchTimer.Now());
  const int32_t started = mDevice->DMS_SetMode(mMeasureMode);
  TraceFailure(L"!!! err: ", started);

  int32_t deviceCuff = kCuff1;  // assumed when the device cannot tell
  TraceFailure(L"!!! err == dmsError_NoError ", mDevice->DMS_GetCuffSwitching(&deviceCuff));
  MVX_TRACE(MVX::kUnitDMSWrapper, L"Start cuff is " + std::to_wstring(deviceCuff));

  mLastCuff = mStartCuff;
  const int32_t onCuff = mDevice->DMS_SetCuffSwitching(ApiCuff(mStartCuff));
  TraceFailure(L"!!! err: ", onCuff);
  // A refused cuff is due again at the first pass, whose cuff check then ends
  // the recording as any refused switch does, instead of letting it run on
  // the wrong finger until the interval is up.
  if (onCuff != dmsError_NoError) {
    mCuffSwitchTimer.SetStart(mCuffSwitchTimer.Now() - mCuffSwitchTimer.Period());
  }
  SetFlag(kFlagIsSampling, true);
  // A device that refused the measurement records nothing the host asked for;
  // the start's "<OK" alone would hide that, so it is reported as a device
  // error would be, with the abort request unless errors are to be ridden out.
  if (started != dmsError_NoError) ReportError(started);
}

void DMSWrapper::StopSampling() {
  TraceFailure(L"!!! err == ", mDevice->DMS_SetMode(kModeIdle));
  mSampleCollector.FlushSamples();
  const MVX::IntervalTimer wait(kStopWaitMs, *mClock);
  for (int polls = 1;; ++polls) {
    platform::SleepMs(kStopPollMs);
    DMSStatus status{};
    mDevice->DMS_GetStatus(&status);
    if (IsStopped(status.mMode)) break;
    if (wait.Remaining() <= 0 || polls >= kStopPollLimit) {
      mDevice->DMS_SetMode(kModeIdle);
      break;
    }
  }
  SetFlag(kFlagIsSampling, false);
}

bool DMSWrapper::PollDevice(bool& busy) {
  if (mStartupTimer.Remaining() > 0) return true;
  if (Flag(kFlagIsSampling) && !PollWhileSampling(busy)) return false;
  if (Flag(kFlagIsSampling) && mMeasureMode == kModeMeasure && !CheckCuffSwitch()) return false;
  return ReportDeviceError() || StopRequested();
}

bool DMSWrapper::PollWhileSampling(bool& busy) {
  const int64_t t0 = mClock->NowMs();
  DMSStatus status{};
  TraceFailure(L"!!! err == ", mDevice->DMS_GetStatus(&status));
  do {
    const int64_t countdown = std::max<int64_t>(0, mCuffSwitchTimer.Remaining());
    int32_t count = 0;
    mSampleCollector.CollectSamples(*this, &count, countdown);
    busy = count > kBacklogThreshold;
  } while (busy && mClock->NowMs() - t0 < kDrainLimitMs);
  return true;
}

bool DMSWrapper::CheckCuffSwitch() {
  if (mCuffSwitchTimer.Remaining() > 0) return true;
  if (mCuffMode == 2) mLastCuff = 1 - mLastCuff;

  int32_t reported = kCuff1;
  TraceFailure(L"!!! err == ", mDevice->DMS_GetCuffSwitching(&reported));
  const int32_t deviceCuff = reported == kCuff1 ? 0 : 1;
  if (deviceCuff != mLastCuff) {
    const int32_t result = mDevice->DMS_SetCuffSwitching(ApiCuff(mLastCuff));
    if (result != dmsError_NoError) {
      StopSampling();
      SendReply(kAbortCommError);
      mLastError = kCommErrorText;
      TraceFailure(L"!!! err == ", result);
      return false;
    }
    if (Flag(kFlagUseComments)) {
      SendReply(L"&USwitch to finger cuff " + std::to_wstring(mLastCuff + 1));
    }
  }

  // Re-arm: keep the cadence unless the worker was held up for more than half
  // an interval, in which case the next interval starts now.
  const int64_t now = mCuffSwitchTimer.Now();
  const int64_t overdue =
      std::max<int64_t>(0, now - (mCuffSwitchTimer.Start() + mCuffSwitchTimer.Period()));
  if (overdue > mCuffSwitchTimer.Period() / 2) {
    mCuffSwitchTimer.SetStart(now);
  } else {
    mCuffSwitchTimer.Advance();
  }
  return true;
}

}  // namespace corvane
