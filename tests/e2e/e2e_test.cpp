// The real module, loaded as the host loads it, with the simulated Controller
// in the "Devices" folder beside this test: start-up, the settings the dialogs
// send, a recording read line by line, device errors, and failed start-ups,
// all through the exported functions alone.
//
// The module's engine is one per process and the simulator reads its settings
// file when it loads and whenever the file changes, so every test writes its
// settings first and then runs a whole session, FindDevice to CloseAll.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cpu_load.h"
#include "fake_host.h"
#include "module_exports.h"
#include "platform/time.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvane::testing::CountedObject;
using corvane::testing::CpuLoad;
using corvane::testing::DeviceClassInfo;
using corvane::testing::FakeHostObject;
using corvane::testing::kPerMmHg;
using corvane::testing::Module;
using corvane::testing::Recording;

constexpr int kChannels = 11;
// Rounds of the tests that must never lose a line, whatever the timing. Each
// round starts an engine, which waits out the device library's start-up
// delay; the facade tests run many more rounds on a scripted back-end.
constexpr int kRounds = 5;

// The dialogs' defaults, as the host sends them when a session begins.
const std::vector<std::string> kDefaultSettings = {
    "?dev/dms_TestEnab 0",  "?dev/dms_Test 3",
    "?dev/dms_Press 50",    "?dev/dms_Offset 50",
    "?dev/dms_Freq 1",      "?dev/dms_PCalOff 2",
    "?dev/dms_CntKVSamp 1", "?dev/dms_EnableSwitching 2",
    "?dev/dms_Mins 15"};

// The simulator's settings file of this process. The variable that names it
// is set before the simulator is first loaded (by the first engine).
std::filesystem::path SettingsFile() {
  static const std::filesystem::path path = [] {
    std::random_device random;
    const std::string name = "corvane_e2e_" + std::to_string(random()) + "_" +
                             std::to_string(Clock::now().time_since_epoch().count()) + ".txt";
    return std::filesystem::temp_directory_path() / name;
  }();
  static std::string variable = "CORVANE_SIM_SETTINGS=" + path.string();
  static const int set = putenv(variable.data());
  static const struct Remover {
    ~Remover() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } remover;
  (void)set;
  (void)remover;
  return path;
}

// Writes the simulator's settings and gives a simulator that is already
// loaded time to notice the change (it looks at most every 100 ms).
void UseSettings(const std::string& name, const std::string& settings) {
  {
    std::ofstream file(SettingsFile(), std::ios::binary | std::ios::trunc);
    file << "# " << name << "\n" << settings;
  }
  corvane::platform::SleepMs(250);
}

bool IsData(const std::string& line) { return !line.empty() && line[0] == '+'; }

// One data line: "+N" and its values.
struct DataLine {
  int channel = 0;
  std::vector<int64_t> values;
};

std::optional<DataLine> ParseData(const std::string& line) {
  if (!IsData(line)) return std::nullopt;
  DataLine data;
  size_t at = 1;
  size_t end = line.find(',', at);
  data.channel = std::stoi(line.substr(at, end - at));
  while (end != std::string::npos) {
    at = end + 1;
    end = line.find(',', at);
    data.values.push_back(std::stoll(line.substr(at, end - at)));
  }
  return data;
}

class Session : public ::testing::Test {
 protected:
  // Loaded at the first test and kept until the process ends, as a host does.
  static void SetUpTestSuite() {
    if (module == nullptr) module = new Module();
  }
  void SetUp() override { ASSERT_TRUE(module->Usable()) << "Corvane.kvwdll beside the test"; }
  // A test that stopped half-way leaves no session behind for the next one.
  void TearDown() override {
    if (!module->Usable()) return;
    module->CloseAll();
    module->CleanupOnMainThread();
  }

  // Reads one line; nothing within `timeoutMs`.
  std::optional<std::string> Line(int32_t timeoutMs = 5000) {
    char buffer[4096];
    if (module->ReadLine(0, buffer, sizeof buffer, timeoutMs) != 1) return std::nullopt;
    return std::string(buffer);
  }

