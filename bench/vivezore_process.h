// The simulated wrist unit as a child process behind a pseudo-terminal link
// in a folder of its own, with its settings file and its send log there
// (Linux only; the simulator is a native program).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace corvane::bench {

// One 'd' frame from the simulator's send log: when its last byte was written
// (CLOCK_MONOTONIC), its counter, and its pressure as the host's channel 1
// shows it, (pressure / 10) * 32000 / 400.
struct SentFrame {
  int64_t ns;
  unsigned counter;
  int32_t value;
};

// The send log's frames in the order they were written; empty without a log.
std::vector<SentFrame> ReadSendLog(const std::string& path);

class VivezoreProcess {
 public:
  // Writes `settings` to the settings file, starts SIM_VIVEZORE_EXE with
  // --send-log and waits for its link; the module's port listing is pointed
  // at the link through CORVANE_SERIAL_PORTS.
  VivezoreProcess(const std::filesystem::path& dir, const std::string& settings, bool flood);
  ~VivezoreProcess() { Stop(); }
  VivezoreProcess(const VivezoreProcess&) = delete;
  VivezoreProcess& operator=(const VivezoreProcess&) = delete;

  bool Running() const;
  // SIGTERM, which also completes the send log.
  void Stop();
  // Replaces the settings file in one step; the simulator re-reads it
  // within 100 ms.
  void Configure(const std::string& settings) const;

  std::string Link() const { return (dir_ / "vivezore.tty").string(); }
  std::string Settings() const { return (dir_ / "vivezore.txt").string(); }
  std::string SendLog() const { return (dir_ / "vivezore_sent.txt").string(); }

 private:
  std::filesystem::path dir_;
  pid_t pid_ = -1;
};

}  // namespace corvane::bench
