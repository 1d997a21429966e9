// The text command protocol through the engine's rings: which lines are
// understood, what each answers, what each setting does to the device, and
// which faults end the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "protocol_harness.h"

namespace {

using namespace corvane;
using namespace corvane::testing;

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

bool Contains(const std::vector<std::string>& calls, const std::string& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

struct Exchange {
  const wchar_t* line;
  std::string reply;
};

// Lines that are answered and leave the engine running, whatever they hold.
TEST(CommandProtocol, EveryLineIsAnsweredOnceAndTheEngineGoesOn) {
  const Exchange exchanges[] = {
      // The prefix: either character, anywhere; text before it is ignored.
      {L"?dev/isok", "=1"},
      {L">dev/isok", "=1"},
      {L"xyz>dev/isok", "=1"},
      {L"xyz?dev/isok", "=1"},
      {L"?dev/isok trailing words", "=1"},
      {L"dev/isok", "^Invalid command"},
      {L"", "^Invalid command"},
      // First words: "dev" and "in", exactly.
      {L">", kCommError},
      {L"?foo/isok", kCommError},
      {L"?DEV/isok", kCommError},
      {L"?dev", kCommError},
      {L"?dev/", kCommError},
      {L"?in", kCommError},
      // Words under "dev" that are neither commands nor settings.
      {L"?dev/ISOK", kCommError},
      {L"?dev/unknown", kCommError},
      {L"?dev/dms_Unknown 1", kCommError},
      {L"?dev/dms_test 2", kCommError},  // words are case-sensitive
      {L"?dev/dms_mins 5", kCommError},
      // "dms_Mins" takes no negative interval, and without a number it is no
      // setting at all; neither ends the engine.
      {L"?dev/dms_Mins -5", kCommError},
      {L"?dev/dms_Mins", kCommError},
      {L"?dev/dms_Mins abc", kCommError},
      // Words under "in".
      {L"?in/nachans", "=11"},
      {L"?in/unknown", kCommError},
      {L"?in/sampler", kCommError},
      {L"?in/sampler/pause", kCommError},
      {L"?in/sampler/Start", kCommError},
      // Channel arithmetic: "cha" and the digits of a beat channel.
      {L"?in/arithmetic", kCommError},
      {L"?in/cha8/arithmetic", kCommError},
      {L"?in/cha0/arithmetic", kCommError},
      {L"?in/cha2/arithmetic", kCommError},
      {L"?in/cha10/arithmetic", kCommError},
      {L"?in/cha12/arithmetic", kCommError},
      {L"?in/cha/arithmetic", kCommError},
      {L"?in/cha5x/arithmetic", kCommError},
      {L"?in/cha+5/arithmetic", kCommError},
      {L"?in/cha-5/arithmetic", kCommError},
      {L"?in/cha 5/arithmetic", kCommError},
      {L"?in/CHA5/arithmetic", kCommError},
      {L"?in/cha5", kCommError},
      {L"?in/cha5/arith", kCommError},
      {L"?in/cha5/arithmetic/x", kCommError},
      {L"?in/cha3/arithmetic", "=NIBPShift(rch7,rch3)"},
      {L"?in/cha4/arithmetic", "=NIBPShift(rch7,rch4)"},
      {L"?in/cha5/arithmetic", "=NIBPShift(rch7,rch5)"},
      {L"?in/cha6/arithmetic", "=NIBPShift(rch7,rch6)"},
      {L"?in/cha7/arithmetic", "=NIBPShift(rch7,rch7)"},
      {L"?in/cha11/arithmetic", "=NIBPShift(rch7,rch11)"},
      {L">in/cha05/arithmetic", "=NIBPShift(rch7,rch05)"},  // the digits as written
      {L"?in/cha011/arithmetic", "=NIBPShift(rch7,rch011)"},
      // Texts from the device.
      {L"?dev/version", "=1.2.3"},
      {L"?dev/serialnum", "=SN123"},
  };
  EngineHarness h;
  h.Start();
  for (const Exchange& exchange : exchanges) {
    SCOPED_TRACE(Narrow(exchange.line));
    EXPECT_EQ(h.Ask(exchange.line), exchange.reply);
  }
  EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");
  EXPECT_TRUE(h.engine->IsAlive());
  EXPECT_TRUE(h.fake->Called("DMS_GetVersion(0)"));
}

// Every line is traced as it is taken; lines that are not handled are marked.
TEST(CommandProtocol, LinesAndUnhandledWordsAreTraced) {
  TraceAndLogCapture capture;
  EngineHarness h;
  h.Start();
  EXPECT_EQ(h.Ask(L"xy?dev/isok"), "=1");
  EXPECT_EQ(h.Ask(L"?in/foo/bar"), kCommError);
  EXPECT_EQ(h.Ask(L"?in/cha8/arithmetic"), kCommError);
  EXPECT_EQ(h.Ask(L"?in/sampler/pause"), kCommError);
  EXPECT_EQ(capture.TraceCount("--- DMSWrapper handling: 'xy?dev/isok'"), 1u);
  EXPECT_EQ(capture.TraceCount("--- NIBP handling: isok"), 1u);
  EXPECT_EQ(capture.TraceCount("??? Not handling: in/foo"), 1u);
  EXPECT_EQ(capture.TraceCount("??? Not handling: in/cha8"), 1u);
  EXPECT_EQ(capture.TraceCount("??? Not handling: in/sampler/pause"), 1u);
}

TEST(CommandProtocol, ArithmeticIsEmptyWhenTheBackEndNeedsNoBeatShift) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.needsBeatShift = false; });
  for (const wchar_t* line : {L"?in/cha3/arithmetic", L"?in/cha05/arithmetic",
                              L"?in/cha7/arithmetic", L"?in/cha11/arithmetic"}) {
    EXPECT_EQ(h.Ask(line), "=") << Narrow(line);
  }
  // Channels that are no beat channels stay unknown.
  EXPECT_EQ(h.Ask(L"?in/cha8/arithmetic"), kCommError);
  EXPECT_EQ(h.Ask(L"?in/arithmetic"), kCommError);
}

