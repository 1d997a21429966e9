// The host framework as the recorder offers it, reached through the module's
// own way of finding it (an exported entry point in the process on Linux, a
// registered COM class object on Windows): the log from the worker thread,
// and a progress window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "host/host_services.h"
#include "recorder_host.h"
#include "support/module_log.h"

namespace corvane::recorder {
namespace {

TEST(RecorderHostFramework, TheModuleReachesTheLogFileAndTheProgressBar) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "corvane_recorder_host.log").string();
  static Console console(true, false);
  static LogFile log;
  static TerminalProgressService progress(console, log, [] { return true; });
  static HostkitClassObject classObject(log, progress);
  ASSERT_TRUE(log.Open(path));
  RegisterHostkit(&classObject);

  // The engine's worker thread writes the module's log lines; on Windows it
  // has not set up COM itself.
  std::thread worker([] {
    ConnectModuleLog();
    MVX::ModuleLog::Write(L"!!! DMSWrapper error: from the worker");
  });
  worker.join();
  MVX::ModuleLog::Write(L"second line");

  HostProgress* window = OpenProgressWindow(L"Updating", L"firmware");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->SetProgress(50, L"half"), 1);  // the user has cancelled
  EXPECT_EQ(window->Close(), 0);
  EXPECT_EQ(window->Release(), 0u);

  ReleaseHostServices();
  UnregisterHostkit();
  log.Close();
  std::ifstream file(path);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  EXPECT_NE(text.find(": !!! DMSWrapper error: from the worker\n"), std::string::npos) << text;
  EXPECT_NE(text.find(": second line\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace corvane::recorder
