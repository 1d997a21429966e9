// Device error codes: their texts, and the reply lines that reporting one
// sends, in order.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "engine/error_catalogue.h"

namespace {

using namespace corvane;

constexpr const wchar_t* kUnknown =
    L"Unknown error. Check air hose, cables and cuffs. The device may require a power-cycle and "
    L"Kymoview relaunched.";
constexpr const wchar_t* kStop = L"<stop sampling>";

// The plan as one list: reply lines, and kStop where sampling stops.
std::vector<std::wstring> Steps(const DeviceErrorReport& report) {
  std::vector<std::wstring> steps;
  for (const DeviceErrorStep& step : report.steps) {
    steps.push_back(step.kind == DeviceErrorStep::Kind::StopSampling ? kStop : step.line);
  }
  return steps;
}

DeviceErrorReport Plan(int32_t code, bool continueAfterError, bool isSampling,
                       bool engineDisconnected = false) {
  return PlanDeviceErrorReport(code, {isSampling, continueAfterError, engineDisconnected});
}

struct CatalogueText {
  int32_t code;
  const wchar_t* logForm;
  const wchar_t* userMessage;
};

// A sample of entries, the odd spellings among them, as the device vendor
// wrote them.
TEST(ErrorCatalogue, EntriesKeepTheirTexts) {
  const CatalogueText samples[] = {
      {3, L"dmsError_CommChannelInUse - communication channel in use",
       L"Cannot connect to Corvane Controller, communication channel in use."},
      {11, L"dmsError_ADCTimeOut - didn't sample for >25ms",
       L"Sampling error - cannot sample for >25ms."},
      {21, L"dmsError_NoPlethysmogram - try other warmer finger or thumb",
       L"No blood pressure signal. May be finger too cold, incorrect cuff size or bad cuff "
       L"position."},
      {26, L"dmsError_CheckPressureXDucer - Check pressure xducer",
       L"Pressure error - check pressure transducer."},
      {261, L"nanoLedContr_erro_TooManyIteratio - Unable to set correct LED current",
       L"Unable to set correct LED current. Please restart the device."},
      // 264 and 265 share one entry, name included.
      {265, L"nanoLedContr_erro_VoltBelowRange - not connected or faulty wire",
       L"Unable to set correct LED current. Please restart the device."},
      {268, L"nanoPhysScan_erro_ScanFailed - no blood pressure signal",
       L"No blood pressure signal. May be: finger too cold, incorrect cuff size or bad cuff "
       L"position."},
      {287, L"nanoSysIntgr_erro_cuffPressureSenseFailure - cuff pressure sensor failure.",
       L"Cuff pressure sensor failure. Please restart the wrist unit by reconnecting to CVN "
       L"interface."},
      {293, L"nanoSysIntgr_erro_pressureSensorTimeout - Plethysmograph ref out of limits.",
       L"Plethysmograph ref out of limits. Please keep the wrist unit stable during its start-up."},
      {295, L"nanoAppContr_erro_PressureToHigh - finger high pressure error",
       L"Pressure on the finger is too high, deflating for safety. May be because finger too cold, "
       L"incorrect cuff size or bad cuff position."},
      {298, L"nanoAppContr_erro_MeasurementToLong - cuff measurement too long",
       L"The maximum time of 4 hours for measuring on a single cuff has exceeded. Please switch to "
       L"another cuff."},
      {301, L"nanoAppContr_erro_KeepAliveNotReceived - Keep Alive package timeout",
       L"The Keep Alive package has not been received in time from Kymoview. Please check cables "
       L"and restart the device and Kymoview."},
      {320, L"mvxNanoError_NoPulseDetected - no blood pressure signal",
       L"No pulse detected. Maybe because finger too cold, incorrect cuff size or bad cuff "
       L"position."},
  };
  for (const CatalogueText& sample : samples) {
    SCOPED_TRACE(sample.code);
    const ErrorCatalogueEntry* entry = FindErrorEntry(sample.code);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->logForm, sample.logForm);
    EXPECT_STREQ(entry->userMessage, sample.userMessage);
    // What the host sees with continue-after-error off.
    EXPECT_EQ(
        Steps(Plan(sample.code, false, false)),
        (std::vector<std::wstring>{L"&U " + DeviceErrorTitle(sample.code) + sample.userMessage,
                                   std::wstring(L"#abort ") + sample.logForm}));
  }
  EXPECT_EQ(FindErrorEntry(264), FindErrorEntry(265));
  EXPECT_EQ(FindErrorEntry(286), FindErrorEntry(287));
}

