// Device errors as the host learns of them: the user message, the abort
// request and their order against the end of sampling, for every code the
// device can report, through the engine's rings.
#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <string>
#include <vector>

#include "engine/error_catalogue.h"
#include "protocol_harness.h"

namespace {

using namespace corvane;
using namespace corvane::testing;

const std::string kUnknownError =
    "Unknown error. Check air hose, cables and cuffs. The device may require a power-cycle and "
    "Kymoview relaunched.";
const std::string kStop = "<sampling stops>";

std::string Narrow(const wchar_t* text) { return {text, text + std::wcslen(text)}; }

struct Catalogued {
  int32_t code;
  const wchar_t* title;
  const wchar_t* logForm;
  const wchar_t* userMessage;
};

// Every code with texts of its own, as the device vendor wrote them.
const Catalogued kCatalogue[] = {
    {2, L"Corvane Controller Error 2: ", L"dmsError_NoCommunication - current device offline",
     L"Please restart the Corvane Controller and Kymoview."},
    {3, L"Corvane Controller Error 3: ",
     L"dmsError_CommChannelInUse - communication channel in use",
     L"Cannot connect to Corvane Controller, communication channel in use."},
    {4, L"Corvane Controller Error 4: ",
     L"dmsError_NoDevice - no Corvane Controller device detected",
     L"No Corvane Controller device detected."},
    {5, L"Corvane Controller Error 5: ", L"dmsError_Disconnected - not connected",
     L"The Corvane Controller device is not connected."},
    {6, L"Corvane Controller Error 6: ", L"dmsError_NullPointer - null-pointer was passed",
     L"Software error - null-pointer was passed."},
    {7, L"Corvane Controller Error 7: ", L"dmsError_NotAllowed - current function not allowed",
     L"Command error - current function not allowed."},
    {8, L"Corvane Controller Error 8: ", L"dmsError_OutOfRange - parameter-value out of range",
     L"Command error - parameter-value out of range."},
    {10, L"Corvane Controller Error 10: ",
     L"dmsError_WatchdogBarked - watchdog signaled, probably power-loss",
     L"Power error - power-loss detected."},
    {11, L"Corvane Controller Error 11: ", L"dmsError_ADCTimeOut - didn't sample for >25ms",
     L"Sampling error - cannot sample for >25ms."},
    {12, L"Corvane Controller Error 12: ", L"dmsError_Electronics - turn off immediately!!",
     L"Please restart the Corvane Controller and Kymoview."},
    {13, L"Corvane Controller Error 13: ", L"dmsError_FingerTooThin - try smaller cuff",
     L"Cuff error - try smaller cuff."},
    {14, L"Corvane Controller Error 14: ",
     L"dmsError_ManometerNulling - zero offset too large for nulling",
     L"HCU error - zero offset too large."},
    {15, L"Corvane Controller Error 15: ", L"dmsError_ADCNulling - offset in ADC ground",
     L"Power error - offset in ADC ground."},
    {16, L"Corvane Controller Error 16: ",
     L"dmsError_PressureUnstable - pressure not stable enough",
     L"Cuff error - pressure not stable enough."},
    {17, L"Corvane Controller Error 17: ", L"dmsError_CuffCable - not connected or faulty wire",
     L"Finger cuff (or cuff cable) loose or not connected."},
    {18, L"Corvane Controller Error 18: ", L"dmsError_CpuOverload - not able to process samples",
     L"Sampling error - cannot process samples."},
    {19, L"Corvane Controller Error 19: ",
     L"dmsError_CuffOddSignal - probably pressing cuff or finger-tip",
     L"Cuff error - check finger cuff (or finger-tip)."},
    {20, L"Corvane Controller Error 20: ",
     L"dmsError_CuffConnection - not connected or faulty wire",
     L"Finger cuff (or cuff cable) loose or not connected."},
    {21, L"Corvane Controller Error 21: ",
     L"dmsError_NoPlethysmogram - try other warmer finger or thumb",
     L"No blood pressure signal. May be finger too cold, incorrect cuff size or bad cuff "
     L"position."},
    {22, L"Corvane Controller Error 22: ",
     L"dmsError_AirSupply - air hose kinked, leaking, or valve dirty",
     L"Air hose error - check air hose and valve."},
    {23, L"Corvane Controller Error 23: ", L"dmsError_PowerSupply - check power supply",
     L"Power error - power-loss detected."},
    {24, L"Corvane Controller Error 24: ", L"dmsError_PressureOutOfRange - pressure outside range",
     L"Cuff error - pressure outside range."},
    {25, L"Corvane Controller Error 25: ", L"dmsError_PressureNoPattern - results not sent",
     L"Sampling error - invalid pressure pattern."},
    {26, L"Corvane Controller Error 26: ", L"dmsError_CheckPressureXDucer - Check pressure xducer",
     L"Pressure error - check pressure transducer."},
    {27, L"Corvane Controller Error 27: ",
     L"dmsError_RealTimeClock - problem with real-time clock (RTC), probably power-failure of "
     L"RTC circuit",
     L"Clock error - problem with real-time clock."},
    {28, L"Corvane Controller Error 28: ",
     L"dmsError_FrontendConnection - disconnected during measurement",
     L"Please check the wrist unit connector."},
    {29, L"Corvane Controller Error 29: ",
     L"dmsError_ReconnectFrontend - reconnect frontend with power on",
     L"Please check the wrist unit connector."},
    {30, L"Corvane Controller Error 30: ",
     L"dmsError_FinalStop - Corvane Controller cannot recover",
     L"Fatal error. Please restart the Corvane Controller and Kymoview."},
    {257, L"Corvane Nano Error 1: ", L"nanoGeneralError - Corvane controller",
     L"Please check the wrist unit and restart the device."},
    {258, L"Corvane Nano Error 2: ",
     L"nanoLedContr_erro_LowControlVolt - reconnect frontend with power on",
     L"Please check the wrist unit and restart the device."},
    {259, L"Corvane Nano Error 3: ",
     L"nanoLedContr_erro_HighControlVolt - Unable to set correct LED current",
     L"Unable to set correct LED current. Please restart the device."},
    {260, L"Corvane Nano Error 4: ",
     L"nanoLedContr_erro_HighLedCurrent - Unable to set correct LED current",
     L"Unable to set correct LED current. Please restart the device."},
    {261, L"Corvane Nano Error 5: ",
     L"nanoLedContr_erro_TooManyIteratio - Unable to set correct LED current",
     L"Unable to set correct LED current. Please restart the device."},
    {262, L"Corvane Nano Error 6: ",
     L"nanoLedContr_erro_CurrBelowDrift - not connected or faulty wire",
     L"Finger cuff (or cuff cable) loose or not connected."},
    {263, L"Corvane Nano Error 7: ",
     L"nanoLedContr_erro_CurrAboveDrift - not connected or faulty wire",
     L"Finger cuff (or cuff cable) loose or not connected."},
    {264, L"Corvane Nano Error 8: ",
     L"nanoLedContr_erro_VoltBelowRange - not connected or faulty wire",
     L"Unable to set correct LED current. Please restart the device."},
    {265, L"Corvane Nano Error 9: ",
     L"nanoLedContr_erro_VoltBelowRange - not connected or faulty wire",
     L"Unable to set correct LED current. Please restart the device."},
    {266, L"Corvane Nano Error 10: ",
     L"nanoPlethysm_erro_TooMuchLight - not connected or faulty wire",
     L"The infrared level transmitted through the finger is too high. Try a smaller finger "
     L"cuff."},
    {267, L"Corvane Nano Error 11: ", L"nanoPhysScan_erro_SyncBeatTimeOut - Plethysmogram error",
     L"Odd plethysmogram detected, probably due to pressing the cuff or finger-tip."},
    {268, L"Corvane Nano Error 12: ", L"nanoPhysScan_erro_ScanFailed - no blood pressure signal",
     L"No blood pressure signal. May be: finger too cold, incorrect cuff size or bad cuff "
     L"position."},
    {269, L"Corvane Nano Error 13: ",
     L"nanoPhysScan_erro_BeatDownTimeOut - No plethysmogram can be detected after pressure "
     L"staircase",
     L"No plethysmogram detected. Check proper application of the finger cuff."},
    {270, L"Corvane Nano Error 14: ", L"nanoPresMoni_erro_IncorrectPress - Cuff pressure error",
     L"Cuff pressure error. Please check the cuff air hose."},
    {271, L"Corvane Nano Error 15: ", L"nanoPresMoni_erro_UnstablePress - Cuff pressure error",
     L"Cuff pressure unstable. Please check the cuff air hose."},
    {272, L"Corvane Nano Error 16: ", L"nanoManoBeDe_erro_PressTooLow - Cuff pressure error",
     L"Cuff pressure too low. Please check the cuff air hose."},
    {273, L"Corvane Nano Error 17: ", L"nanoSignInMo_erro_MeanPressLow - Cuff mean pressure error",
     L"Mean pressure has been below 10mmHg for 2.5s. Please check the cuff air hose."},
    {274, L"Corvane Nano Error 18: ", L"nanoSignInMo_erro_Unacceptable - Plethysmogram error",
     L"The plethysmogram values moved out of range. This may be a movement artifact."},
    {275, L"Corvane Nano Error 19: ", L"nanoSignInMo_erro_MeanPressHigh - Cuff mean pressure error",
     L"Mean pressure has been above 250 mmHg for 2.5s. Please check the cuff air hose."},
    {276, L"Corvane Nano Error 20: ",
     L"nanoPreContr_erro_CuffPreSensRang - Cuff pressure sensor out of range",
     L"Cuff pressure sensor out of range. Check if the finger cuff is wrapped tight enough "
     L"around the finger."},
    {277, L"Corvane Nano Error 21: ",
     L"nanoPreContr_erro_VolPreSensRang - Volume pressure sensor out of range",
     L"Volume pressure sensor out of range. Please check the cuff air hose."},
    {278, L"Corvane Nano Error 22: ", L"nanoPreContr_erro_CuffPreExceed - finger pressure too high",
     L"Pressure on the finger is too high, deflating for safety. May be because finger too "
     L"cold, incorrect cuff size or bad cuff position."},
    {279, L"Corvane Nano Error 23: ",
     L"nanoPreContr_erro_CuffPreExceLong - Cuff mean pressure error",
     L"Mean pressure has been above 250 mmHg for 2.5s. Please check the cuff air hose."},
    {280, L"Corvane Nano Error 24: ",
     L"nanoPreContr_erro_VolPreExceed - finger high pressure error",
     L"Pressure on the finger is too high, deflating for safety. May be because finger too "
     L"cold, incorrect cuff size or bad cuff position."},
    {281, L"Corvane Nano Error 25: ",
     L"nanoPreContr_erro_CurrExceedLong - current exceeded for too long",
     L"Please restart the wrist unit by reconnecting to CVN interface."},
    {282, L"Corvane Nano Error 26: ",
     L"nanoSysIntgr_erro_VoltageSenseFailure - Monitoring one of the internal voltages has "
     L"failed",
     L"Please restart the wrist unit by reconnecting to CVN interface."},
    {283, L"Corvane Nano Error 27: ",
     L"nanoSysIntgr_erro_HcuRefSenseFailure - Monitoring the reference voltage of the HCU has "
     L"failed.",
     L"HCU reference sensor failed. Please restart the wrist unit by reconnecting to CVN "
     L"interface."},
    {284, L"Corvane Nano Error 28: ",
     L"nanoSysIntgr_erro_PletRefSenseFailure - Plethysmograph reference monitor failed.",
     L"Plethysmograph reference monitor failed. Please restart the wrist unit by reconnecting "
     L"to CVN interface."},
    {285, L"Corvane Nano Error 29: ",
     L"nanoSysIntgr_erro_HouseTempSenseFailure - housing temperature sensor error.",
     L"Housing temperature sensor error. Please restart the wrist unit by reconnecting to CVN "
     L"interface."},
    {286, L"Corvane Nano Error 30: ",
     L"nanoSysIntgr_erro_cuffPressureSenseFailure - cuff pressure sensor failure.",
     L"Cuff pressure sensor failure. Please restart the wrist unit by reconnecting to CVN "
     L"interface."},
    {287, L"Corvane Nano Error 31: ",
     L"nanoSysIntgr_erro_cuffPressureSenseFailure - cuff pressure sensor failure.",
     L"Cuff pressure sensor failure. Please restart the wrist unit by reconnecting to CVN "
     L"interface."},
    {288, L"Corvane Nano Error 32: ", L"nanoSysIntgr_erro_VoltageOutLimits - Supply voltage error.",
     L"Supply voltage error. Please restart the wrist unit by reconnecting to CVN interface."},
    {289, L"Corvane Nano Error 33: ",
     L"nanoSysIntgr_erro_HcuRefOutLimits - Plethysmograph ref out of limits.",
     L"Plethysmograph ref out of limits. Please restart the wrist unit by reconnecting to CVN "
     L"interface."},
    {290, L"Corvane Nano Error 34: ",
     L"nanoSysIntgr_erro_PletRefOutLimits - Plethysmograph ref out of limits.",
     L"Plethysmograph ref out of limits. Please restart the wrist unit by reconnecting to CVN "
     L"interface."},
    {291, L"Corvane Nano Error 35: ",
     L"nanoSysIntgr_erro_cuffPressureSignalOffset - Pressure signal offset too large.",
     L"Pressure signal offset too large. Please restart the wrist unit by reconnecting to CVN "
     L"interface."},
    {292, L"Corvane Nano Error 36: ",
     L"nanoSysIntgr_erro_cuffVolumeSignalOffset - Pressure signal offset too large.",
     L"Pressure signal offset too large. Please keep the wrist unit stable during its start-up."},
    {293, L"Corvane Nano Error 37: ",
     L"nanoSysIntgr_erro_pressureSensorTimeout - Plethysmograph ref out of limits.",
     L"Plethysmograph ref out of limits. Please keep the wrist unit stable during its start-up."},
    {295, L"Corvane Nano Error 39: ",
     L"nanoAppContr_erro_PressureToHigh - finger high pressure error",
     L"Pressure on the finger is too high, deflating for safety. May be because finger too "
     L"cold, incorrect cuff size or bad cuff position."},
    {296, L"Corvane Nano Error 40: ",
     L"nanoAppContr_erro_caseTemperatureOutLimits - The housing of the wrist unit is too hot",
     L"The housing of the wrist unit is too hot. Please check convection possibilities around "
     L"the wrist unit."},
    {297, L"Corvane Nano Error 41: ",
     L"nanoAppContr_erro_pcbTemperatureOutLimits - The PCB of the wrist unit is too hot",
     L"The processor of the wrist unit is too hot. Please check convection possibilities "
     L"around the wrist unit."},
    {298, L"Corvane Nano Error 42: ",
     L"nanoAppContr_erro_MeasurementToLong - cuff measurement too long",
     L"The maximum time of 4 hours for measuring on a single cuff has exceeded. Please switch "
     L"to another cuff."},
    {299, L"Corvane Nano Error 43: ", L"nanoHcuContr_erro_hcuOffsetToBig - HCU offset too large",
     L"HCU offset too large. Please retry zeroing."},
    {300, L"Corvane Nano Error 44: ", L"nanoHcuContr_erro_NotAllowed - HCU zero during sampling",
     L"HCU can not be zeroed during sampling. Please stop recording if HCU zeroing is needed."},
    {301, L"Corvane Nano Error 45: ",
     L"nanoAppContr_erro_KeepAliveNotReceived - Keep Alive package timeout",
     L"The Keep Alive package has not been received in time from Kymoview. Please check cables "
     L"and restart the device and Kymoview."},
    {302, L"Corvane Nano Error 46: ",
     L"nanoAppContr_erro_IICDriverCommProblem - IIC Driver Communication issue",
     L"IIC Driver Communication issue. Please restart the device."},
    {320, L"Corvane Sampling Error 0: ", L"mvxNanoError_NoPulseDetected - no blood pressure signal",
     L"No pulse detected. Maybe because finger too cold, incorrect cuff size or bad cuff "
     L"position."},
    {321, L"Corvane Sampling Error 1: ",
     L"mvxNanoError_WatchdogBarked - disconnected during measurement",
     L"Please check the wrist unit connector."},
};

// An engine on a device with a standing error, started so that every code is
// reported (a "disconnected" error is not before the first start-up).
struct ErrorEngine {
  explicit ErrorEngine(bool startDevice = true) {
    fake = StartWith<StandingErrorBackEnd>(h, [](FakeBackEnd& f) {
      f.status.mHCUStatus = kHcuZeroed;  // no comment at sampling start
    });
    {
      std::lock_guard lock(fake->mutex);
      fake->replyRing = &h.engine->ReplyRing();
    }
    if (startDevice) {
      EXPECT_EQ(h.Ask(L">dev/init"), "<OK");
    }
  }
  void ContinueAfterError(bool on) {
    EXPECT_EQ(h.Ask(on ? L"?dev/dms_CntKVSamp 2" : L"?dev/dms_CntKVSamp 1"), "<OK");
  }
  void StartSampling() {
    EXPECT_EQ(h.Ask(L"?in/sampler/start"), "<OK");
    EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{});
  }
  // Sets the device's error and returns the lines that reporting it sends.
  std::vector<std::string> Report(int32_t code) {
    fake->SetError(code);
    return LinesThroughNextPoll(h);
  }

