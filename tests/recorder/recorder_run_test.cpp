// The recorder program against the real module with the simulated Controller
// in the "Devices" folder beside it: a recording, the settings listing, a
// recording that the device aborts, and the errors a user can run into.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "live_server.h"
#include "platform/fs_path.h"
#include "recorder_run.h"
#include "support/path.h"
#include "support/utf8.h"

#ifdef RECORDER_HAS_EDFLIB
#include <edflib.h>
#endif

namespace corvane::recorder::testing {

namespace {

std::filesystem::path Fs(const std::string& path) {
  return platform::ToFsPath(MVX::Utf8ToWide(path));
}
std::string Utf8(const std::filesystem::path& path) {
  return MVX::WideToUtf8(platform::FromFsPath(path));
}

}  // namespace

std::string TestFolder() { return MVX::WideToUtf8(MVX::Path().Wide()); }

std::string FreshFolder(const std::string& name) {
  const auto folder = Fs(TestFolder()) / "runs" / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return Utf8(folder);
}

std::string ReadText(const std::string& path) {
  std::ifstream file(Fs(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string WriteSimSettings(const std::string& folder, const std::string& text) {
  const std::string path = Utf8(Fs(folder) / "sim.txt");
  std::ofstream(Fs(path)) << text;
  return path;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream file(Fs(path));
  for (std::string line; std::getline(file, line);) {
    std::vector<std::string> cells(1);
    for (const char c : line) {
      if (c == ',') {
        cells.emplace_back();
      } else {
        cells.back() += c;
      }
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

bool Exists(const std::string& path) { return std::filesystem::exists(Fs(path)); }

void ExpectCompleteRecording(const std::string& prefix, size_t rows,
                             const std::vector<std::string>& notes, size_t deflatedRows,
                             std::optional<size_t> edfRows) {
  const auto csv = ReadCsv(prefix + ".csv");
  ASSERT_EQ(csv.size(), rows + 1);
  EXPECT_EQ(csv[0][0], "time_s");
  for (size_t i = 1; i < csv.size(); ++i) {
    ASSERT_EQ(csv[i].size(), 13u) << "row " << i;
    ASSERT_NEAR(std::stod(csv[i][0]), static_cast<double>(i - 1) / 200, 1e-9) << "row " << i;
    const double finger = std::stod(csv[i][1]);
    if (i <= deflatedRows && finger == 0) continue;
    ASSERT_TRUE(finger > 20 && finger < 250) << "row " << i << ": " << finger;
  }
#ifdef RECORDER_HAS_EDFLIB
  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly((prefix + ".edf").c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0)
      << "EDFlib error " << header.filetype;
  EXPECT_EQ(header.edfsignals, 11);
  EXPECT_EQ(header.signalparam[0].smp_in_datarecord, 200);
  EXPECT_EQ(header.datarecords_in_file,
            static_cast<long long>((edfRows.value_or(rows) + 199) / 200));
  // Every channel holds exactly what the CSV holds, status values beyond
  // their display full scale included.
  rows = std::min(rows, edfRows.value_or(rows));
  for (int channel = 0; channel < 11; ++channel) {
    std::vector<double> samples(rows);
    ASSERT_EQ(
        edfread_physical_samples(header.handle, channel, static_cast<int>(rows), samples.data()),
        static_cast<int>(rows));
    for (size_t i = 0; i < rows; ++i) {
      const std::string& cell = csv[i + 1][static_cast<size_t>(channel) + 1];
      if (cell.empty()) continue;  // a beat channel before the first beat
      ASSERT_EQ(samples[i], std::stod(cell)) << "channel " << channel + 1 << " sample " << i;
    }
  }
  std::vector<std::string> found;
  for (long long n = 0; n < header.annotations_in_file; ++n) {
    edf_annotation_struct annotation{};
    edf_get_annotation(header.handle, static_cast<int>(n), &annotation);
    found.emplace_back(annotation.annotation);
  }
  edfclose_file(header.handle);
  for (const std::string& note : notes) {
    EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                            [&](const std::string& f) { return f.rfind(note, 0) == 0; }))
        << "no annotation \"" << note << "\"";
  }
#else
  EXPECT_TRUE(Exists(prefix + ".edf"));
  (void)notes;
  (void)edfRows;
#endif
}

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(RecorderProgram, RecordsForTheTimeAskedWithTheSettingsChosen) {
  const std::string folder = FreshFolder("timed");
  const std::string prefix = folder + "/rec";
  const ProgramResult run = RunRecorder({"--out", prefix, "--duration", "3", "--set",
                                         "SwitchingMins=30", "--set", "PhysioCalOff=off"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ExpectCompleteRecording(prefix, 600, {"HCU not zeroed", "recording end"});

  EXPECT_TRUE(Contains(run.output, "Device: Corvane, serial CV1234567")) << run.output;
  EXPECT_TRUE(Contains(run.output, "Warning: Sampling will inflate finger cuffs.")) << run.output;
  EXPECT_TRUE(Contains(run.output, "duration            3.00 s (600 complete rows)")) << run.output;
  EXPECT_TRUE(Contains(run.output, "gaps                none")) << run.output;

  const std::string log = ReadText(prefix + ".log");
  const size_t minutes = log.find("sent ?dev/dms_Mins 30, reply <OK");
  const size_t calibration = log.find("sent ?dev/dms_PCalOff 1, reply <OK");
  const size_t start = log.find("sent ?in/sampler/start, reply <OK");
  const size_t stop = log.find("sent ?in/sampler/stop, reply <OK");
  ASSERT_NE(minutes, std::string::npos) << log;
  ASSERT_NE(calibration, std::string::npos) << log;
  ASSERT_NE(start, std::string::npos) << log;
  ASSERT_NE(stop, std::string::npos) << log;
  EXPECT_LT(minutes, start);
  EXPECT_LT(calibration, start);
  EXPECT_LT(start, stop);
  EXPECT_FALSE(Contains(log, "dms_Mins 15")) << "the default was sent although a choice was made";

#ifdef RECORDER_HAS_CAIRO
  EXPECT_EQ(ReadText(prefix + ".png").substr(0, 8), "\x89PNG\r\n\x1a\n");
#else
  EXPECT_TRUE(Contains(run.output, "No plot:")) << run.output;
#endif
}

TEST(RecorderProgram, AnEarlierRecordingIsReplacedOnlyWhenAskedTo) {
  const std::string folder = FreshFolder("again");
  const std::string prefix = folder + "/rec";
  // A run that recorded nothing leaves its log (and an empty CSV at most):
  // a retry with the same prefix goes ahead and adds to that log.
  std::ofstream(Fs(prefix + ".csv")) << "time_s,finger_pressure_mmHg\n";
  ProgramResult run = RunRecorder(
      {"--out", prefix, "--sim-settings", WriteSimSettings(folder, "connect_result = 4\n")});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  run = RunRecorder({"--out", prefix, "--duration", "0.5"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string log = ReadText(prefix + ".log");
  const size_t separator = log.find("----- a new run with the same --out -----");
  ASSERT_NE(separator, std::string::npos) << log;
  EXPECT_LT(log.find("could not be started"), separator) << log;
  EXPECT_GT(log.find("recording started"), separator) << log;

  // A recording with rows is kept.
  const std::string csv = ReadText(prefix + ".csv");
  run = RunRecorder({"--out", prefix, "--duration", "1"});
  EXPECT_EQ(run.exitCode, 1) << run.output;
#ifdef RECORDER_HAS_CAIRO
  EXPECT_TRUE(
      Contains(run.output, prefix + ".csv, " + prefix + ".edf, " + prefix + ".png already exist"))
      << run.output;
#else
  EXPECT_TRUE(Contains(run.output, prefix + ".csv, " + prefix + ".edf already exist"))
      << run.output;
#endif
  EXPECT_TRUE(Contains(run.output, "--overwrite")) << run.output;
  EXPECT_EQ(ReadText(prefix + ".csv"), csv);
  EXPECT_EQ(ReadText(prefix + ".log"), log) << "refused before anything was written";

  run = RunRecorder({"--out", prefix, "--duration", "1", "--overwrite"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ExpectCompleteRecording(prefix, 200, {"recording end"});
  EXPECT_FALSE(Contains(ReadText(prefix + ".log"), "----- a new run")) << "replaced, not added to";
}

TEST(RecorderProgram, ListsTheDeviceSettings) {
  const ProgramResult run = RunRecorder({"settings"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(Contains(run.output, "\"Corvane Settings\" (dialog Panel)")) << run.output;
  EXPECT_TRUE(Contains(run.output, "Cuff Switching Mode  (default)")) << run.output;
}

TEST(RecorderProgram, ADeviceAbortEndsTheRecordingWithCompleteFiles) {
  const std::string folder = FreshFolder("abort");
  const std::string prefix = folder + "/rec";
  // Error 12 always aborts the recording.
  const std::string settings = WriteSimSettings(folder, "error_code = 12\nerror_at_ms = 2500\n");
  const ProgramResult run =
      RunRecorder({"--out", prefix, "--duration", "8", "--sim-settings", settings});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_TRUE(Contains(run.output, "The device aborted the recording")) << run.output;

  // Every finger-pressure value received is a row; the beat channels, a
  // beat behind, hold their last values from where they stop.
  const auto csv = ReadCsv(prefix + ".csv");
  ASSERT_GT(csv.size(), 401u);
  ASSERT_LT(csv.size(), 601u);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(run.output, match, std::regex("samples per channel (\\d+)")))
      << run.output;
  EXPECT_EQ(std::stoul(match[1].str()), csv.size() - 1) << run.output;
  ASSERT_TRUE(std::regex_search(
      run.output, match,
      std::regex("\\((\\d+) rows: (\\d+) complete, (\\d+) completed with held values: ch3-ch7 "
                 "from ([0-9.]+) s")))
      << run.output;
  EXPECT_EQ(std::stoul(match[1].str()), csv.size() - 1);
  const size_t firstHeld = std::stoul(match[2].str()) + 1;
  EXPECT_EQ(std::stod(match[4].str()), std::stod(csv[firstHeld][0])) << run.output;
  EXPECT_FALSE(csv[firstHeld - 1][3].empty());
  for (size_t i = firstHeld; i < csv.size(); ++i) ASSERT_TRUE(csv[i][3].empty()) << "row " << i;
  ExpectCompleteRecording(prefix, csv.size() - 1,
                          {"abort: dmsError_Electronics", "values held from here: ch3-ch7"});
  // The module's own log lines reach the log through the host framework.
  EXPECT_TRUE(Contains(ReadText(prefix + ".log"), "DMSWrapper error: Corvane Controller Error 12"))
      << ReadText(prefix + ".log");
}

TEST(RecorderProgram, ErrorsAreClearAndEndWithANonZeroStatus) {
  const std::string folder = FreshFolder("errors");

  ProgramResult run = RunRecorder({"--out", folder + "/unknown", "--set", "Speed=fast"});
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_TRUE(Contains(run.output, "unknown setting \"Speed\"; the settings are: ")) << run.output;
  EXPECT_TRUE(Contains(run.output, "SwitchingMins")) << run.output;
  EXPECT_FALSE(Exists(folder + "/unknown.csv"));
  // Found before the module was loaded (a load may update the firmware): no
  // log was begun.
  EXPECT_FALSE(Exists(folder + "/unknown.log"));
  run = RunRecorder({"--out", folder + "/unknown", "--press", "ZeroHUC"});
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_TRUE(Contains(run.output, "\"ZeroHUC\" is not a button; the buttons are: ZeroHCU"))
      << run.output;
  EXPECT_FALSE(Exists(folder + "/unknown.log"));

  run = RunRecorder({"--out", folder + "/nomodule", "--module", folder + "/Nothing.kvwdll"});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_TRUE(Contains(run.output, "device module not found")) << run.output;

  const auto devices = std::filesystem::directory_iterator(
      Fs(TestFolder()) / "Devices");
  ASSERT_NE(devices, std::filesystem::directory_iterator());
  run = RunRecorder({"--out", folder + "/notmodule", "--module", Utf8(devices->path())});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_TRUE(Contains(run.output, "is not a device module: it lacks GetDeviceClassInfo"))
      << run.output;

  run = RunRecorder({"--out", folder + "/no/such/folder/rec"});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_TRUE(Contains(run.output, "cannot write the recording")) << run.output;

  const std::string settings = WriteSimSettings(folder, "connect_result = 4\n");
  run = RunRecorder({"--out", folder + "/nodevice", "--sim-settings", settings});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_TRUE(Contains(run.output, "the device could not be started: ")) << run.output;
  EXPECT_FALSE(Exists(folder + "/nodevice.csv"));

  // A port that is not there is said first (on Linux a relative path, on
  // Windows a COM port nobody has).
  run = RunRecorder({"--out", folder + "/noport", "--port", "COM199"});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_TRUE(Contains(run.output, "error: cannot use the port COM199: the port does not exist"))
      << run.output;
  EXPECT_FALSE(Contains(run.output, "Looking for")) << run.output;

  // A recorder built without the live view (Windows) says so.
  if (!LiveServer::Available()) {
    run = RunRecorder({"--out", folder + "/nolive", "--live"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(Contains(run.output, "error: --live: the live view is not available"))
        << run.output;
    EXPECT_FALSE(Exists(folder + "/nolive.log"));
  }

  // The simulator's settings are checked before anything starts.
  const struct {
    const char* text;
    const char* said;
  } badSettings[] = {
      {"error_kode = 12\n", ": line 1: unknown key 'error_kode'"},
      {"# comment\nhcu_status = 9\n", ": line 2: bad value '9' for hcu_status"},
  };
  for (const auto& bad : badSettings) {
    run = RunRecorder(
        {"--out", folder + "/badsim", "--sim-settings", WriteSimSettings(folder, bad.text)});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(Contains(run.output, "error: --sim-settings ")) << run.output;
    EXPECT_TRUE(Contains(run.output, bad.said)) << run.output;
    EXPECT_FALSE(Exists(folder + "/badsim.log"));
  }

  run = RunRecorder({"--duration", "soon"});
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_TRUE(Contains(run.output, "Usage:")) << run.output;
}

}  // namespace
}  // namespace corvane::recorder::testing
