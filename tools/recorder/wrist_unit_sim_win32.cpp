#include "wrist_unit_sim.h"

namespace corvane::recorder {

struct SimulatedWristUnit::Process {
  std::string port;
};

SimulatedWristUnit::SimulatedWristUnit(const std::string&, const std::string&) {
  throw SimulatorError("the simulated wrist unit runs on Linux only; give --port instead");
}

SimulatedWristUnit::~SimulatedWristUnit() = default;

const std::string& SimulatedWristUnit::Port() const { return mProcess->port; }

std::string SimulatorProgramName() { return "sim-vivezore.exe"; }

std::vector<std::string> SimulatorSettingsProblems(const std::string&) { return {}; }

}  // namespace corvane::recorder