  EngineHarness h;
  StandingErrorBackEnd* fake = nullptr;
};

TEST(DeviceErrors, EveryCataloguedCodeReachesTheHostAsMessageAndAbortReason) {
  ErrorEngine e;  // continue-after-error off: every error asks for an abort
  for (const Catalogued& entry : kCatalogue) {
    SCOPED_TRACE(entry.code);
    const std::string userText = Narrow(entry.title) + Narrow(entry.userMessage);
    const bool immediate = entry.code == 7 || entry.code == 12;
    const std::vector<std::string> expected =
        immediate ? std::vector<std::string>{Narrow(entry.logForm), "&U " + userText, "#abort "}
                  : std::vector<std::string>{"&U " + userText, "#abort " + Narrow(entry.logForm)};
    EXPECT_EQ(e.Report(entry.code), expected);
    // The error gone: nothing more is said, and the text stays for the host.
    EXPECT_EQ(e.Report(0), std::vector<std::string>{});
    EXPECT_EQ(e.h.Ask(L"?dev/lasterror"), "=" + userText);
  }
  EXPECT_TRUE(e.h.engine->IsAlive());
}

TEST(DeviceErrors, CodesWithoutTextsTakeTheUnknownErrorText) {
  const std::pair<int32_t, std::string> codes[] = {
      {1, "Corvane Controller Error 1: "},
      {9, "Corvane Controller Error 9: "},
      {31, "Corvane Controller Error 31: "},
      {255, "Corvane Controller Error 255: "},
      {256, "Corvane Nano Error 0: "},
      {294, "Corvane Nano Error 38: "},
      {303, "Corvane Nano Error 47: "},
      {319, "Corvane Nano Error 63: "},
      {322, "Corvane Sampling Error 2: "},
      {999, "Corvane Sampling Error 679: "},
      {-3, "Corvane Controller Error -3: "},
      {-1, "Corvane Controller Error -1: "},
      {INT32_MIN, "Corvane Controller Error -2147483648: "},
  };
  for (const bool continueAfterError : {false, true}) {
    ErrorEngine e;
    e.ContinueAfterError(continueAfterError);
    for (const auto& [code, title] : codes) {
      SCOPED_TRACE(code);
      const std::string userText = title + kUnknownError;
      // The abort reason is the whole user text.
      std::vector<std::string> expected{"&U " + userText};
      if (!continueAfterError) expected.push_back("#abort " + userText);
      EXPECT_EQ(e.Report(code), expected);
      EXPECT_EQ(e.Report(0), std::vector<std::string>{});
      EXPECT_EQ(e.h.Ask(L"?dev/lasterror"), "=" + userText);
    }
  }
}