TEST(CommandProtocol, DeviceTextsAreReadInTheAnsiCodePage) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) {
    f.serial = "CV-\xE9\xFC 42";  // Windows-1252: e acute, u diaeresis
    f.version = "5.6.7 build 8";
  });
  EXPECT_EQ(h.Ask(L"?dev/serialnum"), "=CV-\xC3\xA9\xC3\xBC 42");
  EXPECT_EQ(h.Ask(L"?dev/version"), "=5.6.7 build 8");
}

// A device that fills the whole text buffer and leaves no terminator.
class FullBufferBackEnd : public FakeBackEnd {
 public:
  int32_t DMS_GetSerialNr(char* text, uint16_t* length) override {
    std::fill(text, text + *length, 'S');
    return 0;
  }
  int32_t DMS_GetVersion(int32_t, char* text, uint16_t* length) override {
    std::fill(text, text + *length, 'V');
    return 0;
  }
};

TEST(CommandProtocol, AnUnterminatedDeviceTextIsCutAtTheBuffersEnd) {
  EngineHarness h;
  StartWith<FullBufferBackEnd>(h, [](FakeBackEnd&) {});
  EXPECT_EQ(h.Ask(L"?dev/serialnum"), "=" + std::string(255, 'S'));
  EXPECT_EQ(h.Ask(L"?dev/version"), "=" + std::string(255, 'V'));
  EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");
}

size_t Count(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

TEST(CommandProtocol, InitStartsTheDeviceWithEitherPrefix) {
  EngineHarness h;
  h.Start();
  EXPECT_EQ(h.Ask(L"?dev/init"), "<OK");
  EXPECT_EQ(Count(h.fake->Calls(), "DMS_Connect()"), 1u);
  EXPECT_EQ(h.Ask(L">dev/init"), "<OK");
  EXPECT_EQ(Count(h.fake->Calls(), "DMS_Connect()"), 2u);
  EXPECT_EQ(h.Ask(L"xx?dev/init"), "<OK");
  EXPECT_EQ(Count(h.fake->Calls(), "DMS_Connect()"), 3u);
}

TEST(CommandProtocol, ExitDisconnectsOnlyAConnectedDevice) {
  EngineHarness h;
  h.Start();
  EXPECT_EQ(h.Ask(L"?dev/exit"), "<OK");  // never connected by a start-up
  EXPECT_TRUE(WorkerEnds(h));
  EXPECT_FALSE(h.fake->Called("DMS_Disconnect()"));

  EngineHarness started;
  started.Start();
  EXPECT_EQ(started.Ask(L"?dev/init"), "<OK");
  EXPECT_EQ(started.Ask(L"?dev/exit"), "<OK");
  EXPECT_TRUE(WorkerEnds(started));
  EXPECT_EQ(Count(started.fake->Calls(), "DMS_Disconnect()"), 1u);
}

TEST(CommandProtocol, LastErrorIsAnsweredOnceThenEmpty) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.connectResult = dmsError_NoDevice; });
  EXPECT_EQ(h.Ask(L">dev/init"), "<Fail");
  EXPECT_EQ(h.Ask(L"?dev/lasterror"),
            "=The Corvane Controller cannot be found. Please make sure the device is plugged in "
            "and turned on.");
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=");
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=");
  EXPECT_EQ(h.Ask(L"no prefix"), "^Invalid command");
  EXPECT_EQ(h.Ask(L">dev/lasterror"), "=Invalid command");
  EXPECT_EQ(h.Ask(L">dev/lasterror"), "=");
}

