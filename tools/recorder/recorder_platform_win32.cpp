#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "recorder_platform.h"
#include "support/utf8.h"

namespace corvane::recorder {
namespace {

std::atomic<int> gInterrupts{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    gInterrupts.fetch_add(1);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

int InterruptCount() { return gInterrupts.load(); }

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(MVX::Utf8ToWide(path).c_str(), MVX::Utf8ToWide(mode).c_str());
}

void SetEnvironment(const std::string& name, const std::string& value) {
  // Both the process block and the C runtime's copy, which the libraries
  // loaded afterwards read.
  SetEnvironmentVariableA(name.c_str(), value.c_str());
  _putenv_s(name.c_str(), value.c_str());
}

}  // namespace corvane::recorder
