#include "engine/error_catalogue.h"

namespace corvane {
namespace {

// User messages that several codes share.
constexpr const wchar_t* kMsgRestartController =
    L"Please restart the Corvane Controller and Kymoview.";
constexpr const wchar_t* kMsgPowerLoss = L"Power error - power-loss detected.";
constexpr const wchar_t* kMsgCuffLoose = L"Finger cuff (or cuff cable) loose or not connected.";
constexpr const wchar_t* kMsgCheckWristConnector = L"Please check the wrist unit connector.";
constexpr const wchar_t* kMsgCheckWristUnit =
    L"Please check the wrist unit and restart the device.";
constexpr const wchar_t* kMsgLedCurrent =
    L"Unable to set correct LED current. Please restart the device.";
constexpr const wchar_t* kMsgMeanPressureHigh =
    L"Mean pressure has been above 250 mmHg for 2.5s. Please check the cuff air hose.";
constexpr const wchar_t* kMsgFingerPressureHigh =
    L"Pressure on the finger is too high, deflating for safety. May be because finger too cold, "
    L"incorrect cuff size or bad cuff position.";
constexpr const wchar_t* kMsgReconnectWristUnit =
    L"Please restart the wrist unit by reconnecting to CVN interface.";
constexpr const wchar_t* kMsgPlethRefOutOfLimits =
    L"Plethysmograph ref out of limits. Please restart the wrist unit by reconnecting to CVN "
    L"interface.";

// For codes that no entry lists, and for the entries without texts of their
// own: the user message, and the abort reason as well.
constexpr const wchar_t* kMsgUnknownError =
    L"Unknown error. Check air hose, cables and cuffs. "
    L"The device may require a power-cycle and Kymoview relaunched.";

constexpr const wchar_t* kUnhandledCodePrefix = L"Unhandled error code: ";
constexpr const wchar_t* kControllerTitle = L"Corvane Controller Error ";
constexpr const wchar_t* kNanoTitle = L"Corvane Nano Error ";
constexpr const wchar_t* kSamplingTitle = L"Corvane Sampling Error ";
constexpr const wchar_t* kTitleEnd = L": ";
constexpr const wchar_t* kUserMessageLinePrefix = L"&U ";
constexpr const wchar_t* kAbortLinePrefix = L"#abort ";
constexpr const wchar_t* kTraceMessagePrefix = L"!!! status.error: ";
constexpr const wchar_t* kLogMessagePrefix = L"!!! DMSWrapper error: ";

constexpr int32_t kFirstNanoCode = 256;
constexpr int32_t kFirstSamplingCode = 320;
constexpr int32_t kLastDescribedCode = 30;

// Sorted by code, one field per line: code range and markers, log form, user
// message, long description. 0..30 is complete, as DescribeDmsError needs every
// one of them; Nano codes without an entry (256, 294, 303..319) take the
// unknown-error texts.
// clang-format off
constexpr ErrorCatalogueEntry kCatalogue[] = {
    {0, 0, 0,
     nullptr,
     nullptr,
     L"dmsError_NoError: everything ok"},
    {1, 1, 0,
     nullptr,
     nullptr,
     L"dmsError_Online: everything ok, explicitly used for indicating online"},
    {2, 2, 0,
     L"dmsError_NoCommunication - current device offline",
     kMsgRestartController,
     L"dmsError_NoCommunication: the current device has gone offline"},
    {3, 3, 0,
     L"dmsError_CommChannelInUse - communication channel in use",
     L"Cannot connect to Corvane Controller, communication channel in use.",
     L"dmsError_CommChannelInUse: the communication channel is already in use by an other "
     L"application"},
    {4, 4, 0,
     L"dmsError_NoDevice - no Corvane Controller device detected",
     L"No Corvane Controller device detected.",
     L"dmsError_NoDevice: no Dazuruvi 1000 device was detected"},
    {5, 5, kErrorIgnoredWhileDisconnected,
     L"dmsError_Disconnected - not connected",
     L"The Corvane Controller device is not connected.",
     L"dmsError_Disconnected: not connected"},
    {6, 6, 0,
     L"dmsError_NullPointer - null-pointer was passed",
     L"Software error - null-pointer was passed.",
     L"dmsError_NullPointer: a null-pointer was passed"},
    {7, 7, kErrorImmediateLine,
     L"dmsError_NotAllowed - current function not allowed",
     L"Command error - current function not allowed.",
     L"dmsError_NotAllowed: current function is not allowed"},
    {8, 8, 0,
     L"dmsError_OutOfRange - parameter-value out of range",
     L"Command error - parameter-value out of range.",
     L"dmsError_OutOfRange: parameter-value is out of range"},
    {9, 9, 0,
     nullptr,
     nullptr,
     L"dmsError_NoDriver: driver not installed"},
    {10, 10, 0,
     L"dmsError_WatchdogBarked - watchdog signaled, probably power-loss",
     kMsgPowerLoss,
     L"dmsError_WatchdogBarked: watchdog signaled, probably due to power-loss"},
    {11, 11, 0,
     L"dmsError_ADCTimeOut - didn't sample for >25ms",
     L"Sampling error - cannot sample for >25ms.",
     L"dmsError_ADCTimeOut: ADC didn't sample for >25ms"},
    {12, 12, kErrorImmediateLine | kErrorAlwaysAborts,
     L"dmsError_Electronics - turn off immediately!!",
     kMsgRestartController,
     L"dmsError_Electronics: turn off immediately!! Check/replace cuff, retry briefly."},
    {13, 13, 0,
     L"dmsError_FingerTooThin - try smaller cuff",
     L"Cuff error - try smaller cuff.",
     L"dmsError_FingerTooThin: too much infrared received; try smaller cuff or wrap thin, dark "
     L"cloth around finger"},
    {14, 14, 0,
     L"dmsError_ManometerNulling - zero offset too large for nulling",
     L"HCU error - zero offset too large.",
     L"dmsError_ManometerNulling: zero offset of pressure transducer too large for nulling; retry "
     L"number of times"},
    {15, 15, 0,
     L"dmsError_ADCNulling - offset in ADC ground",
     L"Power error - offset in ADC ground.",
     L"dmsError_ADCNulling: offset detected in ADC ground voltage"},
    {16, 16, 0,
     L"dmsError_PressureUnstable - pressure not stable enough",
     L"Cuff error - pressure not stable enough.",
     L"dmsError_PressureUnstable: air generated pressure during PhysioCal is not stable enough"},
    {17, 17, 0,
     L"dmsError_CuffCable - not connected or faulty wire",
     kMsgCuffLoose,
     L"dmsError_CuffCable: cuff electrical cable not connected, or faulty wire"},
    {18, 18, 0,
     L"dmsError_CpuOverload - not able to process samples",
     L"Sampling error - cannot process samples.",
     L"dmsError_CpuOverload: cpu was not able to process measured samples for over 1 sec"},
    {19, 19, 0,
     L"dmsError_CuffOddSignal - probably pressing cuff or finger-tip",
     L"Cuff error - check finger cuff (or finger-tip).",
     L"dmsError_CuffOddSignal: odd plethysmogram detected, probably due to pressing the cuff or "
     L"finger-tip"},
    {20, 20, 0,
     L"dmsError_CuffConnection - not connected or faulty wire",
     kMsgCuffLoose,
     L"dmsError_CuffConnection: see dmsError_CuffCable"},
    {21, 21, 0,
     L"dmsError_NoPlethysmogram - try other warmer finger or thumb",
     L"No blood pressure signal. May be finger too cold, incorrect cuff size or bad cuff "
     L"position.",
     L"dmsError_NoPlethysmogram: no plethysmogram can be detected during startup; probably "
     L"arteries fully contracted; try other finger or thumb, warm hand"},
    {22, 22, 0,
     L"dmsError_AirSupply - air hose kinked, leaking, or valve dirty",
     L"Air hose error - check air hose and valve.",
     L"dmsError_AirSupply: generated air pressure is not high enough; air hose kinked, leaks, "
     L"regulator valve dirty"},
    {23, 23, 0,
     L"dmsError_PowerSupply - check power supply",
     kMsgPowerLoss,
     L"dmsError_PowerSupply: check power supply"},
    {24, 24, 0,
     L"dmsError_PressureOutOfRange - pressure outside range",
     L"Cuff error - pressure outside range.",
     L"dmsError_PressureOutOfRange: pressure outside range 5..250[mmHg] for >2.5sec"},
    {25, 25, 0,
     L"dmsError_PressureNoPattern - results not sent",
     L"Sampling error - invalid pressure pattern.",
     L"dmsError_PressureNoPattern: results of the pattern recognition have not been sent"},
    {26, 26, 0,
     L"dmsError_CheckPressureXDucer - Check pressure xducer",
     L"Pressure error - check pressure transducer.",
     L"dmsError_CheckPressureXDucer: Check pressure xducer"},
    {27, 27, 0,
     L"dmsError_RealTimeClock - problem with real-time clock (RTC), probably power-failure of RTC "
     L"circuit",
     L"Clock error - problem with real-time clock.",
     L"dmsError_RealTimeClock: problem with real-time clock (RTC), probably power-failure of RTC "
     L"circuit"},
    {28, 28, 0,
     L"dmsError_FrontendConnection - disconnected during measurement",
     kMsgCheckWristConnector,
     L"dmsError_FrontendConnection: wrist unit cable has been disconnected during measurement"},
    {29, 29, 0,
     L"dmsError_ReconnectFrontend - reconnect frontend with power on",
     kMsgCheckWristConnector,
     L"dmsError_ReconnectFrontend: Finapres is in an error state that can only be resolved by "
     L"reconnecting the wrist unit while power is on"},
    {30, 30, kErrorAlwaysAborts,
     L"dmsError_FinalStop - Corvane Controller cannot recover",
     L"Fatal error. Please restart the Corvane Controller and Kymoview.",
     L"dmsError_FinalStop: error persisted too long that Finapres cannot recover without operator "
     L"invention"},
    {257, 257, 0,
     L"nanoGeneralError - Corvane controller",
     kMsgCheckWristUnit,
     nullptr},
    {258, 258, 0,
     L"nanoLedContr_erro_LowControlVolt - reconnect frontend with power on",
     kMsgCheckWristUnit,
     nullptr},
    {259, 259, 0,
     L"nanoLedContr_erro_HighControlVolt - Unable to set correct LED current",
     kMsgLedCurrent,
     nullptr},
    {260, 260, 0,
     L"nanoLedContr_erro_HighLedCurrent - Unable to set correct LED current",
     kMsgLedCurrent,
     nullptr},
    {261, 261, 0,
     L"nanoLedContr_erro_TooManyIteratio - Unable to set correct LED current",
     kMsgLedCurrent,
     nullptr},
    {262, 262, 0,
     L"nanoLedContr_erro_CurrBelowDrift - not connected or faulty wire",
     kMsgCuffLoose,
     nullptr},
    {263, 263, 0,
     L"nanoLedContr_erro_CurrAboveDrift - not connected or faulty wire",
     kMsgCuffLoose,
     nullptr},
    {264, 265, 0,
     L"nanoLedContr_erro_VoltBelowRange - not connected or faulty wire",
     kMsgLedCurrent,
     nullptr},
    {266, 266, 0,
     L"nanoPlethysm_erro_TooMuchLight - not connected or faulty wire",
     L"The infrared level transmitted through the finger is too high. Try a smaller finger cuff.",
     nullptr},
    {267, 267, 0,
     L"nanoPhysScan_erro_SyncBeatTimeOut - Plethysmogram error",
     L"Odd plethysmogram detected, probably due to pressing the cuff or finger-tip.",
     nullptr},
    {268, 268, 0,
     L"nanoPhysScan_erro_ScanFailed - no blood pressure signal",
     L"No blood pressure signal. May be: finger too cold, incorrect cuff size or bad cuff "
     L"position.",
     nullptr},
    {269, 269, 0,
     L"nanoPhysScan_erro_BeatDownTimeOut - No plethysmogram can be detected after pressure "
     L"staircase",
     L"No plethysmogram detected. Check proper application of the finger cuff.",
     nullptr},
    {270, 270, 0,
     L"nanoPresMoni_erro_IncorrectPress - Cuff pressure error",
     L"Cuff pressure error. Please check the cuff air hose.",
     nullptr},
    {271, 271, 0,
     L"nanoPresMoni_erro_UnstablePress - Cuff pressure error",
     L"Cuff pressure unstable. Please check the cuff air hose.",
     nullptr},
    {272, 272, 0,
     L"nanoManoBeDe_erro_PressTooLow - Cuff pressure error",
     L"Cuff pressure too low. Please check the cuff air hose.",
     nullptr},
    {273, 273, 0,
     L"nanoSignInMo_erro_MeanPressLow - Cuff mean pressure error",
     L"Mean pressure has been below 10mmHg for 2.5s. Please check the cuff air hose.",
     nullptr},
    {274, 274, 0,
     L"nanoSignInMo_erro_Unacceptable - Plethysmogram error",
     L"The plethysmogram values moved out of range. This may be a movement artifact.",
     nullptr},
    {275, 275, 0,
     L"nanoSignInMo_erro_MeanPressHigh - Cuff mean pressure error",
     kMsgMeanPressureHigh,
     nullptr},
    {276, 276, 0,
     L"nanoPreContr_erro_CuffPreSensRang - Cuff pressure sensor out of range",
     L"Cuff pressure sensor out of range. Check if the finger cuff is wrapped tight enough around "
     L"the finger.",
     nullptr},
    {277, 277, 0,
     L"nanoPreContr_erro_VolPreSensRang - Volume pressure sensor out of range",
     L"Volume pressure sensor out of range. Please check the cuff air hose.",
     nullptr},
    {278, 278, 0,
     L"nanoPreContr_erro_CuffPreExceed - finger pressure too high",
     kMsgFingerPressureHigh,
     nullptr},
    {279, 279, 0,
     L"nanoPreContr_erro_CuffPreExceLong - Cuff mean pressure error",
     kMsgMeanPressureHigh,
     nullptr},
    {280, 280, 0,
     L"nanoPreContr_erro_VolPreExceed - finger high pressure error",
     kMsgFingerPressureHigh,
     nullptr},
    {281, 281, 0,
     L"nanoPreContr_erro_CurrExceedLong - current exceeded for too long",
     kMsgReconnectWristUnit,
     nullptr},
    {282, 282, 0,
     L"nanoSysIntgr_erro_VoltageSenseFailure - Monitoring one of the internal voltages has failed",
     kMsgReconnectWristUnit,
     nullptr},
    {283, 283, 0,
     L"nanoSysIntgr_erro_HcuRefSenseFailure - Monitoring the reference voltage of the HCU has "
     L"failed.",
     L"HCU reference sensor failed. Please restart the wrist unit by reconnecting to CVN "
     L"interface.",
     nullptr},
    {284, 284, 0,
     L"nanoSysIntgr_erro_PletRefSenseFailure - Plethysmograph reference monitor failed.",
     L"Plethysmograph reference monitor failed. Please restart the wrist unit by reconnecting to "
     L"CVN interface.",
     nullptr},
    {285, 285, 0,
     L"nanoSysIntgr_erro_HouseTempSenseFailure - housing temperature sensor error.",
     L"Housing temperature sensor error. Please restart the wrist unit by reconnecting to CVN "
     L"interface.",
     nullptr},
    {286, 287, 0,
     L"nanoSysIntgr_erro_cuffPressureSenseFailure - cuff pressure sensor failure.",
     L"Cuff pressure sensor failure. Please restart the wrist unit by reconnecting to CVN "
     L"interface.",
     nullptr},
    {288, 288, 0,
     L"nanoSysIntgr_erro_VoltageOutLimits - Supply voltage error.",
     L"Supply voltage error. Please restart the wrist unit by reconnecting to CVN interface.",
     nullptr},
    {289, 289, 0,
     L"nanoSysIntgr_erro_HcuRefOutLimits - Plethysmograph ref out of limits.",
     kMsgPlethRefOutOfLimits,
     nullptr},
    {290, 290, 0,
     L"nanoSysIntgr_erro_PletRefOutLimits - Plethysmograph ref out of limits.",
     kMsgPlethRefOutOfLimits,
     nullptr},
    {291, 291, 0,
     L"nanoSysIntgr_erro_cuffPressureSignalOffset - Pressure signal offset too large.",
     L"Pressure signal offset too large. Please restart the wrist unit by reconnecting to CVN "
     L"interface.",
     nullptr},
    {292, 292, 0,
     L"nanoSysIntgr_erro_cuffVolumeSignalOffset - Pressure signal offset too large.",
     L"Pressure signal offset too large. Please keep the wrist unit stable during its start-up.",
     nullptr},
    {293, 293, 0,
     L"nanoSysIntgr_erro_pressureSensorTimeout - Plethysmograph ref out of limits.",
     L"Plethysmograph ref out of limits. Please keep the wrist unit stable during its start-up.",
     nullptr},
    {295, 295, 0,
     L"nanoAppContr_erro_PressureToHigh - finger high pressure error",
     kMsgFingerPressureHigh,
     nullptr},
    {296, 296, 0,
     L"nanoAppContr_erro_caseTemperatureOutLimits - The housing of the wrist unit is too hot",
     L"The housing of the wrist unit is too hot. Please check convection possibilities around the "
     L"wrist unit.",
     nullptr},
    {297, 297, 0,
     L"nanoAppContr_erro_pcbTemperatureOutLimits - The PCB of the wrist unit is too hot",
     L"The processor of the wrist unit is too hot. Please check convection possibilities around "
     L"the wrist unit.",
     nullptr},
    {298, 298, 0,
     L"nanoAppContr_erro_MeasurementToLong - cuff measurement too long",
     L"The maximum time of 4 hours for measuring on a single cuff has exceeded. Please switch to "
     L"another cuff.",
     nullptr},
    {299, 299, 0,
     L"nanoHcuContr_erro_hcuOffsetToBig - HCU offset too large",
     L"HCU offset too large. Please retry zeroing.",
     nullptr},
    {300, 300, 0,
     L"nanoHcuContr_erro_NotAllowed - HCU zero during sampling",
     L"HCU can not be zeroed during sampling. Please stop recording if HCU zeroing is needed.",
     nullptr},
    {301, 301, 0,
     L"nanoAppContr_erro_KeepAliveNotReceived - Keep Alive package timeout",
     L"The Keep Alive package has not been received in time from Kymoview. Please check cables "
     L"and restart the device and Kymoview.",
     nullptr},
    {302, 302, 0,
     L"nanoAppContr_erro_IICDriverCommProblem - IIC Driver Communication issue",
     L"IIC Driver Communication issue. Please restart the device.",
     nullptr},
    {320, 320, 0,
     L"mvxNanoError_NoPulseDetected - no blood pressure signal",
     L"No pulse detected. Maybe because finger too cold, incorrect cuff size or bad cuff "
     L"position.",
     nullptr},
    {321, 321, 0,
     L"mvxNanoError_WatchdogBarked - disconnected during measurement",
     kMsgCheckWristConnector,
     nullptr},};
// clang-format on

// Entries in ascending order without overlaps, and none missing up to the
// last code that DescribeDmsError describes.
constexpr bool IsWellFormed() {
  int32_t next = 0;
  for (const ErrorCatalogueEntry& entry : kCatalogue) {
    if (entry.firstCode < next || entry.lastCode < entry.firstCode) return false;
    if (entry.firstCode <= kLastDescribedCode &&
        (entry.firstCode != next || entry.longDescription == nullptr)) {
      return false;
    }
    next = entry.lastCode + 1;
  }
  return next > kLastDescribedCode;
}
static_assert(IsWellFormed());

}  // namespace

const ErrorCatalogueEntry* FindErrorEntry(int32_t code) {
  for (const ErrorCatalogueEntry& entry : kCatalogue) {
    if (code >= entry.firstCode && code <= entry.lastCode) return &entry;
  }
  return nullptr;
}

std::wostream& DescribeDmsError(std::wostream& stream, int32_t code) {
  // Compared unsigned, as the vendor library's codes are: negative codes are
  // not its codes and print as unhandled.
  const ErrorCatalogueEntry* entry =
      static_cast<uint32_t>(code) <= static_cast<uint32_t>(kLastDescribedCode)
          ? FindErrorEntry(code)
          : nullptr;
  if (entry != nullptr && entry->longDescription != nullptr) {
    return stream << entry->longDescription;
  }
  return stream << kUnhandledCodePrefix << code;
}

MVX::MVXString DescribeDmsError(int32_t code) {
  MVX::OStringStream stream;
  DescribeDmsError(stream, code);
  return stream.Str();
}

MVX::MVXString DeviceErrorTitle(int32_t code) {
  MVX::OStringStream stream;
  if (code >= kFirstSamplingCode) {
    stream << kSamplingTitle << code - kFirstSamplingCode;
  } else if (code >= kFirstNanoCode) {
    stream << kNanoTitle << code - kFirstNanoCode;
  } else {
    stream << kControllerTitle << code;
  }
  stream << kTitleEnd;
  return stream.Str();
}

DeviceErrorReport PlanDeviceErrorReport(int32_t code, const DeviceErrorContext& context) {
  DeviceErrorReport report;
  if (code == 0) return report;

  // The title is the last-error text even when the error goes unreported.
  report.lastError = DeviceErrorTitle(code);
  const ErrorCatalogueEntry* entry = FindErrorEntry(code);
  const uint32_t markers = entry != nullptr ? entry->markers : 0u;
  // A disconnect that the engine made itself is no device fault.
  if ((markers & kErrorIgnoredWhileDisconnected) != 0 && context.engineDisconnected) return report;
  report.reported = true;

  MVX::MVXString shortName;
  if (entry == nullptr || entry->logForm == nullptr) {
    report.lastError += kMsgUnknownError;
    shortName = report.lastError;
  } else {
    if ((markers & kErrorImmediateLine) != 0) {
      report.steps.push_back({DeviceErrorStep::Kind::SendLine, entry->logForm});
    } else {
      shortName = entry->logForm;
    }
    report.lastError += entry->userMessage;
  }

  const bool aborts = !context.continueAfterError || (markers & kErrorAlwaysAborts) != 0;
  // Sampling stops before the host hears of the error, so that no data line
  // follows the abort request.
  if (aborts && context.isSampling) {
    report.steps.push_back({DeviceErrorStep::Kind::StopSampling, {}});
  }
  report.steps.push_back(
      {DeviceErrorStep::Kind::SendLine, MVX::MVXString(kUserMessageLinePrefix + report.lastError)});
  if (aborts) {
    report.steps.push_back(
        {DeviceErrorStep::Kind::SendLine, MVX::MVXString(kAbortLinePrefix + shortName)});
  }
  report.traceMessage = MVX::MVXString(kTraceMessagePrefix + report.lastError);
  report.logMessage = MVX::MVXString(kLogMessagePrefix + report.lastError);
  return report;
}

}  // namespace corvane