  // Writes a command line; the reply, skipping data lines, or "<none>".
  std::string Ask(const std::string& line, Recording* recording = nullptr) {
    const std::string text = line + "\n";
    EXPECT_EQ(module->WriteBuffer(0, text.c_str(), static_cast<int32_t>(text.size())), 1);
    for (;;) {
      const std::optional<std::string> reply = Line();
      if (!reply) return "<none>";
      if (!IsData(*reply)) return *reply;
      if (recording != nullptr) Add(*recording, *reply);
    }
  }

  static void Add(Recording& recording, const std::string& line) {
    if (const std::optional<DataLine> data = ParseData(line)) {
      auto& values = recording.channels[data->channel];
      values.insert(values.end(), data->values.begin(), data->values.end());
    } else {
      recording.other.push_back(line);
    }
  }

  // Reads every line for `ms` of real time; stops early after a line that
  // `until` accepts.
  Recording Record(int64_t ms, const std::function<bool(const std::string&)>& until = {}) {
    Recording recording;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      const std::optional<std::string> line = Line(20);
      if (!line) continue;
      Add(recording, *line);
      if (until && until(*line)) break;
    }
    return recording;
  }

  // The last-error text, asked for as the host asks: the size, then the text.
  std::string LastError() {
    const int32_t size = module->GetLastErrorMsg(0, nullptr);
    if (size <= 0) return "<no size>";
    std::string text(static_cast<size_t>(size), '\0');
    if (module->GetLastErrorMsg(0, text.data()) != 1) return "<no text>";
    text.resize(text.find('\0'));
    return text;
  }

  // InitOnMainThread, FindDevice, Initialise and the dialogs' settings.
  void Open(const std::vector<std::string>& extraSettings = {}) {
    host.service = &service;
    ASSERT_EQ(module->InitOnMainThread(nullptr, &host), 0);
    EXPECT_EQ(host.refs.load(), 2);
    DeviceClassInfo info{};
    ASSERT_EQ(module->GetDeviceClassInfo(&info), 1);
    uint32_t value = 77;
    ASSERT_EQ(module->FindDevice(&value), 1);
    EXPECT_EQ(value, 0u);
    ASSERT_EQ(module->Initialise(0), 1) << LastError();
    EXPECT_EQ(module->IsFailed(0), 0);
    for (const std::string& line : kDefaultSettings) ASSERT_EQ(Ask(line), "<OK") << line;
    for (const std::string& line : extraSettings) ASSERT_EQ(Ask(line), "<OK") << line;
  }

  // Starts a recording: the lines up to "<OK", none of them data.
  std::vector<std::string> StartSampler() {
    EXPECT_EQ(module->WriteBuffer(0, ">in/sampler/start\n", 18), 1);
    std::vector<std::string> lines;
    while (const std::optional<std::string> line = Line()) {
      lines.push_back(*line);
      if (*line == "<OK") break;
    }
    return lines;
  }

  // Stops the recording; afterwards no data line follows. Returns the other
  // lines that came before the "<OK".
  std::vector<std::string> StopSampler() {
    EXPECT_EQ(module->WriteBuffer(0, ">in/sampler/stop\n", 17), 1);
    const Recording until = Record(5000, [](const std::string& line) { return line == "<OK"; });
    std::vector<std::string> lines = until.other;
    EXPECT_FALSE(lines.empty() || lines.back() != "<OK") << "no <OK> for the stop";
    if (!lines.empty()) lines.pop_back();
    const Recording after = Record(300);
    EXPECT_TRUE(after.channels.empty()) << "data after the stop";
    EXPECT_TRUE(after.other.empty()) << after.other.front();
    return lines;
  }

  // CloseAll and CleanupOnMainThread; the host's objects are given back.
  void Close() {
    EXPECT_EQ(module->CloseAll(), 1);
    EXPECT_EQ(module->IsFailed(0), 1);
    module->CleanupOnMainThread();
    EXPECT_EQ(host.refs.load(), 1);
    EXPECT_EQ(service.refs.load(), 1);
  }

  static Module* module;
  FakeHostObject host;
  CountedObject service;
};