TEST(CommandProtocol, StartWarningIsAskedForOnceExceptForSimulatedPressure) {
  struct Case {
    std::vector<const wchar_t*> settings;
    std::vector<std::string> answers;  // to "startwarning", asked this often
  };
  const Case cases[] = {
      {{}, {"=1", "=0", "=0"}},
      // Simulated pressure inflates nothing: no warning, and the one warning
      // stays owed for later.
      {{L"?dev/dms_TestEnab 1", L"?dev/dms_Test 4"}, {"=0", "=0"}},
      // Selected but not switched on, or another test mode: the cuffs inflate.
      {{L"?dev/dms_Test 4"}, {"=1", "=0"}},
      {{L"?dev/dms_TestEnab 1", L"?dev/dms_Test 2"}, {"=1", "=0"}},
      {{L"?dev/dms_TestEnab 1"}, {"=1", "=0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.empty() ? "defaults" : Narrow(c.settings.back()));
    EngineHarness h;
    h.Start();
    for (const wchar_t* setting : c.settings) ASSERT_EQ(h.Ask(setting), "<OK");
    for (const std::string& answer : c.answers) EXPECT_EQ(h.Ask(L">dev/startwarning"), answer);
  }
  // Leaving simulated pressure: the warning not given so far comes now.
  EngineHarness h;
  h.Start();
  ASSERT_EQ(h.Ask(L"?dev/dms_TestEnab 1"), "<OK");
  ASSERT_EQ(h.Ask(L"?dev/dms_Test 4"), "<OK");
  EXPECT_EQ(h.Ask(L"?dev/startwarning"), "=0");
  ASSERT_EQ(h.Ask(L"?dev/dms_TestEnab 0"), "<OK");
  EXPECT_EQ(h.Ask(L"?dev/startwarning"), "=1");
  EXPECT_EQ(h.Ask(L"?dev/startwarning"), "=0");
}

struct SettingEffect {
  const wchar_t* line;
  std::vector<std::string> calls;  // device calls it makes, in order
};

// Each accepted setting answers "<OK"; these are the device calls it makes.
TEST(SettingCommands, AcceptedValuesAnswerOkAndReachTheDevice) {
  const SettingEffect effects[] = {
      {L"?dev/dms_PCalOff 1", {"DMS_SetPhysioCal(0)"}},
      {L"?dev/dms_PCalOff 2", {"DMS_SetPhysioCal(1)"}},
      {L"?dev/dms_PCalOff 1xyz", {"DMS_SetPhysioCal(0)"}},  // trailing text is ignored
      {L"?dev/dms_CntKVSamp 2", {"SetContinueAfterError(1)"}},
      {L"?dev/dms_CntKVSamp 1", {"SetContinueAfterError(0)"}},
      {L"?dev/dms_Press 120", {"DMS_SetTestSteadyPressure(120)", "DMS_GetTestSteadyPressure()"}},
      {L"?dev/dms_Press  300", {"DMS_SetTestSteadyPressure(300)", "DMS_GetTestSteadyPressure()"}},
      {L"?dev/dms_Press 1", {"DMS_SetTestSteadyPressure(1)", "DMS_GetTestSteadyPressure()"}},
      {L"?dev/dms_Offset 80", {"DMS_SetTestSquarePressure(80)", "DMS_GetTestSquarePressure()"}},
      {L"?dev/dms_Freq 4", {"DMS_SetTestSquareFrequency(4)", "DMS_GetTestSquareFrequency()"}},
      {L"?dev/dms_Freq 10Hz", {"DMS_SetTestSquareFrequency(10)", "DMS_GetTestSquareFrequency()"}},
      // Beyond 16 bits the device gets its largest value, never a wrapped one
      // (65586 cut to 16 bits would be 50).
      {L"?dev/dms_Press 65535",
       {"DMS_SetTestSteadyPressure(65535)", "DMS_GetTestSteadyPressure()"}},
      {L"?dev/dms_Press 65536",
       {"DMS_SetTestSteadyPressure(65535)", "DMS_GetTestSteadyPressure()"}},
      {L"?dev/dms_Press 65586",
       {"DMS_SetTestSteadyPressure(65535)", "DMS_GetTestSteadyPressure()"}},
      {L"?dev/dms_Offset 65586",
       {"DMS_SetTestSquarePressure(65535)", "DMS_GetTestSquarePressure()"}},
      {L"?dev/dms_Freq 65586",
       {"DMS_SetTestSquareFrequency(65535)", "DMS_GetTestSquareFrequency()"}},
      {L"?dev/dms_Freq 2147483647",
       {"DMS_SetTestSquareFrequency(65535)", "DMS_GetTestSquareFrequency()"}},
      {L"?dev/dms_ZeroHCU", {"DMS_ZeroHCU()"}},
      // Settings the engine keeps until sampling starts.
      {L"?dev/dms_InflateWarn 1", {}},
      {L"?dev/dms_InflateWarn 2", {}},
      {L"?dev/dms_UseComments 1", {}},
      {L"?dev/dms_UseComments 2", {}},
      {L"?dev/dms_TestEnab 0", {}},
      {L"?dev/dms_TestEnab 1", {}},
      {L"?dev/dms_Test 2", {}},
      {L"?dev/dms_Test 3", {}},
      {L"?dev/dms_Test 4", {}},
      {L"?dev/dms_Test 2abc", {}},
      {L"?dev/dms_EnableSwitching 1", {}},
      {L"?dev/dms_EnableSwitching 2", {}},
      {L"?dev/dms_Start 1", {}},
      {L"?dev/dms_Start 2", {}},
      {L"?dev/dms_Mins 0", {}},
      {L"?dev/dms_Mins 60", {}},
  };
  EngineHarness h;
  h.Start();
  for (const SettingEffect& effect : effects) {
    SCOPED_TRACE(Narrow(effect.line));
    const size_t before = h.fake->Calls().size();
    EXPECT_EQ(h.Ask(effect.line), "<OK");
    EXPECT_EQ(CallsSince(*h.fake, before), effect.calls);
  }
  EXPECT_TRUE(h.engine->IsAlive());
}

// A setting with a value it does not take is a fault of the host's control
// list: the host is told of a communication error, the device is left alone
// and the engine stops.
TEST(SettingCommands, ARefusedValueEndsTheEngineWithoutTouchingTheDevice) {
  const wchar_t* const lines[] = {
      L"?dev/dms_Test",
      L"?dev/dms_Test 1",
      L"?dev/dms_Test 5",
      L"?dev/dms_Test x2",
      L"?dev/dms_TestEnab 2",
      L"?dev/dms_TestEnab -1",
      L"?dev/dms_TestEnab",
      L"?dev/dms_InflateWarn 0",
      L"?dev/dms_InflateWarn 3",
      L"?dev/dms_UseComments 0",
      L"?dev/dms_PCalOff 0",
      L"?dev/dms_PCalOff 3",
      L"?dev/dms_PCalOff",
      L"?dev/dms_CntKVSamp 0",
      L"?dev/dms_CntKVSamp 3",
      L"?dev/dms_EnableSwitching 0",
      L"?dev/dms_EnableSwitching 3",
      L"?dev/dms_Start 0",
      L"?dev/dms_Start 3",
      L"?dev/dms_Press 0",
      L"?dev/dms_Press -120",
      L"?dev/dms_Press x",
      L"?dev/dms_Press 99999999999",
      // Too large for 32 bits: no number, never a wrapped small one.
      L"?dev/dms_Press 18446744073709551666",
      L"?dev/dms_Offset 4294967346",
      L"?dev/dms_Offset 0",
      L"?dev/dms_Offset",
      L"?dev/dms_Freq 0",
      L"?dev/dms_Freq -4",
  };
  for (const wchar_t* line : lines) {
    SCOPED_TRACE(Narrow(line));
    EngineHarness h;
    h.Start();
    EXPECT_EQ(h.Ask(line), kCommError);
    ASSERT_TRUE(WorkerEnds(h));
    EXPECT_EQ(h.engine->GetState(), MVX::Thread::kEnded);
    EXPECT_FALSE(h.engine->IsAlive());
    EXPECT_EQ(CallsSince(*h.fake, 0), std::vector<std::string>{});
    // The reason stays behind for whoever looks at the stopped engine.
    EXPECT_EQ(h.engine->InertReason(), L"Unknown command or bad parameter");
    h.Send(L"?dev/isok");
    EXPECT_EQ(h.Read(50), "<none>");
  }
}

TEST(SettingCommands, ARefusedValueWhileSamplingStopsSamplingFirst) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.status.mHCUStatus = kHcuZeroed; });
  ASSERT_EQ(h.Ask(L"?in/sampler/start"), "<OK");
  const size_t before = h.fake->Calls().size();
  EXPECT_EQ(h.Ask(L"?dev/dms_Test 7"), kCommError);
  ASSERT_TRUE(WorkerEnds(h));
  const std::vector<std::string> calls = CallsSince(*h.fake, before);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "DMS_SetMode(2)");
  EXPECT_FALSE(h.engine->IsAlive());
}

