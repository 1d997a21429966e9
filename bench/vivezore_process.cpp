#include "vivezore_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace corvane::bench {

std::vector<SentFrame> ReadSendLog(const std::string& path) {
  std::vector<SentFrame> sent;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return sent;
  long long ns = 0;
  unsigned counter = 0, bp = 0;
  while (std::fscanf(file, "%lld %u %u", &ns, &counter, &bp) == 3) {
    sent.push_back({ns, counter, static_cast<int32_t>(bp / 10) * 32000 / 400});
  }
  std::fclose(file);
  return sent;
}

VivezoreProcess::VivezoreProcess(const std::filesystem::path& dir, const std::string& settings,
                                 bool flood)
    : dir_(dir) {
  Configure(settings);
  std::filesystem::remove(SendLog());
  const std::string link = Link(), settingsPath = Settings(), sendLog = SendLog();
  pid_ = fork();
  if (pid_ == 0) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    execl(SIM_VIVEZORE_EXE, SIM_VIVEZORE_EXE, "--link", link.c_str(), "--settings",
          settingsPath.c_str(), "--send-log", sendLog.c_str(), "--quiet",
          flood ? "--flood" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 300 && !std::filesystem::exists(Link()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  setenv("CORVANE_SERIAL_PORTS", link.c_str(), 1);
}

bool VivezoreProcess::Running() const { return pid_ > 0 && std::filesystem::exists(Link()); }

void VivezoreProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void VivezoreProcess::Configure(const std::string& settings) const {
  // Written aside and renamed, so the simulator never reads half a file.
  const std::filesystem::path fresh = dir_ / "vivezore.txt.new";
  std::ofstream(fresh, std::ios::trunc) << settings;
  std::filesystem::rename(fresh, Settings());
}

}  // namespace corvane::bench
