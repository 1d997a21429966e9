// The real module loaded as a host loads it, with no wrist unit and a vendor
// library that lets it down: no "Devices" folder, a file there that is no
// library, a library without one of its entry points, a library whose
// connect fails. Each time the module must stay inert without harm, tell the
// host why through the last-error text and the module log, and leave no
// library connected or loaded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "api/finapres_dll_driver.h"
#include "fake_host.h"
#include "hostkit_registration.h"
#include "platform/dynamic_library.h"
#include "platform/fs_path.h"
#include "platform/time.h"
#include "support/path.h"

namespace {

namespace fs = std::filesystem;
using corvane::testing::FakeLogService;

fs::path Beside(const std::wstring& name) {
  return corvane::platform::ToFsPath((MVX::Path() / name).Wide());
}

// What the Devices folder holds for a case.
enum class Library { kNone, kNotALibrary, kWithoutMarkerSamples, kComplete };

struct LibraryFault {
  const char* name;
  Library library;
  const char* simSettings;
  std::wstring lastError;  // empty: the missing-library text with its path
  std::vector<std::wstring> log;
  std::vector<std::string> calls;  // the library's own call log
};

void PrintTo(const LibraryFault& c, std::ostream* os) { *os << c.name; }

std::wstring LibraryPath() {
  return (MVX::Path() / L"Devices" / corvane::VendorLibraryFileName()).Wide();
}

std::wstring MissingText() {
  return L"Corvane control DLL is missing or cannot be loaded: " + LibraryPath();
}

// Lays out the Devices folder afresh. The library file is always a new file,
// never one written over, in case an old copy is still mapped.
void ArrangeDevices(Library library) {
  const fs::path devices = Beside(L"Devices");
  fs::remove_all(devices);
  if (library == Library::kNone) return;
  fs::create_directory(devices);
  const fs::path target = corvane::platform::ToFsPath(LibraryPath());
  const std::wstring name = corvane::VendorLibraryFileName();
  switch (library) {
    case Library::kNotALibrary:
      std::ofstream(target, std::ios::binary) << "MZ this is no library\n";
      break;
    case Library::kWithoutMarkerSamples:
      fs::copy_file(Beside(L"libs") / "nomarker" / corvane::platform::ToFsPath(name), target);
      break;
    default:
      fs::copy_file(Beside(L"libs") / "complete" / corvane::platform::ToFsPath(name), target);
      break;
  }
}

std::vector<std::string> ReadLines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class LibraryFaults : public ::testing::TestWithParam<LibraryFault> {
 protected:
  // The host framework is there before the module, as in the host.
  static void SetUpTestSuite() {
    static std::string settings = "CORVANE_SIM_SETTINGS=" + Beside(L"sim_settings.txt").string();
    static std::string calls = "CORVANE_SIM_CALL_LOG=" + Beside(L"sim_calls.txt").string();
    putenv(settings.data());
    putenv(calls.data());
    logService = new FakeLogService();
    corvane::testing::RegisterHostkit(logService);
    module = new corvane::platform::DynamicLibrary(
        corvane::platform::DynamicLibrary::Open((MVX::Path() / L"Corvane.kvwdll").Wide()));
  }

  template <typename Fn>
  Fn Get(const char* name) {
    return reinterpret_cast<Fn>(module->Symbol(name));
  }

  // Module log lines written since `from`, without their times, and only
  // those of the engine and the library back-end.
  static std::vector<std::wstring> LogSince(size_t from) {
    std::lock_guard lock(logService->mutex);
    std::vector<std::wstring> lines;
    for (size_t i = from; i < logService->lines.size(); ++i) {
      const std::wstring& line = logService->lines[i];
      const size_t at = line.find(L": ");
      if (at == std::wstring::npos) continue;
      const std::wstring message = line.substr(at + 2);
      if (message.rfind(L"!!! DMSWrapper", 0) == 0 ||
          message.rfind(L"!!! FinapresDLLDriver", 0) == 0) {
        lines.push_back(message);
      }
    }
    return lines;
  }
  static size_t LogSize() {
    std::lock_guard lock(logService->mutex);
    return logService->lines.size();
  }

  static FakeLogService* logService;
  static corvane::platform::DynamicLibrary* module;
};

FakeLogService* LibraryFaults::logService = nullptr;
corvane::platform::DynamicLibrary* LibraryFaults::module = nullptr;

TEST_P(LibraryFaults, LeaveTheModuleInertAndTellTheHostWhy) {
  const LibraryFault& c = GetParam();
  ASSERT_TRUE(module->IsLoaded());
  auto findDevice = Get<int32_t (*)(uint32_t*)>("FindDevice");
  auto initialise = Get<int32_t (*)(int32_t)>("Initialise");
  auto isFailed = Get<int32_t (*)(int32_t)>("IsFailed");
  auto writeBuffer = Get<int32_t (*)(int32_t, const char*, int32_t)>("WriteBuffer");
  auto readLine = Get<int32_t (*)(int32_t, char*, int32_t, int32_t)>("ReadLine");
  auto lastError = Get<int32_t (*)(int32_t, char*)>("GetLastErrorMsg");
  auto closeAll = Get<int32_t (*)()>("CloseAll");

  ArrangeDevices(c.library);
  std::ofstream(Beside(L"sim_settings.txt"), std::ios::trunc) << c.simSettings;
  fs::remove(Beside(L"sim_calls.txt"));
  const size_t logFrom = LogSize();

  uint32_t value = 7;
  ASSERT_EQ(findDevice(&value), 1);
  EXPECT_EQ(initialise(0), 0);
  EXPECT_EQ(isFailed(0), 1);
  EXPECT_EQ(writeBuffer(0, "?dev/isok\n", 10), 1);
  char line[256] = "untouched";
  EXPECT_EQ(readLine(0, line, sizeof line, 100), 0);
  EXPECT_STREQ(line, "untouched");

  const std::wstring expected = c.lastError.empty() ? MissingText() : c.lastError;
  const int32_t size = lastError(0, nullptr);
  EXPECT_EQ(size, static_cast<int32_t>(expected.size() + 1));
  std::string text(static_cast<size_t>(std::max(size, 1)), '\0');
  EXPECT_EQ(lastError(0, text.data()), 1);
  EXPECT_EQ(text.c_str(), MVX::MVXString(expected).ToUtf8());

  std::vector<std::wstring> log = c.log;
  log.push_back(L"!!! DMSWrapper: no usable device: " + expected);
  EXPECT_EQ(LogSince(logFrom), log);
  EXPECT_EQ(closeAll(), 1);
  EXPECT_EQ(ReadLines(Beside(L"sim_calls.txt")), c.calls) << "the library is left alone";
}

INSTANTIATE_TEST_SUITE_P(
    Library, LibraryFaults,
    ::testing::Values(
        LibraryFault{"Missing", Library::kNone, "", L"", {}, {}},
        LibraryFault{"NotALibrary", Library::kNotALibrary, "", L"", {}, {}},
        LibraryFault{"WithoutAnEntryPoint",
                     Library::kWithoutMarkerSamples,
                     "",
                     L"Corvane control DLL cannot be loaded (API mismatch perhaps?).",
                     {L"!!! FinapresDLLDriver: entry point missing: DMS_GetMarkerSamples"},
                     {"loaded", "unloaded"}},
        LibraryFault{"ConnectFindsNoDevice",
                     Library::kComplete,
                     "connect_result = 4\n",
                     L"The Corvane Controller cannot be found. Please make sure the device is "
                     L"plugged in and turned on.",
                     {},
                     {"loaded", "DMS_Connect", "DMS_Disconnect", "unloaded"}},
        LibraryFault{"ConnectChannelInUse",
                     Library::kComplete,
                     "connect_result = 3\n",
                     L"Unexpected Corvane Controller connection error: 3",
                     {},
                     {"loaded", "DMS_Connect", "DMS_Disconnect", "unloaded"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
