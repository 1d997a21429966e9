// The recorder program with the simulated wrist unit it starts itself
// (--wrist-unit-sim), the module and a firmware image (version 2.1.1.0) in the
// "Devices" folder beside the test: a recording, an update before it, an
// update that fails, a named port, and a hang-up of the line during the
// recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "recorder_run.h"
#include "run_length.h"
#include "wrist_unit_sim.h"

namespace corvane::recorder::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

namespace {

// Quick timings of the simulated unit's update steps.
constexpr char kQuickUpdate[] = "bootloader_entry_ms = 100\nerase_ms = 300\nrestart_ms = 300\n";
// A unit that already runs the image's version: no update.
constexpr char kCurrentFirmware[] = "firmware = 2.1.1.0\n";
// The unit's first frames after the start may still have the cuff empty.
constexpr size_t kDeflatedRows = 20;

struct WristRun {
  std::string prefix;
  ProgramResult result;
  std::string log;
};

WristRun RecordFromSimulator(const std::string& name, const std::string& settings,
                             const std::string& seconds) {
  const std::string folder = FreshFolder(name);
  WristRun run;
  run.prefix = folder + "/rec";
  run.result =
      RunRecorder({"--wrist-unit-sim", "--sim-settings", WriteSimSettings(folder, settings),
                   "--duration", seconds, "--out", run.prefix});
  run.log = ReadText(run.prefix + ".log");
  return run;
}

}  // namespace

// No process runs with the simulator's port on its command line any more,
// and its folder is gone.
void ExpectSimulatorStopped(const std::string& output) {
  std::smatch match;
  ASSERT_TRUE(
      std::regex_search(output, match, std::regex("Simulated wrist unit started on (\\S+)")))
      << output;
  const std::string port = match[1].str();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(port).parent_path())) << port;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::string command = ReadText((entry.path() / "cmdline").string());
    std::replace(command.begin(), command.end(), '\0', ' ');
    EXPECT_FALSE(Contains(command, port)) << entry.path() << ": " << command;
  }
}

namespace {

uint64_t LostFrames(const std::string& output) {
  std::smatch match;
  if (!std::regex_search(output, match, std::regex("lost data frames +(\\d+)"))) return 0;
  return std::stoull(match[1].str());
}

TEST(WristUnitRecording, RecordsTheSimulatedUnitThatTheRecorderStartsItself) {
  const WristRun run = RecordFromSimulator("wrist", kCurrentFirmware, "3");
  const std::string& output = run.result.output;
  ASSERT_EQ(run.result.exitCode, 0) << output;
  ExpectCompleteRecording(run.prefix, 600, {}, kDeflatedRows);
#ifdef RECORDER_HAS_CAIRO
  EXPECT_TRUE(Exists(run.prefix + ".png"));
#endif
  EXPECT_TRUE(Contains(output, "Generation: Nano (Vive Zore wrist unit) on ")) << output;
  EXPECT_TRUE(
      Contains(output, "/Devices/ViveZore.V2.1.1.0.xml: not needed (the unit runs 2.1.1.0,"))
      << output;
  EXPECT_TRUE(Contains(output, "  generation          Nano (Vive Zore wrist unit) on ")) << output;
  EXPECT_TRUE(Contains(output, "  gaps                none\n")) << output;
  EXPECT_TRUE(Contains(output, "  lost data frames    0\n")) << output;
  EXPECT_FALSE(Contains(output, "Updating Vive Zore wrist unit")) << output;
  ExpectSimulatorStopped(output);
}

TEST(WristUnitRecording, InstallsTheNewerImageBeforeRecording) {
  const WristRun run = RecordFromSimulator("wrist-update", kQuickUpdate, "2");
  const std::string& output = run.result.output;
  ASSERT_EQ(run.result.exitCode, 0) << output;
  ExpectCompleteRecording(run.prefix, 400, {}, kDeflatedRows);
  EXPECT_TRUE(Contains(output, "/Devices/ViveZore.V2.1.1.0.xml: installed\n")) << output;

  // The bar's lines, in order: the percentages only rise, up to 100.
  std::vector<int> percents;
  const std::regex bar("Updating Vive Zore wrist unit \\[[# ]+\\] +(\\d+)%");
  for (std::sregex_iterator it(output.begin(), output.end(), bar), end; it != end; ++it) {
    percents.push_back(std::stoi((*it)[1].str()));
  }
  ASSERT_GE(percents.size(), 3u) << output;
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << output;
  EXPECT_EQ(percents.back(), 100) << output;
  EXPECT_TRUE(Contains(output, "Firmware update: Image update complete and wrist unit rebooted"))
      << output;
  // The unit runs the new firmware: the patch number went up.
  EXPECT_TRUE(Contains(output, "Nano firmware v2.1.1.")) << output;

  EXPECT_TRUE(Contains(run.log,
                       "recorder: progress window \"Updating Vive Zore wrist unit\" "
                       "opened: Entering update mode"))
      << run.log;
  EXPECT_TRUE(Contains(run.log,
                       "recorder: progress window \"Updating Vive Zore wrist unit\" "
                       "closed after "))
      << run.log;
  EXPECT_TRUE(Contains(run.log, " succeeded: Image update complete")) << run.log;
  // The unit's counter starts again after its restart; that loses nothing
  // of the recording.
  EXPECT_TRUE(Contains(output, "  lost data frames    0\n")) << output;
}

// The image beside the recorder with one data byte changed while it lives:
// the unit's check of the checksum fails after the transfer.
class CorruptImage {
 public:
  CorruptImage() : mPath(TestFolder() + "/Devices/ViveZore.V2.1.1.0.xml"), mText(ReadText(mPath)) {
    std::string corrupt = mText;
    // The first character of the data's base64 text: its first byte changes.
    const size_t data = corrupt.find_first_not_of(" \t\r\n", corrupt.find("<Data>") + 6);
    corrupt[data] = corrupt[data] == 'A' ? 'B' : 'A';
    std::ofstream(mPath, std::ios::binary | std::ios::trunc) << corrupt;
  }
  ~CorruptImage() { std::ofstream(mPath, std::ios::binary | std::ios::trunc) << mText; }
  CorruptImage(const CorruptImage&) = delete;
  CorruptImage& operator=(const CorruptImage&) = delete;