Module* Session::module = nullptr;

// Values advance at 200 per second of device time: the finger pressure
// count follows the clock, and the channels filled from the height-and-status
// records keep pace with it within a fetch cycle. The beat channels stand at
// the last beat, at most one beat interval (2 s at the slowest heart rate)
// behind.
void ExpectPaced(const Recording& r, double seconds, bool beats) {
  const auto n1 = static_cast<double>(r.Count(1));
  EXPECT_GE(n1, 200.0 * seconds * 0.9 - 20) << seconds << " s";
  EXPECT_LE(n1, 200.0 * seconds + 20) << seconds << " s";
  for (const int k : {2, 8, 9, 10, 11}) {
    EXPECT_NEAR(static_cast<double>(r.Count(k)), n1, 8.0) << "channel " << k;
  }
  for (int k = 3; k <= 7; ++k) {
    if (!beats) {
      EXPECT_EQ(r.Count(k), 0u) << "channel " << k << ": no beats, no values";
      continue;
    }
    EXPECT_GT(r.Count(k), 0u) << "channel " << k;
    EXPECT_LE(static_cast<double>(r.Count(k)), n1 + 8.0) << "channel " << k;
    EXPECT_GE(static_cast<double>(r.Count(k)), n1 - 400.0) << "channel " << k;
  }
}

template <typename Check>
void ForEachValue(const Recording& r, int channel, Check check) {
  const auto it = r.channels.find(channel);
  if (it == r.channels.end()) return;
  for (size_t i = 0; i < it->second.size(); ++i) {
    if (!check(it->second[i])) {
      ADD_FAILURE() << "channel " << channel << " value " << i << ": " << it->second[i];
      return;
    }
  }
}

TEST_F(Session, RecordsAllElevenChannelsFromTheSimulatedController) {
  UseSettings("recording", "");
  Open();
  uint32_t id = 0;
  ASSERT_EQ(module->GetUniqueID(0, &id), 1);
  uint32_t expected = 0;
  for (const char c : std::string("CV1234567")) expected = expected * 42u - 48u + uint8_t(c);
  EXPECT_EQ(id, expected) << "the simulator's serial number";

  EXPECT_EQ(Ask("?dev/startwarning"), "=1");
  EXPECT_EQ(Ask("?dev/startwarning"), "=0") << "asked for once";
  // The simulated HCU is connected but not zeroed; comments come before "<OK".
  EXPECT_EQ(StartSampler(), (std::vector<std::string>{"&UHCU not zeroed", "<OK"}));
  const auto begin = Clock::now();
  const Recording r = Record(3000);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  EXPECT_TRUE(r.other.empty()) << r.other.front();
  for (int k = 1; k <= kChannels; ++k) EXPECT_GT(r.Count(k), 0u) << "channel " << k;
  ExpectPaced(r, seconds, /*beats=*/true);

  // Finger pressure in whole mmHg, an arterial wave.
  ForEachValue(r, 1, [](int64_t v) {
    return v % kPerMmHg == 0 && v >= 40 * kPerMmHg && v <= 250 * kPerMmHg;
  });
  const auto [low, high] = std::minmax_element(r.channels.at(1).begin(), r.channels.at(1).end());
  EXPECT_GT(*high - *low, 20 * kPerMmHg) << "a pulse";
  ForEachValue(r, 2, [](int64_t v) { return v % kPerMmHg == 0; });
  // Beat values: zero only before the first beat.
  for (int k = 3; k <= 7; ++k) {
    const std::vector<int64_t>& v = r.channels.at(k);
    const auto first = std::find_if(v.begin(), v.end(), [](int64_t x) { return x != 0; });
    EXPECT_TRUE(std::all_of(first, v.end(), [](int64_t x) { return x > 0; })) << "channel " << k;
  }
  ForEachValue(r, 3,
               [](int64_t v) { return v == 0 || (v >= 80 * kPerMmHg && v <= 200 * kPerMmHg); });
  ForEachValue(r, 6,
               [](int64_t v) { return v == 0 || (v >= 30 * kPerMmHg && v <= 200 * kPerMmHg); });
  ForEachValue(r, 7, [](int64_t v) { return v == 0 || (v >= 300 * 16 && v <= 2000 * 16); });
  // Cuff measuring (2) or calibrating (3) on the 4-step scale.
  ForEachValue(r, 8, [](int64_t v) { return v == 16000 || v == 24000; });
  // Fifteen minutes to the next cuff switch, 8 per second.
  ForEachValue(r, 9, [](int64_t v) { return v % 8 == 0 && v <= 7200 && v >= 7160; });
  ForEachValue(r, 10, [](int64_t v) { return v % 3200 == 0 && v >= 0 && v <= 30 * 3200; });
  ForEachValue(r, 11,
               [](int64_t v) { return v % kPerMmHg == 0 && v >= 1200 * 80 && v <= 1800 * 80; });

  StopSampler();
  Close();
}