TEST(ErrorCatalogue, LongDescriptionsCoverTheVendorCodesOnly) {
  const std::pair<int32_t, const wchar_t*> cases[] = {
      {0, L"dmsError_NoError: everything ok"},
      {1, L"dmsError_Online: everything ok, explicitly used for indicating online"},
      {3,
       L"dmsError_CommChannelInUse: the communication channel is already in use by an other "
       L"application"},
      {4, L"dmsError_NoDevice: no Dazuruvi 1000 device was detected"},
      {9, L"dmsError_NoDriver: driver not installed"},
      {24, L"dmsError_PressureOutOfRange: pressure outside range 5..250[mmHg] for >2.5sec"},
      {30,
       L"dmsError_FinalStop: error persisted too long that Finapres cannot recover without "
       L"operator invention"},
      {31, L"Unhandled error code: 31"},
      {258, L"Unhandled error code: 258"},
      {321, L"Unhandled error code: 321"},
      {-1, L"Unhandled error code: -1"},
      {INT32_MIN, L"Unhandled error code: -2147483648"},
  };
  for (const auto& [code, description] : cases) {
    EXPECT_EQ(DescribeDmsError(code), description) << code;
  }
  // Every vendor code has a description of its own.
  for (int32_t code = 0; code <= 30; ++code) {
    EXPECT_EQ(DescribeDmsError(code).find(L"Unhandled"), std::wstring::npos) << code;
  }
  // The stream form appends to what the caller has written.
  std::wostringstream stream;
  stream << L"!!! err == ";
  EXPECT_EQ(&DescribeDmsError(stream, 5), &stream);
  EXPECT_EQ(stream.str(), L"!!! err == dmsError_Disconnected: not connected");
}

TEST(ErrorCatalogue, TitlesNameTheGenerationAndNumber) {
  const std::pair<int32_t, const wchar_t*> cases[] = {
      {17, L"Corvane Controller Error 17: "}, {255, L"Corvane Controller Error 255: "},
      {-1, L"Corvane Controller Error -1: "}, {256, L"Corvane Nano Error 0: "},
      {262, L"Corvane Nano Error 6: "},       {319, L"Corvane Nano Error 63: "},
      {320, L"Corvane Sampling Error 0: "},   {1000, L"Corvane Sampling Error 680: "},
  };
  for (const auto& [code, title] : cases) EXPECT_EQ(DeviceErrorTitle(code), title) << code;
}

