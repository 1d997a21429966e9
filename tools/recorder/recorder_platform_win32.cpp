#include <conio.h>
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

struct KeyInput::State {};

KeyInput::KeyInput() {
  if (_isatty(_fileno(stdin)) != 0) mState = std::make_unique<State>();
}

KeyInput::~KeyInput() = default;

int KeyInput::Poll() { return mState && _kbhit() != 0 ? _getch() : -1; }

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(MVX::Utf8ToWide(path).c_str(), MVX::Utf8ToWide(mode).c_str());
}

std::string PortOpenProblem(const std::string& port) {
  const std::wstring name =
      port.rfind("\\\\", 0) == 0 ? MVX::Utf8ToWide(port) : L"\\\\.\\" + MVX::Utf8ToWide(port);
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return {};
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return "the port does not exist";
  }
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 text, sizeof text, nullptr);
  std::string reason = text;
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
    reason.pop_back();
  }
  return "it cannot be opened: " + (reason.empty() ? "error " + std::to_string(error) : reason);
}

void SetEnvironment(const std::string& name, const std::string& value) {
  // Both the process block and the C runtime's copy, which the libraries
  // loaded afterwards read.
  SetEnvironmentVariableA(name.c_str(), value.c_str());
  _putenv_s(name.c_str(), value.c_str());
}

}  // namespace corvane::recorder
