// What the recorder needs from the operating system beyond the module's
// platform layer (recorder_platform_posix.cpp, recorder_platform_win32.cpp).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace corvane::recorder {

// Ctrl-C (and a termination request) is counted instead of ending the
// process, so that the recording is closed properly.
void InstallInterruptHandler();
int InterruptCount();

bool StdoutIsTerminal();
// The terminal's width in columns; 0 when it is not known.
int TerminalColumns();

// The terminal's keys one at a time, unechoed, for as long as this lives;
// nothing when standard input is not a terminal. Ctrl-C still interrupts.
class KeyInput {
 public:
  KeyInput();
  ~KeyInput();
  KeyInput(const KeyInput&) = delete;
  KeyInput& operator=(const KeyInput&) = delete;
  // The next key pressed, or -1 when none is waiting.
  int Poll();
  // Standard input is a terminal, whose keys are read.
  bool Active() const { return mState != nullptr; }

 private:
  struct State;
  std::unique_ptr<State> mState;
};

// fopen for a UTF-8 path.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Opens the serial port `port` ("/dev/ttyUSB0", "COM3") and closes it again:
// empty if it opens, otherwise why not.
std::string PortOpenProblem(const std::string& port);

// Sets an environment variable for this process and the libraries it loads.
void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace corvane::recorder