TEST(ErrorReport, CodesWithoutTextsTakeTheUnknownErrorText) {
  for (int32_t code : {1, 9, 31, 255, 256, 294, 303, 319, 322, -1, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(code);
    const DeviceErrorReport report = Plan(code, false, false);
    const std::wstring lastError = DeviceErrorTitle(code) + kUnknown;
    EXPECT_EQ(report.lastError, lastError);
    EXPECT_TRUE(report.reported);
    // The abort reason is the whole user text.
    EXPECT_EQ(Steps(report),
              (std::vector<std::wstring>{L"&U " + lastError, L"#abort " + lastError}));
  }
  EXPECT_EQ(Plan(-1, false, false).lastError,
            std::wstring(L"Corvane Controller Error -1: ") + kUnknown);
}

TEST(ErrorReport, ContinueAfterErrorDecidesAboutTheAbort) {
  const std::wstring user =
      L"&U Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  EXPECT_EQ(Steps(Plan(17, false, true)),
            (std::vector<std::wstring>{
                kStop, user, L"#abort dmsError_CuffCable - not connected or faulty wire"}));
  EXPECT_EQ(Steps(Plan(17, true, true)), std::vector<std::wstring>{user});
  // Not sampling: nothing to stop, the host is still asked to abort.
  EXPECT_EQ(Steps(Plan(17, false, false)),
            (std::vector<std::wstring>{
                user, L"#abort dmsError_CuffCable - not connected or faulty wire"}));
  EXPECT_EQ(Steps(Plan(262, true, false)),
            std::vector<std::wstring>{
                L"&U Corvane Nano Error 6: Finger cuff (or cuff cable) loose or not connected."});
  EXPECT_EQ(Steps(Plan(321, true, false)),
            std::vector<std::wstring>{
                L"&U Corvane Sampling Error 1: Please check the wrist unit connector."});
}

TEST(ErrorReport, ElectronicsAndFinalStopAlwaysAbort) {
  // The immediate line comes before everything else, even before sampling
  // stops, and the abort line gives no reason.
  EXPECT_EQ(
      Steps(Plan(12, true, true)),
      (std::vector<std::wstring>{
          L"dmsError_Electronics - turn off immediately!!", kStop,
          L"&U Corvane Controller Error 12: Please restart the Corvane Controller and Kymoview.",
          L"#abort "}));
  EXPECT_EQ(
      Steps(Plan(30, true, false)),
      (std::vector<std::wstring>{
          L"&U Corvane Controller Error 30: Fatal error. Please restart the Corvane Controller "
          L"and Kymoview.",
          L"#abort dmsError_FinalStop - Corvane Controller cannot recover"}));
  // Code 7 has the immediate line too, but aborts only by the setting.
  const std::wstring notAllowed = L"dmsError_NotAllowed - current function not allowed";
  const std::wstring user =
      L"&U Corvane Controller Error 7: Command error - current function not allowed.";
  EXPECT_EQ(Steps(Plan(7, true, true)), (std::vector<std::wstring>{notAllowed, user}));
  EXPECT_EQ(Steps(Plan(7, false, true)),
            (std::vector<std::wstring>{notAllowed, kStop, user, L"#abort "}));
}

TEST(ErrorReport, DisconnectIsIgnoredOnlyWhenTheEngineMadeIt) {
  const DeviceErrorReport ignored = Plan(5, false, true, true);
  EXPECT_FALSE(ignored.reported);
  EXPECT_TRUE(ignored.steps.empty());
  EXPECT_EQ(ignored.lastError, L"Corvane Controller Error 5: ");
  EXPECT_TRUE(ignored.traceMessage.empty());

  const DeviceErrorReport reported = Plan(5, false, false, false);
  EXPECT_TRUE(reported.reported);
  EXPECT_EQ(Steps(reported),
            (std::vector<std::wstring>{
                L"&U Corvane Controller Error 5: The Corvane Controller device is not connected.",
                L"#abort dmsError_Disconnected - not connected"}));
  // Other codes are reported whatever the connection.
  EXPECT_TRUE(Plan(17, true, false, true).reported);
}

TEST(ErrorReport, TraceAndLogCarryTheUserText) {
  const DeviceErrorReport report = Plan(262, true, false);
  EXPECT_EQ(report.traceMessage,
            L"!!! status.error: Corvane Nano Error 6: Finger cuff (or cuff cable) loose or not "
            L"connected.");
  EXPECT_EQ(report.logMessage,
            L"!!! DMSWrapper error: Corvane Nano Error 6: Finger cuff (or cuff cable) loose or not "
            L"connected.");
  const DeviceErrorReport none = Plan(0, false, true);
  EXPECT_FALSE(none.reported);
  EXPECT_TRUE(none.steps.empty());
  EXPECT_TRUE(none.lastError.empty());
}

}  // namespace
