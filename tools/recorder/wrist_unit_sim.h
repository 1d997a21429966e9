// The simulated wrist unit as a child of the recorder: sim-vivezore on a
// pseudo-terminal, reached through a link in a temporary folder of its own.
// It lives as long as this object (wrist_unit_sim_posix.cpp; the simulator is
// a Linux program, so on Windows starting it fails with a reason).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::recorder {

class SimulatorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SimulatedWristUnit {
 public:
  // Starts `program` with the settings file `settings` (empty: its own
  // defaults) and waits until its port is there. Throws SimulatorError.
  SimulatedWristUnit(const std::string& program, const std::string& settings);
  // Stops the simulator and removes its folder.
  ~SimulatedWristUnit();
  SimulatedWristUnit(const SimulatedWristUnit&) = delete;
  SimulatedWristUnit& operator=(const SimulatedWristUnit&) = delete;

  // The path the module opens: a link that follows the simulator's
  // pseudo-terminal across hang-ups.
  const std::string& Port() const;

  struct Process;

 private:
  std::unique_ptr<Process> mProcess;
};

// The simulator's file name beside the recorder.
std::string SimulatorProgramName();

// What the simulator would ignore in the settings `text`, one line each
// ("line 2: unknown key 'x' ignored"); none on Windows, where it does not run.
std::vector<std::string> SimulatorSettingsProblems(const std::string& text);

}  // namespace corvane::recorder