// The Controller loses every 7th pressure sample: the held value takes its
// tick, so finger pressure keeps pace with the other channels.
TEST_F(Session, SteadyTestPressureArrivesExactly) {
  UseSettings("steady test pressure", "pressure_drop_every = 7\n");
  Open({"?dev/dms_TestEnab 1", "?dev/dms_Test 2", "?dev/dms_Press 100"});
  EXPECT_EQ(Ask("?dev/startwarning"), "=1");
  EXPECT_EQ(StartSampler(),
            (std::vector<std::string>{"&UHCU not zeroed", "&UTest mode - Steady pressure", "<OK"}));
  const auto begin = Clock::now();
  const Recording r = Record(2000);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  EXPECT_TRUE(r.other.empty()) << r.other.front();
  ExpectPaced(r, seconds, /*beats=*/false);
  struct Expected {
    int channel;
    int64_t value;
  };
  for (const Expected e : {Expected{1, 100 * kPerMmHg}, Expected{2, 0},
                           Expected{8, 8000},  // cuff at test pressure (1)
                           Expected{9, 8},     // no switching in test mode
                           Expected{10, 0}, Expected{11, 100 * kPerMmHg}}) {
    ForEachValue(r, e.channel, [&](int64_t v) { return v == e.value; });
  }
  StopSampler();
  Close();
}

struct ErrorCase {
  const char* name;
  bool continueAfterError;  // the host's "continue sampling after error"
  bool deviceStops;         // the simulated device ends measuring at the error
};

// Test names in listings: the case's name.
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class DeviceError : public Session, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(DeviceError, IsReportedOnceAndAbortsUnlessTheHostContinues) {
  const ErrorCase& c = GetParam();
  UseSettings(c.name, std::string("error_code = 17\nerror_at_ms = 1500\nerror_stops = ") +
                          (c.deviceStops ? "1" : "0") + "\n");
  Open({c.continueAfterError ? "?dev/dms_CntKVSamp 2" : "?dev/dms_CntKVSamp 1"});
  EXPECT_EQ(StartSampler().back(), "<OK");

  const std::string userMessage =
      "&U Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  const std::string abort = "#abort dmsError_CuffCable - not connected or faulty wire";
  const Recording before =
      Record(5000, [&](const std::string& line) { return line == userMessage; });
  ASSERT_EQ(before.other, std::vector<std::string>{userMessage});
  // 1.5 s of samples came first.
  EXPECT_GE(before.Count(1), 250u);
  EXPECT_LE(before.Count(1), 350u);

  const Recording after = Record(1500);
  if (c.continueAfterError) {
    EXPECT_TRUE(after.other.empty()) << after.other.front();
  } else {
    EXPECT_EQ(after.other, std::vector<std::string>{abort});
  }
  // Sampling goes on only when both the device and the host go on.
  const bool samplingGoesOn = c.continueAfterError && !c.deviceStops;
  if (samplingGoesOn) {
    EXPECT_GT(after.Count(1), 200u);
  } else {
    EXPECT_LT(after.Count(1), 40u) << "the recording ends at the error";
  }
  // Once the recording has ended the error's text is still there to ask for
  // (queries while data lines flow are covered below).
  if (!samplingGoesOn) {
    EXPECT_EQ(LastError(),
              "Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.");
  }
  EXPECT_EQ(module->IsFailed(0), 0) << "a device error does not fail the module";
  // Handing out the text re-arms the report: an error that still stands is
  // reported once more.
  for (const std::string& line : StopSampler()) EXPECT_EQ(line, userMessage);
  Close();
}