 private:
  std::string mPath;
  std::string mText;
};

// A corrupt image: the unit stays in its bootloader after the transfer. The
// long runs also let a unit that never comes back from its restart wait out
// the module's 40 s for it.
TEST(WristUnitRecording, AFailedUpdateRecordsNothingAndSaysWhy) {
  struct Case {
    bool corruptImage;
    std::string settings;
  };
  std::vector<Case> cases = {{true, kQuickUpdate}};
  if (corvane::testing::LongRunsAsked()) {
    cases.push_back({false, std::string(kQuickUpdate) + "restart_hangs = 1\n"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    std::optional<CorruptImage> corrupt;
    if (c.corruptImage) corrupt.emplace();
    const std::string& settings = c.settings;
    const WristRun run = RecordFromSimulator("wrist-update-fails", settings, "2");
    const std::string& output = run.result.output;
    EXPECT_EQ(run.result.exitCode, 2) << output;
    EXPECT_TRUE(Contains(output, "error: the wrist unit's firmware update on ")) << output;
    EXPECT_TRUE(Contains(output,
                         " failed (Wrist unit Reboot didn't complete successfully); "
                         "nothing was recorded"))
        << output;
    for (const char* extension : {".csv", ".edf", ".png"}) {
      EXPECT_FALSE(Exists(run.prefix + extension)) << extension;
    }
    EXPECT_TRUE(Contains(run.log, " failed: Wrist unit Reboot didn't complete successfully"))
        << run.log;
    ExpectSimulatorStopped(output);
  }
}

// --port: the recording comes from the unit on that port, or not at all (the
// module would otherwise go on to the Controller library beside the test).
TEST(WristUnitRecording, APortNamesTheUnitToRecordFrom) {
  const std::string folder = FreshFolder("wrist-port");
  const SimulatedWristUnit unit(TestFolder() + "/" + SimulatorProgramName(),
                                WriteSimSettings(folder, kCurrentFirmware));
  const struct {
    std::string port;
    int exitCode;
    std::string said;
  } cases[] = {
      {unit.Port(), 0, "Generation: Nano (Vive Zore wrist unit) on " + unit.Port() + "\n"},
      // Said first, before the module looks anywhere else.
      {folder + "/no-such-port", 2,
       "error: cannot use the port " + folder + "/no-such-port: the port does not exist"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string prefix = folder + "/rec" + std::to_string(++n);
    const ProgramResult run = RunRecorder({"--port", c.port, "--duration", "1", "--out", prefix});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_TRUE(Contains(run.output, c.said)) << run.output;
    EXPECT_EQ(Exists(prefix + ".csv"), c.exitCode == 0) << c.port;
    EXPECT_EQ(Contains(run.output, "Looking for the wrist unit"), c.exitCode == 0) << run.output;
  }
}

TEST(WristUnitRecording, AHangUpOfTheLineIsRecordedThroughAndReportedAsLostFrames) {
  // The line goes for 0.4 s once the recording runs; the module reopens the
  // port, which takes it up to a second. Every 97th frame comes twice, every
  // 350th never.
  const WristRun run = RecordFromSimulator(
      "wrist-hangup",
      std::string(kCurrentFirmware) +
          "hangup_after_ms = 3500\nhangup_ms = 400\nduplicate_every = 97\ndrop_every = 350\n",
      "6");
  const std::string& output = run.result.output;
  ASSERT_EQ(run.result.exitCode, 0) << output;
  ExpectCompleteRecording(run.prefix, 1200, {}, kDeflatedRows);
  EXPECT_TRUE(Contains(run.log, "Nano Driver trying port reconnect")) << run.log;
  // One reconnection, however many attempts it took.
  EXPECT_TRUE(Contains(output, "  reconnects          1 (")) << output;
  const uint64_t lost = LostFrames(output);
  EXPECT_GE(lost, 60u) << output;
  EXPECT_LE(lost, 600u) << output;
  // Each break is a gap with its place and length; they add up to the lost
  // frames: the hang-up's, and one frame at each drop.
  std::smatch match;
  ASSERT_TRUE(std::regex_search(output, match, std::regex("gaps +([^\\n]*) lost\\n"))) << output;
  const std::string gaps = match[1].str();
  const std::regex gap("(\\d+\\.\\d+) s: (\\d+) frames?");
  uint64_t sum = 0, breaks = 0, drops = 0, hangUps = 0;
  for (std::sregex_iterator it(gaps.begin(), gaps.end(), gap), end; it != end; ++it) {
    const uint64_t frames = std::stoull((*it)[2].str());
    sum += frames;
    ++breaks;
    drops += frames == 1 ? 1 : 0;
    if (frames > 1) {
      ++hangUps;
      EXPECT_GT(std::stod((*it)[1].str()), 1.5) << output;
      EXPECT_LT(std::stod((*it)[1].str()), 5.0) << output;
    }
  }
  EXPECT_EQ(sum, lost) << output;
  EXPECT_EQ(hangUps, 1u) << output;
  EXPECT_GE(drops, 2u) << output;
  EXPECT_TRUE(Contains(output, " in " + std::to_string(breaks) + " breaks of the unit's"))
      << output;
  // The repeated frames lose nothing.
  ASSERT_TRUE(std::regex_search(output, match, std::regex("repeated frames +(\\d+) \\(")))
      << output;
  EXPECT_GE(std::stoull(match[1].str()), 5u) << output;
  EXPECT_LE(std::stoull(match[1].str()), 30u) << output;
  ExpectSimulatorStopped(output);
}

// The unit refuses the start: no row, so no EDF+ file with values never
// received; the summary says so. Bad simulator settings stop the run first.
TEST(WristUnitRecording, ARecordingWithoutRowsInventsNoValues) {
  WristRun run =
      RecordFromSimulator("wrist-empty", std::string(kCurrentFirmware) + "nack_letter = e\n", "2");
  const std::string& output = run.result.output;
  EXPECT_EQ(run.result.exitCode, 3) << output;
  EXPECT_TRUE(Contains(output, "  duration            0.00 s (0 complete rows)\n")) << output;
  EXPECT_TRUE(Contains(output, "  EDF+ file           none: no rows were recorded\n")) << output;
  EXPECT_FALSE(Exists(run.prefix + ".edf"));
  EXPECT_EQ(ReadCsv(run.prefix + ".csv").size(), 1u) << "the header only";
  ExpectSimulatorStopped(output);

  run = RecordFromSimulator("wrist-bad-settings", "hangup_ms = 99999999\n", "2");
  EXPECT_EQ(run.result.exitCode, 1) << run.result.output;
  EXPECT_TRUE(Contains(run.result.output, ": line 1: bad value '99999999' for hangup_ms\n"))
      << run.result.output;
  EXPECT_FALSE(Contains(run.result.output, "Simulated wrist unit started")) << run.result.output;
}

}  // namespace
}  // namespace corvane::recorder::testing