// Sampling stops before the host hears of an error that ends it, so no data
// line follows the abort request; only the immediate line of codes 7 and 12
// goes out before the stop.
TEST(DeviceErrors, ContinueAfterErrorSamplingAndTheOrderOfLines) {
  struct Case {
    int32_t code;
    bool continueAfterError;
    bool sampling;
    std::vector<std::string> lines;  // kStop where the device is set idle
  };
  const std::string cuff17 =
      "&U Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  const std::string abort17 = "#abort dmsError_CuffCable - not connected or faulty wire";
  const std::string electronics = "dmsError_Electronics - turn off immediately!!";
  const std::string restart12 =
      "&U Corvane Controller Error 12: Please restart the Corvane Controller and Kymoview.";
  const std::string fatal30 =
      "&U Corvane Controller Error 30: Fatal error. Please restart the Corvane Controller and "
      "Kymoview.";
  const std::string abort30 = "#abort dmsError_FinalStop - Corvane Controller cannot recover";
  const std::string notAllowed = "dmsError_NotAllowed - current function not allowed";
  const std::string command7 =
      "&U Corvane Controller Error 7: Command error - current function not allowed.";
  const std::string unknown9 = "Corvane Controller Error 9: " + kUnknownError;
  const Case cases[] = {
      {17, false, true, {kStop, cuff17, abort17}},
      {17, true, true, {cuff17}},
      {17, false, false, {cuff17, abort17}},
      {17, true, false, {cuff17}},
      {12, true, true, {electronics, kStop, restart12, "#abort "}},
      {12, false, true, {electronics, kStop, restart12, "#abort "}},
      {12, true, false, {electronics, restart12, "#abort "}},
      {30, true, true, {kStop, fatal30, abort30}},
      {30, true, false, {fatal30, abort30}},
      {7, true, true, {notAllowed, command7}},
      {7, false, true, {notAllowed, kStop, command7, "#abort "}},
      {262,
       true,
       true,
       {"&U Corvane Nano Error 6: Finger cuff (or cuff cable) loose or not connected."}},
      {321,
       false,
       true,
       {kStop, "&U Corvane Sampling Error 1: Please check the wrist unit connector.",
        "#abort mvxNanoError_WatchdogBarked - disconnected during measurement"}},
      {9, false, true, {kStop, "&U " + unknown9, "#abort " + unknown9}},
      {9, true, true, {"&U " + unknown9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "code " << c.code << ", continue " << c.continueAfterError
                                      << ", sampling " << c.sampling);
    ErrorEngine e;
    e.ContinueAfterError(c.continueAfterError);
    if (c.sampling) e.StartSampling();
    const size_t idleModes = e.fake->IdleModeCount();

    std::vector<std::string> expected;
    uint32_t bytesBeforeStop = 0;
    bool stops = false;
    for (const std::string& line : c.lines) {
      if (line == kStop) {
        stops = true;
      } else {
        expected.push_back(line);
        if (!stops) bytesBeforeStop += static_cast<uint32_t>(line.size() + 1);
      }
    }

    e.fake->SetError(c.code);
    if (stops) {
      // Nothing is read until the device has been set idle, so the ring then
      // holds exactly what was sent before.
      for (int i = 0; i < 600 && e.fake->IdleModeCount() == idleModes; ++i) {
        platform::SleepMs(5);
      }
      ASSERT_EQ(e.fake->IdleModeCount(), idleModes + 1);
      EXPECT_EQ(e.fake->LastIdleModeReplyBytes(), bytesBeforeStop);
    }
    EXPECT_EQ(LinesThroughNextPoll(e.h), expected);
    if (!stops) {
      EXPECT_EQ(e.fake->IdleModeCount(), idleModes);
    }
    EXPECT_TRUE(e.h.engine->IsAlive());
  }
}

TEST(DeviceErrors, SamplingGoesOnAfterAnErrorWhenSetToContinue) {
  ErrorEngine e;
  e.ContinueAfterError(true);
  e.StartSampling();
  const size_t idleModes = e.fake->IdleModeCount();
  EXPECT_EQ(e.Report(17), std::vector<std::string>{"&U Corvane Controller Error 17: Finger cuff "
                                                   "(or cuff cable) loose or not connected."});
  {
    std::lock_guard lock(e.fake->mutex);
    e.fake->pressure.push_back({130'000'000'000'000'000ull, 100, {}});
  }
  bool dataCame = false;
  for (const std::string& line : LinesThroughNextPoll(e.h, true)) {
    dataCame = dataCame || line.rfind("+1,", 0) == 0;
  }
  EXPECT_TRUE(dataCame);
  EXPECT_EQ(e.fake->IdleModeCount(), idleModes);
}

TEST(DeviceErrors, AStandingErrorIsReportedOnceUntilTheHostReadsIt) {
  ErrorEngine e;
  const std::string user =
      "Corvane Controller Error 22: Air hose error - check air hose and valve.";
  const std::vector<std::string> report{
      "&U " + user, "#abort dmsError_AirSupply - air hose kinked, leaking, or valve dirty"};
  EXPECT_EQ(e.Report(22), report);
  EXPECT_EQ(LinesThroughNextPoll(e.h), std::vector<std::string>{});
  EXPECT_EQ(LinesThroughNextPoll(e.h), std::vector<std::string>{});
  // Reading it makes the error new again, and it still stands.
  EXPECT_EQ(e.h.Ask(L"?dev/lasterror"), "=" + user);
  EXPECT_EQ(LinesThroughNextPoll(e.h), report);
  EXPECT_EQ(LinesThroughNextPoll(e.h), std::vector<std::string>{});
  // Another code is news; so is the first one again after it.
  const std::vector<std::string> cuff{
      "&U Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.",
      "#abort dmsError_CuffCable - not connected or faulty wire"};
  EXPECT_EQ(e.Report(17), cuff);
  EXPECT_EQ(e.Report(22), report);
  EXPECT_EQ(e.Report(17), cuff);
  // Gone: the text is read once, then nothing.
  EXPECT_EQ(e.Report(0), std::vector<std::string>{});
  EXPECT_EQ(e.h.Ask(L"?dev/lasterror"), "=" + cuff[0].substr(3));
  EXPECT_EQ(e.h.Ask(L"?dev/lasterror"), "=");
  EXPECT_EQ(LinesThroughNextPoll(e.h), std::vector<std::string>{});
}

TEST(DeviceErrors, StartUpAndSamplingStartReportAStandingErrorAgain) {
  ErrorEngine e;
  const std::string user =
      "&U Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  const std::string abort = "#abort dmsError_CuffCable - not connected or faulty wire";
  EXPECT_EQ(e.Report(17), (std::vector<std::string>{user, abort}));
  EXPECT_EQ(e.h.Ask(L">dev/init"), "<OK");
  EXPECT_EQ(LinesThroughNextPoll(e.h), (std::vector<std::string>{user, abort}));
  const size_t idleModes = e.fake->IdleModeCount();
  EXPECT_EQ(e.h.Ask(L"?in/sampler/start"), "<OK");
  // Reported anew, and this time it ends the recording just begun.
  EXPECT_EQ(LinesThroughNextPoll(e.h), (std::vector<std::string>{user, abort}));
  EXPECT_EQ(e.fake->IdleModeCount(), idleModes + 2);  // the start's own stop, then the abort's
}

TEST(DeviceErrors, DisconnectedIsNoErrorBeforeTheDeviceIsStarted) {
  ErrorEngine e(false);  // no start-up yet: the engine counts as disconnected
  const std::string cuff =
      "&U Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  EXPECT_EQ(e.Report(5), std::vector<std::string>{});
  // Only the title is left for the host.
  EXPECT_EQ(e.h.Ask(L"?dev/lasterror"), "=Corvane Controller Error 5: ");
  // Other codes are reported, and an ignored 5 does not count as a new error.
  EXPECT_EQ(e.Report(17), (std::vector<std::string>{
                              cuff, "#abort dmsError_CuffCable - not connected or faulty wire"}));
  EXPECT_EQ(e.Report(5), std::vector<std::string>{});
  EXPECT_EQ(e.Report(17), std::vector<std::string>{});
  // Once started, the device being disconnected is an error like any other.
  e.fake->SetError(5);
  EXPECT_EQ(e.h.Ask(L">dev/init"), "<OK");
  EXPECT_EQ(LinesThroughNextPoll(e.h),
            (std::vector<std::string>{
                "&U Corvane Controller Error 5: The Corvane Controller device is not connected.",
                "#abort dmsError_Disconnected - not connected"}));
}

// An error that the device reported only inside a sample record.
TEST(DeviceErrors, AnErrorInTheLastSampleRecordIsTakenOnce) {
  const std::string cuff6 =
      "Corvane Nano Error 6: Finger cuff (or cuff cable) loose or not connected.";
  for (const bool continueAfterError : {true, false}) {
    SCOPED_TRACE(continueAfterError);
    ErrorEngine e;
    e.ContinueAfterError(continueAfterError);
    e.StartSampling();
    const size_t idleModes = e.fake->IdleModeCount();
    HeightAndStatusSample record{};
    record.mTime = 130'000'000'000'000'000ull;
    record.mStatus.mError = 262;
    {
      std::lock_guard lock(e.fake->mutex);
      e.fake->heightAndStatus.push_back(record);
    }
    std::vector<std::string> expected{"&U " + cuff6};
    if (!continueAfterError) {
      expected.push_back("#abort nanoLedContr_erro_CurrBelowDrift - not connected or faulty wire");
    }
    EXPECT_EQ(LinesThroughNextPoll(e.h), expected);
    EXPECT_EQ(e.fake->IdleModeCount(), idleModes + (continueAfterError ? 0 : 1));
    // Unlike a standing error, it is not reported again after the host read it.
    EXPECT_EQ(e.h.Ask(L"?dev/lasterror"), "=" + cuff6);
    EXPECT_EQ(LinesThroughNextPoll(e.h), std::vector<std::string>{});
  }
}

TEST(DeviceErrors, TheDevicesStatusComesBeforeTheSampleRecord) {
  ErrorEngine e;
  e.ContinueAfterError(true);
  e.StartSampling();
  HeightAndStatusSample record{};
  record.mTime = 130'000'000'000'000'000ull;
  record.mStatus.mError = 321;
  {
    std::lock_guard lock(e.fake->mutex);
    e.fake->status.mError = 22;
    e.fake->heightAndStatus.push_back(record);
  }
  EXPECT_EQ(LinesThroughNextPoll(e.h),
            std::vector<std::string>{
                "&U Corvane Controller Error 22: Air hose error - check air hose and valve."});
  // The record's error waited its turn.
  EXPECT_EQ(e.Report(0),
            std::vector<std::string>{
                "&U Corvane Sampling Error 1: Please check the wrist unit connector."});
  EXPECT_EQ(LinesThroughNextPoll(e.h), std::vector<std::string>{});
}

// Each report leaves one trace line and one line in the host's log; an
// ignored disconnect leaves neither.
TEST(DeviceErrors, AReportIsTracedAndLoggedOnce) {
  TraceAndLogCapture capture;
  ErrorEngine e(false);
  const std::wstring user =
      L"Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  EXPECT_EQ(e.Report(5), std::vector<std::string>{});
  EXPECT_EQ(e.Report(17).size(), 2u);
  EXPECT_EQ(LinesThroughNextPoll(e.h), std::vector<std::string>{});
  EXPECT_EQ(capture.LogCount(L"!!! DMSWrapper error: " + user), 1u);
  EXPECT_EQ(capture.TraceCount("!!! status.error: " + std::string(user.begin(), user.end())), 1u);
  EXPECT_EQ(capture.LogCount(L"!!! DMSWrapper error: Corvane Controller Error 5: "), 0u);
  EXPECT_EQ(capture.TraceCount("!!! status.error: Corvane Controller Error 5: "), 0u);
}

// The long descriptions that failed device calls write to the trace.
TEST(DeviceErrors, EveryVendorCodeHasItsLongDescription) {
  const std::pair<int32_t, const wchar_t*> descriptions[] = {
      {0, L"dmsError_NoError: everything ok"},
      {1, L"dmsError_Online: everything ok, explicitly used for indicating online"},
      {2, L"dmsError_NoCommunication: the current device has gone offline"},
      {3,
       L"dmsError_CommChannelInUse: the communication channel is already in use by an "
       L"other application"},
      {4, L"dmsError_NoDevice: no Dazuruvi 1000 device was detected"},
      {5, L"dmsError_Disconnected: not connected"},
      {6, L"dmsError_NullPointer: a null-pointer was passed"},
      {7, L"dmsError_NotAllowed: current function is not allowed"},
      {8, L"dmsError_OutOfRange: parameter-value is out of range"},
      {9, L"dmsError_NoDriver: driver not installed"},
      {10, L"dmsError_WatchdogBarked: watchdog signaled, probably due to power-loss"},
      {11, L"dmsError_ADCTimeOut: ADC didn't sample for >25ms"},
      {12, L"dmsError_Electronics: turn off immediately!! Check/replace cuff, retry briefly."},
      {13,
       L"dmsError_FingerTooThin: too much infrared received; try smaller cuff or wrap "
       L"thin, dark cloth around finger"},
      {14,
       L"dmsError_ManometerNulling: zero offset of pressure transducer too large for "
       L"nulling; retry number of times"},
      {15, L"dmsError_ADCNulling: offset detected in ADC ground voltage"},
      {16,
       L"dmsError_PressureUnstable: air generated pressure during PhysioCal is not "
       L"stable enough"},
      {17, L"dmsError_CuffCable: cuff electrical cable not connected, or faulty wire"},
      {18,
       L"dmsError_CpuOverload: cpu was not able to process measured samples for over 1 "
       L"sec"},
      {19,
       L"dmsError_CuffOddSignal: odd plethysmogram detected, probably due to pressing "
       L"the cuff or finger-tip"},
      {20, L"dmsError_CuffConnection: see dmsError_CuffCable"},
      {21,
       L"dmsError_NoPlethysmogram: no plethysmogram can be detected during startup; "
       L"probably arteries fully contracted; try other finger or thumb, warm hand"},
      {22,
       L"dmsError_AirSupply: generated air pressure is not high enough; air hose kinked, "
       L"leaks, regulator valve dirty"},
      {23, L"dmsError_PowerSupply: check power supply"},
      {24, L"dmsError_PressureOutOfRange: pressure outside range 5..250[mmHg] for >2.5sec"},
      {25,
       L"dmsError_PressureNoPattern: results of the pattern recognition have not been "
       L"sent"},
      {26, L"dmsError_CheckPressureXDucer: Check pressure xducer"},
      {27,
       L"dmsError_RealTimeClock: problem with real-time clock (RTC), probably "
       L"power-failure of RTC circuit"},
      {28,
       L"dmsError_FrontendConnection: wrist unit cable has been disconnected during "
       L"measurement"},
      {29,
       L"dmsError_ReconnectFrontend: Finapres is in an error state that can only be "
       L"resolved by reconnecting the wrist unit while power is on"},
      {30,
       L"dmsError_FinalStop: error persisted too long that Finapres cannot recover "
       L"without operator invention"},
  };
  int32_t next = 0;
  for (const auto& [code, description] : descriptions) {
    EXPECT_EQ(code, next++);
    EXPECT_EQ(DescribeDmsError(code), description) << code;
  }
  EXPECT_EQ(next, 31);
  for (const int32_t code : {31, 256, 262, 320, 321, -1, -30}) {
    EXPECT_EQ(DescribeDmsError(code), L"Unhandled error code: " + std::to_wstring(code));
  }
}

}  // namespace
