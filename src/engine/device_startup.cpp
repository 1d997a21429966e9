// Device start-up ("init") and zeroing of the height correction unit.
#include "engine/dms_wrapper.h"
#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane {
namespace {

constexpr wchar_t kControllerOff[] =
    L"The Corvane Controller is turned off. Please make sure the device is plugged in and turned "
    L"on.";
constexpr wchar_t kControllerNotFound[] =
    L"The Corvane Controller cannot be found. Please make sure the device is plugged in and "
    L"turned on.";
constexpr wchar_t kUnexpectedConnect[] = L"Unexpected Corvane Controller connection error: ";
constexpr wchar_t kWristCableDisconnected[] =
    L"The Corvane Controller wrist unit cable is disconnected.";

// "\\n" below is a backslash and an n: the host renders it, with the help link.
constexpr wchar_t kHcuNotConnectedText[] =
    L"The Height Correction Unit (HCU) is not connected. Connect the HCU to the Corvane Wrist "
    L"unit and hold the reference and sensor at the same level, then press the Zero button "
    L"again.\\n\\nSee the Help for more information.{help:second_topic}";
constexpr wchar_t kZeroFailedNotConnected[] =
    L"Zero failed. The Height Correction Unit (HCU) is not connected. Connect the HCU to the "
    L"Corvane Wrist unit and hold the reference and sensor at the same level, then press the Zero "
    L"button again.\\n\\nSee the Help for more information.{help:second_topic}";
constexpr wchar_t kZeroFailedLevel[] =
    L"Zero failed. Hold the Height Correction Unit (HCU) reference and sensor at the same level, "
    L"then press the Zero button again.\\n\\nSee the Help for more information."
    L"{help:second_topic}";
constexpr wchar_t kZeroFailedBadCode[] = L"Zero failed. Bad controller code returned.";

constexpr int32_t kHcuUnfilled = -1;  // preset: a back-end that leaves it alone

}  // namespace

MVXString ConnectFailureText(int32_t result) {
  if (result == dmsError_NoCommunication) return kControllerOff;
  if (result == dmsError_NoDevice) return kControllerNotFound;
  return kUnexpectedConnect + std::to_wstring(result);
}

void DMSWrapper::DoInit() {
  mDevice->DMS_ClearError();
  mConnectResult = mDevice->DMS_Connect();
  MVX_TRACE(MVX::kUnitDMSWrapper, L"--- Sent DMS_Connect()");
  if (mConnectResult == dmsError_NoError) mConnectResult = dmsError_Online;
  if (mConnectResult != dmsError_Online) {
    mLastError = ConnectFailureText(mConnectResult);
    SendReply(kReplyFail);
    return;
  }
  DMSStatus status{};
  mDevice->DMS_GetStatus(&status);
  if (status.mWarning == kWarningWristUnitCable) {
    mLastError = kWristCableDisconnected;
    SendReply(kReplyFail);
    return;
  }
  SendReply(kReplyOK);
  mLastError.clear();
  mLastErrorCode = 0;
  mSampleCollector.FlushSamples();
  MVX_TRACE(MVX::kUnitDMSWrapper, L"--- Done NIBP DoInit");
}

void DMSWrapper::ZeroHCU() {
  SetFlag(kFlagZeroFailed, true);
  mDevice->DMS_ZeroHCU();
  SendReply(kReplyOK);
}

void DMSWrapper::CheckHCUZero() {
  DMSStatus status{};
  status.mHCUStatus = kHcuUnfilled;
  mDevice->DMS_GetStatus(&status);
  if (status.mBusy != 0) {
    SendReply(kReplyNo);
    return;
  }
  switch (status.mHCUStatus) {
    case kHcuZeroed:
      SetFlag(kFlagZeroFailed, false);
      SendReply(kReplyYes);
      return;
    case kHcuNotConnected:
      mLastError = kHcuNotConnectedText;
      break;
    case kHcuNotZeroed:
      mLastError = kZeroFailedLevel;
      break;
    case kHcuUnfilled:
      mLastError = kZeroFailedNotConnected;
      SendReply(L"^HCU not zeroed.");
      break;
    default:
      mLastError = kZeroFailedBadCode;
      MVX_TRACE(MVX::kUnitDMSWrapper, L"HCUStatus bad code: " + std::to_wstring(status.mHCUStatus));
      MVX::ModuleLog::Write(L"!!! CVN HCUStatus bad code: " + std::to_wstring(status.mHCUStatus));
      break;
  }
  SendReply(L"^" + mLastError);
}

}  // namespace corvane
