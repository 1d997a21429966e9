#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "wrist_unit.h"

namespace corvane::testing {
namespace {

std::filesystem::path Link() {
  return std::filesystem::temp_directory_path() /
         ("corvane_vz_" + std::to_string(getpid()) + ".tty");
}

}  // namespace

WristUnit::WristUnit() {
  mSettings =
      std::filesystem::temp_directory_path() / ("corvane_vz_" + std::to_string(getpid()) + ".txt");
  std::ofstream(mSettings, std::ios::trunc) << "watchdog_ms = 0\n";
  mSendLog =
      std::filesystem::temp_directory_path() / ("corvane_vz_" + std::to_string(getpid()) + ".sent");
  const std::string link = Link();
  const std::string sendLog = mSendLog.string();
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    execl(SIM_VIVEZORE_EXE, SIM_VIVEZORE_EXE, "--link", link.c_str(), "--settings",
          mSettings.c_str(), "--send-log", sendLog.c_str(), "--quiet", static_cast<char*>(nullptr));
    _exit(127);
  }
  mProcess = pid;
  for (int i = 0; i < 200 && !std::filesystem::exists(link); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  setenv("CORVANE_SERIAL_PORTS", link.c_str(), 1);
  mRunning = pid > 0;
}

WristUnit::~WristUnit() {
  if (mProcess > 0) {
    kill(static_cast<pid_t>(mProcess), SIGTERM);
    waitpid(static_cast<pid_t>(mProcess), nullptr, 0);
  }
  std::filesystem::remove(mSettings);
  std::filesystem::remove(mSendLog);
}

bool WristUnit::Running() const { return mRunning && std::filesystem::exists(Link()); }

bool VendorLibraryLoaded() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("DMSFinapresAPI_C") != std::string::npos) return true;
  }
  return false;
}

}  // namespace corvane::testing