// What the settings change shows when sampling starts: the device's mode,
// calibration and cuff, and the comments to the host.
TEST(SettingCommands, TakeEffectWhenSamplingStarts) {
  struct Case {
    std::vector<const wchar_t*> settings;
    int32_t hcuStatus;
    std::vector<std::string> startReplies;
    std::vector<std::string> expectedCalls;
    std::vector<std::string> absentCalls;
  };
  const std::string patientData = "DMS_SetPatientData(21,1,0)";
  const Case cases[] = {
      {{},
       kHcuZeroed,
       {"<OK"},
       {patientData, "DMS_SetPhysioCal(1)", "DMS_SetMode(3)", "DMS_SetCuffSwitching(-1)"},
       {}},
      {{L"?dev/dms_PCalOff 1"},
       kHcuZeroed,
       {"<OK"},
       {"DMS_SetPhysioCal(0)", "DMS_SetMode(3)"},
       {patientData, "DMS_SetPhysioCal(1)"}},
      {{L"?dev/dms_PCalOff 1", L"?dev/dms_PCalOff 2"},
       kHcuZeroed,
       {"<OK"},
       {patientData, "DMS_SetPhysioCal(1)", "DMS_SetMode(3)"},
       {}},
      {{L"?dev/dms_TestEnab 1"},
       kHcuZeroed,
       {"&UTest mode - Square wave pressure", "<OK"},
       {"DMS_SetPhysioCal(0)", "DMS_SetMode(5)"},
       {patientData, "DMS_SetMode(3)"}},
      {{L"?dev/dms_TestEnab 1", L"?dev/dms_Test 2"},
       kHcuZeroed,
       {"&UTest mode - Steady pressure", "<OK"},
       {"DMS_SetPhysioCal(0)", "DMS_SetMode(4)"},
       {patientData}},
      {{L"?dev/dms_TestEnab 1", L"?dev/dms_Test 4"},
       kHcuNotConnected,
       {"&UHCU not connected", "&UTest mode - Simulate pressure", "<OK"},
       {"DMS_SetMode(6)"},
       {patientData}},
      {{L"?dev/dms_Test 4", L"?dev/dms_TestEnab 1", L"?dev/dms_TestEnab 0"},
       kHcuNotZeroed,
       {"&UHCU not zeroed", "<OK"},
       {"DMS_SetMode(3)"},
       {"DMS_SetMode(6)"}},
      {{L"?dev/dms_UseComments 1", L"?dev/dms_TestEnab 1"},
       kHcuNotConnected,
       {"<OK"},
       {"DMS_SetMode(5)"},
       {}},
      {{L"?dev/dms_UseComments 1", L"?dev/dms_UseComments 2"},
       kHcuNotConnected,
       {"&UHCU not connected", "<OK"},
       {},
       {}},
      {{L"?dev/dms_EnableSwitching 1", L"?dev/dms_Start 2"},
       kHcuZeroed,
       {"<OK"},
       {"DMS_SetCuffSwitching(-2)"},
       {"DMS_SetCuffSwitching(-1)"}},
      {{L"?dev/dms_Start 2"}, kHcuZeroed, {"<OK"}, {"DMS_SetCuffSwitching(-2)"}, {}},
      {{L"?dev/dms_Start 2", L"?dev/dms_Start 1"},
       kHcuZeroed,
       {"<OK"},
       {"DMS_SetCuffSwitching(-1)"},
       {"DMS_SetCuffSwitching(-2)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.empty() ? "defaults" : Narrow(c.settings.back()));
    EngineHarness h;
    const int32_t hcu = c.hcuStatus;
    h.Start([hcu](FakeBackEnd& f) { f.status.mHCUStatus = hcu; });
    for (const wchar_t* setting : c.settings) ASSERT_EQ(h.Ask(setting), "<OK");
    const size_t before = h.fake->Calls().size();
    h.Send(L">in/sampler/start");
    std::vector<std::string> replies;
    for (size_t i = 0; i < c.startReplies.size(); ++i) replies.push_back(h.Read());
    EXPECT_EQ(replies, c.startReplies);
    const std::vector<std::string> calls = CallsSince(*h.fake, before);
    // The expected calls in this order, among the others.
    auto at = calls.begin();
    for (const std::string& call : c.expectedCalls) {
      at = std::find(at, calls.end(), call);
      EXPECT_NE(at, calls.end()) << call;
    }
    for (const std::string& call : c.absentCalls) EXPECT_FALSE(Contains(calls, call)) << call;
    EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{});
  }
}

// The switching interval in minutes, seen from the cuff switches while
// sampling in switching mode; the clock moves only when the test moves it.
TEST(SettingCommands, SwitchingIntervalInMinutes) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.status.mHCUStatus = kHcuZeroed; });
  ASSERT_EQ(h.Ask(L"?dev/dms_EnableSwitching 2"), "<OK");
  ASSERT_EQ(h.Ask(L"?dev/dms_Mins 1"), "<OK");
  ASSERT_EQ(h.Ask(L"?in/sampler/start"), "<OK");
  EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{});
  h.clock.Advance(59'999);
  EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{});
  h.clock.Advance(1);
  EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{"&USwitch to finger cuff 2"});

  // A negative interval is refused and the minute stays.
  EXPECT_EQ(h.Ask(L"?dev/dms_Mins -5"), kCommError);
  EXPECT_TRUE(h.engine->IsAlive());
  h.clock.Advance(60'000);
  EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{"&USwitch to finger cuff 1"});

  // "2abc" is two minutes, counted from the setting.
  ASSERT_EQ(h.Ask(L"?dev/dms_Mins 2abc"), "<OK");
  h.clock.Advance(60'000);
  EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{});
  h.clock.Advance(60'000);
  EXPECT_EQ(LinesThroughNextPoll(h), std::vector<std::string>{"&USwitch to finger cuff 2"});
}

