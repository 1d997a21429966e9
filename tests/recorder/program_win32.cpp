// Starting the recorder on Windows, its output going to a file.
#include <windows.h>

#include <string>

#include "recorder_run.h"
#include "support/utf8.h"

namespace corvane::recorder::testing {
namespace {

// One argument as the C runtime splits a command line again.
std::wstring Quoted(const std::string& arg) {
  std::wstring text = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : MVX::Utf8ToWide(arg)) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, L'\\');
  return text + L"\"";
}

}  // namespace

ProgramResult RunRecorder(const std::vector<std::string>& args) {
  static int runs = 0;
  const std::string outputPath = FreshFolder("output-" + std::to_string(GetCurrentProcessId()) +
                                             "-" + std::to_string(++runs)) +
                                 "\\output.txt";
  const std::wstring program = MVX::Utf8ToWide(TestFolder()) + L"\\corvane-record.exe";
  std::wstring commandLine = Quoted(MVX::WideToUtf8(program));
  for (const std::string& arg : args) commandLine += L" " + Quoted(arg);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE output = CreateFileW(MVX::Utf8ToWide(outputPath).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  ProgramResult result;
  if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(output);
  result.output = ReadText(outputPath);
  return result;
}

}  // namespace corvane::recorder::testing