INSTANTIATE_TEST_SUITE_P(CuffCable, DeviceError,
                         ::testing::Values(ErrorCase{"DeviceStopsHostAborts", false, true},
                                           ErrorCase{"DeviceGoesOnHostAborts", false, false},
                                           ErrorCase{"DeviceGoesOnHostContinues", true, false}),
                         [](const auto& p) { return std::string(p.param.name); });

struct StartupFailure {
  const char* name;
  std::string settings;
  std::string reason;
};

// Test names in listings: the case's name.
void PrintTo(const StartupFailure& c, std::ostream* os) { *os << c.name; }

class FailedStartup : public Session, public ::testing::WithParamInterface<StartupFailure> {};

TEST_P(FailedStartup, ShowsItsReasonThroughTheLastErrorText) {
  const StartupFailure& c = GetParam();
  // The engine's probe finds the device; the host's start-up then fails.
  UseSettings(c.name, c.settings);
  uint32_t value = 0;
  ASSERT_EQ(module->FindDevice(&value), 1);
  EXPECT_EQ(module->Initialise(0), 0);
  EXPECT_EQ(module->IsFailed(0), 0) << "the module still answers";
  EXPECT_EQ(module->GetLastErrorMsg(0, nullptr), static_cast<int32_t>(c.reason.size() + 1));
  std::string text(c.reason.size() + 1, '\0');
  EXPECT_EQ(module->GetLastErrorMsg(0, text.data()), 1);
  EXPECT_EQ(text, c.reason + '\0');
  EXPECT_EQ(module->CloseAll(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    ConnectResults, FailedStartup,
    ::testing::Values(
        StartupFailure{"TurnedOff", "connect_result_after_first = 2\n",
                       "The Corvane Controller is turned off. Please make sure the device is "
                       "plugged in and turned on."},
        StartupFailure{"NotFound", "connect_result_after_first = 4\n",
                       "The Corvane Controller cannot be found. Please make sure the device is "
                       "plugged in and turned on."},
        StartupFailure{"ChannelInUse", "connect_result_after_first = 3\n",
                       "Unexpected Corvane Controller connection error: 3"},
        // The wrist unit's cable is off from the moment the device is found.
        StartupFailure{"WristUnitCable", "warning_code = 7\ninject_from = connect\n",
                       "The Corvane Controller wrist unit cable is disconnected."}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace

namespace {

uint32_t SerialHash(const std::string& serial) {
  uint32_t id = 0;
  for (const char c : serial) id = id * 42u - 48u + static_cast<uint8_t>(c);
  return id;
}

// A pass that fails ends the worker right after its last reply.
struct FailingPass {
  const char* name;
  const char* simSettings;
  std::vector<std::string> settings;  // sent after ">dev/init"
  const char* command;                // the line whose handling fails
  const char* lastLine;               // the failing pass's last reply
  bool loaded;                        // every core kept busy meanwhile
};

void PrintTo(const FailingPass& c, std::ostream* os) { *os << c.name; }

class LastReplies : public Session, public ::testing::WithParamInterface<FailingPass> {};

TEST_P(LastReplies, ReachTheHostAfterTheWorkerHasEnded) {
  const FailingPass& c = GetParam();
  UseSettings(c.name, c.simSettings);
  const CpuLoad load(c.loaded);
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    uint32_t value = 0;
    ASSERT_EQ(module->FindDevice(&value), 1);
    ASSERT_EQ(module->Initialise(0), 1) << LastError();
    for (const std::string& line : c.settings) ASSERT_EQ(Ask(line), "<OK") << line;
    const std::string command = std::string(c.command) + "\n";
    module->WriteBuffer(0, command.c_str(), static_cast<int32_t>(command.size()));
    std::optional<std::string> line;
    while ((line = Line()) && *line != c.lastLine) {
    }
    ASSERT_TRUE(line) << "the last reply was lost";
    // The worker has ended (or is about to): nothing follows, and the module
    // reports the failure.
    for (int waited = 0; waited < 5000 && module->IsFailed(0) == 0; ++waited) {
      corvane::platform::SleepMs(1);
    }
    EXPECT_EQ(module->IsFailed(0), 1);
    EXPECT_EQ(Line(0), std::nullopt);
    ASSERT_EQ(module->CloseAll(), 1);
  }
}

const char kCommErrorLine[] =
    "^A device communication error has occurred. Please power-cycle the Corvane device and "
    "relaunch Kymoview.";
const char kCuffAbortLine[] = "#abort Corvane Controller communication error!";

INSTANTIATE_TEST_SUITE_P(
    FailedPasses, LastReplies,
    ::testing::Values(
        FailingPass{"BadParameterUnderLoad", "", {}, "?dev/dms_Test", kCommErrorLine, true},
        // Switching every 0 minutes: the first pass while sampling switches,
        // and the device refuses.
        FailingPass{"CuffSwitchFailsUnderLoad",
                    "cuff_switch_result = 3\n",
                    {"?dev/dms_EnableSwitching 2", "?dev/dms_Mins 0"},
                    ">in/sampler/start",
                    kCuffAbortLine,
                    true}),
    [](const auto& p) { return std::string(p.param.name); });

// The facade's own queries while data lines flow at 200 per second: each
// takes its own answer, never a data line, and the user messages that arrive
// meanwhile still reach the host.
TEST_F(Session, FacadeQueriesWhileSamplingTakeTheirOwnAnswers) {
  // A standing error that the module reports again after each hand-out.
  UseSettings("standing error", "error_code = 17\nerror_at_ms = 0\nerror_stops = 0\n");
  const std::string text =
      "Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  const std::string userMessage = "&U " + text;
  constexpr int kCalls = 100;
  constexpr int kSessions = 4;  // a new facade asks for its serial number again
  for (int session = 0; session < kSessions; ++session) {
    SCOPED_TRACE("session " + std::to_string(session));
    uint32_t value = 0;
    ASSERT_EQ(module->FindDevice(&value), 1);
    ASSERT_EQ(module->Initialise(0), 1) << LastError();
    ASSERT_EQ(Ask("?dev/dms_CntKVSamp 2"), "<OK");
    ASSERT_EQ(StartSampler().back(), "<OK");
    // The error has been reported once sampling runs.
    ASSERT_EQ(Record(5000, [&](const std::string& l) { return l == userMessage; }).other.back(),
              userMessage);
    for (int call = 0; call < kCalls / kSessions; ++call) {
      uint32_t id = 0;
      ASSERT_EQ(module->GetUniqueID(0, &id), 1);
      EXPECT_EQ(id, SerialHash("CV1234567"));
      EXPECT_EQ(LastError(), text);
    }
    // Each hand-out re-arms the report: the user messages that the queries
    // passed over are still delivered, and sampling goes on.
    const Recording after = Record(300);
    EXPECT_FALSE(after.other.empty());
    for (const std::string& line : after.other) EXPECT_EQ(line, userMessage);
    EXPECT_GT(after.Count(1), 0u);
    ASSERT_EQ(module->CloseAll(), 1);
  }
}

// The application may write commands on one thread while another reads
// replies (one writer and one reader at a time). During a recording, every
// question is answered once and in order, every line arrives whole, and no
// data goes missing.
TEST_F(Session, OneThreadWritesWhileAnotherReads) {
  UseSettings("two host threads", "");
  Open();
  ASSERT_EQ(StartSampler().back(), "<OK");

  constexpr int kQuestions = 150;
  const std::string question[2] = {"?dev/isok\n", "?dev/serialnum\n"};
  const std::string answer[2] = {"=1", "=CV1234567"};
  std::atomic<int> failedSeen{0};
  std::thread writer([&] {
    std::minstd_rand random(7);
    for (int i = 0; i < kQuestions; ++i) {
      const std::string& text = question[i % 2];
      module->WriteBuffer(0, text.c_str(), static_cast<int32_t>(text.size()));
      if (module->IsFailed(0) != 0) ++failedSeen;
      corvane::platform::SleepMs(random() % 8);
    }
  });

  const std::regex dataLine(R"(\+([1-9]|1[01])(,-?[0-9]+)*)");
  Recording r;
  std::vector<std::string> answers;
  int badLines = 0;
  int negativeSizes = 0;
  const auto begin = Clock::now();
  while (answers.size() < kQuestions && Clock::now() - begin < std::chrono::seconds(10)) {
    if (module->ReadBuffSize(0) < 0) ++negativeSizes;
    const std::optional<std::string> line = Line(50);
    if (!line) continue;
    if (IsData(*line)) {
      if (std::regex_match(*line, dataLine)) {
        Add(r, *line);
      } else if (++badLines < 5) {
        ADD_FAILURE() << "torn line: " << *line;
      }
    } else if (line->rfind('=', 0) == 0) {
      answers.push_back(*line);
    } else {
      r.other.push_back(*line);
    }
  }
  writer.join();
  // Everything up to the stop's "<OK" belongs to the recording, so a slow
  // reader (under a sanitizer, or on a loaded machine) still counts it all.
  EXPECT_EQ(module->WriteBuffer(0, ">in/sampler/stop\n", 17), 1);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const Recording rest = Record(5000, [](const std::string& line) { return line == "<OK"; });
  const double secondsToStop = std::chrono::duration<double>(Clock::now() - begin).count();
  ASSERT_FALSE(rest.other.empty());
  EXPECT_EQ(rest.other.back(), "<OK");
  for (const auto& [channel, values] : rest.channels) {
    r.channels[channel].insert(r.channels[channel].end(), values.begin(), values.end());
  }
  r.other.insert(r.other.end(), rest.other.begin(), rest.other.end() - 1);
  EXPECT_EQ(failedSeen.load(), 0);
  EXPECT_EQ(negativeSizes, 0);
  EXPECT_EQ(badLines, 0);
  EXPECT_TRUE(r.other.empty()) << r.other.front();
  ASSERT_EQ(answers.size(), static_cast<size_t>(kQuestions));
  for (size_t i = 0; i < answers.size(); ++i) {
    ASSERT_EQ(answers[i], answer[i % 2]) << "answer " << i;
  }
  // The beat channels may not have seen a beat yet in so short a time; the
  // sample channels keep pace.
  const auto n1 = static_cast<double>(r.Count(1));
  EXPECT_GE(n1, 200.0 * seconds * 0.9 - 20) << seconds << " s";
  EXPECT_LE(n1, 200.0 * secondsToStop + 40) << secondsToStop << " s";
  for (const int k : {2, 8, 9, 10, 11}) {
    EXPECT_NEAR(static_cast<double>(r.Count(k)), n1, 8.0) << "channel " << k;
  }

  Close();
}

}  // namespace
