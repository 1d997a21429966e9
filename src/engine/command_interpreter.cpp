// The text command protocol: one line per worker pass.
#include "engine/command_interpreter.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <locale>
#include <sstream>

#include "engine/dms_wrapper.h"
#include "platform/resources.h"
#include "platform/time.h"
#include "support/debug_trace.h"
#include "support/xmvx.h"

namespace corvane {
namespace {

constexpr int kControlListResource = 103;
constexpr uint32_t kExitDrainMs = 100;
constexpr uint32_t kExitDrainStepMs = 10;
constexpr uint16_t kTextBufferSize = 256;
constexpr wchar_t kBadParameter[] = L"Unknown command or bad parameter";
constexpr wchar_t kInvalidCommand[] = L"Invalid command";

void ThrowBadParameter() { throw DMSException(kBadParameter); }

// The test pressures and frequency reach the device as 16-bit values. A larger
// number goes on as the largest one, which the device refuses like any other
// value beyond its range; cut to 16 bits it would become a small value that
// the device accepts (65586 would set 50 mmHg).
uint16_t DeviceWord(int32_t n) { return static_cast<uint16_t>(std::min<int32_t>(n, UINT16_MAX)); }

}  // namespace

MVXString SplitHead(MVXString& line, const wchar_t* delimiters) {
  const size_t at = line.find_first_of(delimiters);
  if (line.empty() || at == MVXString::npos) {
    MVXString head = std::move(line);
    line.clear();
    return head;
  }
  MVXString head = line.substr(0, at);
  line.erase(0, at + 1);
  return head;
}

int32_t ParseInteger(const MVXString& text) {
  std::istringstream in(text.ToUtf8());
  in.imbue(std::locale::classic());
  int32_t value = 0;
  if (!(in >> value)) return kNoNumber;
  return value;
}

bool DMSWrapper::InterpretLine(const MVXString& line) {
  const size_t prefix = line.find_first_of(L">?");
  MVX_TRACE(MVX::kUnitDMSWrapper, L"--- DMSWrapper handling: '" + line + L"'");
  if (prefix == MVXString::npos) {
    mLastError = kInvalidCommand;
    SendReply(kReplyInvalid);
    return true;
  }
  MVXString rest = line.substr(prefix + 1);
  const MVXString word = SplitHead(rest, L"/");
  if (word == L"dev") return HandleDev(std::move(rest));
  if (word == L"in") return HandleIn(std::move(rest));
  SendReply(kReplyCommError);
  return true;
}

bool DMSWrapper::HandleDev(MVXString rest) {
  MVX_TRACE(MVX::kUnitDMSWrapper, L"--- NIBP handling: " + rest);
  const MVXString word = SplitHead(rest, L"/ ");
  const MVXString& parameter = rest;

  if (word == L"version" || word == L"serialnum") {
    char text[kTextBufferSize] = {};
    uint16_t size = kTextBufferSize;
    if (word == L"version") {
      mDevice->DMS_GetVersion(0, text, &size);
    } else {
      mDevice->DMS_GetSerialNr(text, &size);
    }
    text[kTextBufferSize - 1] = '\0';
    SendReply(L"=" + MVXString::FromAnsi(text));
    return true;
  }
  if (word == L"init") {
    DoInit();
    return true;
  }
  if (word == L"exit") {
    if (mConnectResult != kConnectResultDisconnected) mDevice->DMS_Disconnect();
    mConnectResult = kConnectResultDisconnected;
    SendReply(kReplyOK);
    // Give the host a moment to read the reply before the worker ends.
    for (uint32_t waited = 0; waited < kExitDrainMs && !mReplyRing.Empty();
         waited += kExitDrainStepMs) {
      platform::SleepMs(kExitDrainStepMs);
    }
    RequestStop();
    return true;
  }
  if (word == L"startwarning") {
    AnswerStartWarning();
    return true;
  }
  if (word == L"isok") {
    SendReply(IsAlive() ? kReplyYes : kReplyNo);
    return true;
  }
  if (word == L"lasterror") {
    const MVXString reply = L"=" + mLastError;
    mLastError.clear();
    mLastErrorCode = 0;
    SendReply(reply);
    return true;
  }
  try {
    return HandleSetting(word, parameter);
  } catch (const DMSException& error) {
    mLastError = error.Message();
    SendReply(kReplyCommError);
    return false;
  }
}

void DMSWrapper::AnswerStartWarning() {
  if (mTestEnabled && mTestMode == kModeTestSimulate) {
    SendReply(kReplyNo);
  } else if (Flag(kFlagNeedWarning)) {
    SetFlag(kFlagNeedWarning, false);
    SendReply(kReplyYes);
  } else {
    SendReply(kReplyNo);
  }
}

bool DMSWrapper::HandleSetting(const MVXString& word, const MVXString& parameter) {
  if (word.rfind(L"dms_", 0) != 0) {
    SendReply(kReplyCommError);
    return true;
  }
  const int32_t n = ParseInteger(parameter);
  const bool offOrOn = n == 1 || n == 2;
  auto accept = [&](bool accepted) {
    if (!accepted) ThrowBadParameter();
  };

  if (word == L"dms_InflateWarn") {
    accept(offOrOn);
  } else if (word == L"dms_UseComments") {
    accept(offOrOn);
    SetFlag(kFlagUseComments, n == 2);
  } else if (word == L"dms_ZeroHCU") {
    ZeroHCU();
    return true;
  } else if (word == L"dms_PCalOff") {
    accept(offOrOn);
    SetFlag(kFlagPhysioCalOn, n == 2);
    mDevice->DMS_SetPhysioCal(n == 2 ? 1 : 0);
  } else if (word == L"dms_CntKVSamp") {
    accept(offOrOn);
    SetFlag(kFlagCntKVSamplingOn, n == 2);
    mDevice->SetContinueAfterError(n == 2 ? 1 : 0);
  } else if (word == L"dms_EnableSwitching") {
    accept(offOrOn);
    if (n == 1) {
      SetFlag(kFlagEnableCuffSwitching, false);
      mCuffMode = mStartCuff;
    } else {
      SetFlag(kFlagEnableCuffSwitching, true);
      mCuffMode = 2;
      mCuffSwitchTimer.Restart();
    }
  } else if (word == L"dms_Start") {
    accept(offOrOn);
    mStartCuff = n - 1;
    if (!Flag(kFlagEnableCuffSwitching)) {
      mCuffMode = mStartCuff;
      mLastCuff = mStartCuff;
      // Due at once, so that the next poll puts the device on this cuff.
      mCuffSwitchTimer.SetStart(mCuffSwitchTimer.Now() - mCuffSwitchTimer.Period());
    }
  } else if (word == L"dms_Mins" && n >= 0) {
    mCuffSwitchTimer.SetPeriod(static_cast<int64_t>(n) * 60000);
  } else if (word == L"dms_IsZeroed") {
    CheckHCUZero();
    return true;
  } else if (word == L"dms_Test") {
    accept(n >= 2 && n <= 4);
    mTestMode = n + 2;  // 2, 3, 4 select modes 4, 5, 6
  } else if (word == L"dms_TestEnab") {
    accept(n == 0 || n == 1);
    mTestEnabled = n == 1;
  } else if (word == L"dms_Press") {
    accept(n > 0);
    uint16_t readBack = 0;
    mDevice->DMS_SetTestSteadyPressure(DeviceWord(n));
    mDevice->DMS_GetTestSteadyPressure(&readBack);
  } else if (word == L"dms_Offset") {
    accept(n > 0);
    uint16_t readBack = 0;
    mDevice->DMS_SetTestSquarePressure(DeviceWord(n));
    mDevice->DMS_GetTestSquarePressure(&readBack);
  } else if (word == L"dms_Freq") {
    accept(n > 0);
    double readBack = 0;
    mDevice->DMS_SetTestSquareFrequency(DeviceWord(n));
    mDevice->DMS_GetTestSquareFrequency(&readBack);
  } else {
    SendReply(kReplyCommError);
    return true;
  }
  SendReply(kReplyOK);
  return true;
}

bool DMSWrapper::HandleIn(MVXString rest) {
  const MVXString word = SplitHead(rest, L"/");
  const MVXString& tail = rest;
  if (word == L"nachans") {
    SendReply(L"=11");
  } else if (word == L"sampler") {
    HandleSampler(tail);
  } else if (word == L"controllist") {
    const auto bytes = platform::FindModuleResource(platform::kResourceTypeRcData,
                                                    kControlListResource);
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    SendReply(L"=" + MVXString::FromAnsi(text.c_str()));
  } else if (word.rfind(L"cha", 0) == 0 && tail == L"arithmetic") {
    AnswerArithmetic(word);
  } else {
    MVX_TRACE(MVX::kUnitDMSWrapper, L"??? Not handling: in/" + word);
    SendReply(kReplyCommError);
  }
  return true;
}

void DMSWrapper::AnswerArithmetic(const MVXString& word) {
  const MVXString digits = word.substr(3);
  const bool allDigits =
      !digits.empty() && digits.find_first_not_of(L"0123456789") == MVXString::npos;
  const int32_t channel = allDigits ? ParseInteger(digits) : kNoNumber;
  const bool beatChannel = (channel >= 3 && channel <= 7) || channel == 11;
  if (!beatChannel) {
    MVX_TRACE(MVX::kUnitDMSWrapper, L"??? Not handling: in/" + word);
    SendReply(kReplyCommError);
    return;
  }
  SendReply(mDevice->NeedsBeatShift() ? L"=NIBPShift(rch7,rch" + digits + L")" : MVXString(L"="));
}

bool DMSWrapper::HandleSampler(const MVXString& tail) {
  if (tail == L"start") {
    StartSampling();
    SendReply(kReplyOK);
  } else if (tail == L"stop") {
    StopSampling();
    SendReply(kReplyOK);
  } else {
    MVX_TRACE(MVX::kUnitDMSWrapper, L"??? Not handling: in/sampler/" + tail);
    SendReply(kReplyCommError);
  }
  return true;
}

}  // namespace corvane
