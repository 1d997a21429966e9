// Starting the recorder on Linux, and stopping it with Ctrl-C (SIGINT) in the
// middle of a recording.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "recorder_run.h"

namespace corvane::recorder::testing {
namespace {

// `fileSizeLimit` (bytes, 0: none) makes every write beyond it fail, as on a
// full disk.
pid_t Start(const std::string& program, const std::vector<std::string>& args,
            const std::string& outputPath, rlim_t fileSizeLimit = 0) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    if (fileSizeLimit != 0) {
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_IGN);
    }
    execvp(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  static int runs = 0;
  const std::string outputPath =
      FreshFolder("output-" + std::to_string(getpid()) + "-" + std::to_string(++runs)) +
      "/output.txt";
  ProgramResult result;
  result.exitCode = Wait(Start(program, args, outputPath));
  result.output = ReadText(outputPath);
  return result;
}

ProgramResult RunRecorder(const std::vector<std::string>& args) {
  return RunProgram(TestFolder() + "/corvane-record", args);
}

namespace {

TEST(RecorderProgram, CtrlCInTheMiddleLeavesCompleteReadableFiles) {
  const std::string folder = FreshFolder("interrupted");
  const std::string prefix = folder + "/rec";
  const std::string outputPath = folder + "/output.txt";
  const pid_t pid =
      Start(TestFolder() + "/corvane-record", {"--out", prefix, "--duration", "30"}, outputPath);
  ASSERT_GT(pid, 0);
  // Wait until the recording runs, then two seconds more.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadText(outputPath).find("Recording for") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  const int exitCode = Wait(pid);
  const std::string output = ReadText(outputPath);
  ASSERT_EQ(exitCode, 0) << output;
  EXPECT_NE(output.find("Ctrl-C: finishing the last beat"), std::string::npos) << output;

  // Everything up to the Ctrl-C is kept: the rows wait for the last beat.
  const auto csv = ReadCsv(prefix + ".csv");
  ASSERT_GT(csv.size(), 350u) << output;
  ASSERT_LT(csv.size(), 1400u) << output;
  ExpectCompleteRecording(prefix, csv.size() - 1, {"recording end"});
  EXPECT_NE(ReadText(prefix + ".log").find("sent ?in/sampler/stop, reply <OK"), std::string::npos);
#ifdef RECORDER_HAS_CAIRO
  EXPECT_TRUE(Exists(prefix + ".png"));
#endif
}

// Ctrl-C reaches the recorder, not the simulator it started (that has a
// process group of its own): the recording is finished, then the simulator
// stopped.
TEST(RecorderProgram, CtrlCWithTheSimulatedWristUnitStopsTheSimulatorToo) {
  const std::string folder = FreshFolder("interrupted-wrist");
  const std::string outputPath = folder + "/output.txt";
  const pid_t pid =
      Start(TestFolder() + "/corvane-record",
            {"--wrist-unit-sim", "--sim-settings", WriteSimSettings(folder, "firmware = 2.1.1.0\n"),
             "--out", folder + "/rec", "--duration", "30"},
            outputPath);
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadText(outputPath).find("Recording for") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  const int exitCode = Wait(pid);
  const std::string output = ReadText(outputPath);
  EXPECT_EQ(exitCode, 0) << output;
  EXPECT_NE(output.find("Summary"), std::string::npos) << output;
  ExpectSimulatorStopped(output);
}

// The files can take 32 KiB each: the CSV is full after about 3 s of a 20 s
// recording. The recorder notices within a second, stops the device and
// keeps what the files hold, and its summary tells those rows.
TEST(RecorderProgram, AFullDiskStopsTheRecordingWithTheRowsTheFilesHold) {
  const std::string folder = FreshFolder("full");
  const std::string prefix = folder + "/rec";
  const std::string outputPath = folder + "/output.txt";
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = Start(TestFolder() + "/corvane-record", {"--out", prefix, "--duration", "20"},
                          outputPath, 32 * 1024);
  ASSERT_GT(pid, 0);
  const int exitCode = Wait(pid);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const std::string output = ReadText(outputPath);
  EXPECT_EQ(exitCode, 2) << output;
  EXPECT_TRUE(output.find("error: writing " + prefix + ".csv failed: ") != std::string::npos)
      << output;
  EXPECT_TRUE(output.find("; the recording stops here") != std::string::npos) << output;
  EXPECT_NE(ReadText(prefix + ".log").find("sent ?in/sampler/stop, reply <OK"), std::string::npos);

  // The CSV ends with a whole line; the summary counts what each file holds.
  const auto csv = ReadCsv(prefix + ".csv");
  ASSERT_GT(csv.size(), 200u);
  for (const auto& row : csv) ASSERT_EQ(row.size(), 13u);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(
      output, match,
      std::regex("duration +([0-9.]+) s in \\S+rec\\.csv \\((\\d+) rows\\), [0-9.]+ s in "
                 "\\S+rec\\.edf \\((\\d+) rows\\): writing ")))
      << output;
  EXPECT_EQ(std::stoul(match[2].str()), csv.size() - 1) << output;
  ExpectCompleteRecording(prefix, csv.size() - 1, {}, 0, std::stoul(match[3].str()));
  // Within 2 s of the CSV's first failure, the device stop included
  // (about a second), plus the start-up.
  EXPECT_LT(seconds, std::stod(match[1].str()) + 2.0 + 4.0) << output;
}

}  // namespace
}  // namespace corvane::recorder::testing