TEST(SettingCommands, ZeroMinutesSwitchesAtEveryPass) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.status.mHCUStatus = kHcuZeroed; });
  ASSERT_EQ(h.Ask(L"?dev/dms_EnableSwitching 2"), "<OK");
  ASSERT_EQ(h.Ask(L"?dev/dms_Mins 0"), "<OK");
  ASSERT_EQ(h.Ask(L"?in/sampler/start"), "<OK");
  // The clock stands still: only an interval of 0 ms can be due.
  EXPECT_EQ(h.Read(), "&USwitch to finger cuff 2");
  EXPECT_EQ(h.Read(), "&USwitch to finger cuff 1");
  EXPECT_EQ(h.Read(), "&USwitch to finger cuff 2");
}

// The control list's reply: "=" and the resource text, which the ring's line
// framing delivers as one line per line of the resource.
TEST(ControlListReply, ArrivesAsTheResourcesLines) {
  std::ifstream file(CORVANE_SOURCE_DIR "/src/host/resources/controllist.txt", std::ios::binary);
  ASSERT_TRUE(file.is_open());
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::vector<std::string> pieces;  // the text between CR LF pairs
  for (size_t from = 0;;) {
    const size_t end = text.find("\r\n", from);
    pieces.push_back(text.substr(from, end == std::string::npos ? std::string::npos : end - from));
    if (end == std::string::npos) break;
    from = end + 2;
  }
  ASSERT_GT(pieces.size(), 100u);
  // Each line keeps its CR before the ring's LF. An empty line's CR follows
  // the LF before it directly, so the ring takes it as part of that line end.
  std::vector<std::string> expected{"=" + pieces.front() + "\r"};
  for (size_t i = 1; i + 1 < pieces.size(); ++i) {
    expected.push_back(pieces[i].empty() ? "" : pieces[i] + "\r");
  }
  expected.push_back(pieces.back());

  EngineHarness h;
  h.Start();
  h.Send(L"?in/controllist");
  std::vector<std::string> lines;
  for (size_t i = 0; i < expected.size(); ++i) lines.push_back(h.Read());
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");  // nothing more came with it
}

}  // namespace
