// Starting the recorder on Linux, and stopping it with Ctrl-C (SIGINT) in the
// middle of a recording.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "recorder_run.h"

namespace corvane::recorder::testing {
namespace {

pid_t Start(const std::vector<std::string>& args, const std::string& outputPath) {
  const std::string program = TestFolder() + "/corvane-record";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    execv(program.c_str(), argv.data());
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

ProgramResult RunRecorder(const std::vector<std::string>& args) {
  static int runs = 0;
  const std::string outputPath =
      FreshFolder("output-" + std::to_string(getpid()) + "-" + std::to_string(++runs)) +
      "/output.txt";
  ProgramResult result;
  result.exitCode = Wait(Start(args, outputPath));
  result.output = ReadText(outputPath);
  return result;
}

namespace {

TEST(RecorderProgram, CtrlCInTheMiddleLeavesCompleteReadableFiles) {
  const std::string folder = FreshFolder("interrupted");
  const std::string prefix = folder + "/rec";
  const std::string outputPath = folder + "/output.txt";
  const pid_t pid = Start({"--out", prefix, "--duration", "30"}, outputPath);
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
      Start({"--wrist-unit-sim", "--sim-settings", WriteSimSettings(folder, "firmware = 2.1.1.0\n"),
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

}  // namespace
}  // namespace corvane::recorder::testing
