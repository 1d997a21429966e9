// Running the recorder program that stands beside the test, with the module
// and the simulated Controller, and reading what it wrote.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane::recorder::testing {

struct ProgramResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error
};

// The folder of the test, where the recorder, the module and "Devices" are.
std::string TestFolder();
// An empty folder for one test's files.
std::string FreshFolder(const std::string& name);
std::string ReadText(const std::string& path);
// A settings file for the simulated Controller.
std::string WriteSimSettings(const std::string& folder, const std::string& text);
// The CSV's lines split into cells, the header included.
std::vector<std::vector<std::string>> ReadCsv(const std::string& path);
bool Exists(const std::string& path);

// Runs the recorder with `args` and waits for it (program_posix.cpp,
// program_win32.cpp).
ProgramResult RunRecorder(const std::vector<std::string>& args);
// Runs `program` (found on the PATH unless it names a folder) and waits for
// it (Linux).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args);

// Checks what every finished recording must hold: a complete CSV of `rows`
// rows at 200 per second, and (where this build reads EDF+) an EDF+ file
// with the same samples and an annotation beginning with each of `notes`.
// The first `deflatedRows` rows may show the cuff still empty (the wrist
// unit streams before its cuff is up). `edfRows`: the EDF+ file holds this
// many rows instead (after a failed write), the first of them the CSV's.
void ExpectCompleteRecording(const std::string& prefix, size_t rows,
                             const std::vector<std::string>& notes, size_t deflatedRows = 0,
                             std::optional<size_t> edfRows = std::nullopt);

// Linux: after a run with --wrist-unit-sim whose output is `output`, the
// simulator it started has ended and its folder is gone.
void ExpectSimulatorStopped(const std::string& output);

}  // namespace corvane::recorder::testing
