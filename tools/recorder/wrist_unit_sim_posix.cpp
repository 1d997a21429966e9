#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "vz_settings.h"
#include "wrist_unit_sim.h"

namespace corvane::recorder {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartLimit = 5s;
constexpr auto kStopLimit = 2s;
constexpr auto kPollInterval = 20ms;

std::string ReadAll(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The child's state, without blocking: true once it has ended.
bool Ended(pid_t pid, int& status) {
  const pid_t result = waitpid(pid, &status, WNOHANG);
  return result == pid || (result < 0 && errno == ECHILD);
}

}  // namespace

struct SimulatedWristUnit::Process {
  std::string folder;
  std::string port;
  pid_t pid = -1;

  ~Process() {
    Stop();
    std::error_code error;
    if (!folder.empty()) std::filesystem::remove_all(folder, error);
  }

  void Stop() {
    if (pid <= 0) return;
    int status = 0;
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
    while (!Ended(pid, status)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(kPollInterval);
    }
    pid = -1;
  }
};

SimulatedWristUnit::SimulatedWristUnit(const std::string& program, const std::string& settings)
    : mProcess(std::make_unique<Process>()) {
  if (access(program.c_str(), X_OK) != 0) {
    throw SimulatorError("the simulated wrist unit " + program +
                         " is not there; build the "
                         "sim-vivezore target");
  }
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/corvane-record-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw SimulatorError("no temporary folder for the simulated wrist unit: " +
                         std::string(std::strerror(errno)));
  }
  mProcess->folder = pattern;
  mProcess->port = pattern + "/port";
  const std::string errors = pattern + "/sim.err";

  std::vector<std::string> args = {program, "--link", mProcess->port, "--quiet"};
  if (!settings.empty()) {
    args.push_back("--settings");
    args.push_back(settings);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw SimulatorError("cannot start " + program + ": " + std::strerror(errno));
  if (pid == 0) {
    // A process group of its own: Ctrl-C on the terminal reaches the recorder
    // only, which finishes the recording before it stops the simulator. And
    // it goes when the recorder goes, however that ends.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    const int out = open("/dev/null", O_WRONLY);
    const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) dup2(out, STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  mProcess->pid = pid;

  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  struct stat info {};
  while (lstat(mProcess->port.c_str(), &info) != 0) {
    int status = 0;
    if (Ended(pid, status)) {
      mProcess->pid = -1;
      throw SimulatorError("the simulated wrist unit did not start: " + ReadAll(errors));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw SimulatorError("the simulated wrist unit made no port within 5 s");
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

SimulatedWristUnit::~SimulatedWristUnit() = default;

const std::string& SimulatedWristUnit::Port() const { return mProcess->port; }

std::string SimulatorProgramName() { return "sim-vivezore"; }

std::vector<std::string> SimulatorSettingsProblems(const std::string& text) {
  return vzsim::ParseSettings(text).problems;
}

}  // namespace corvane::recorder
