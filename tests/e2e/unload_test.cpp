// A host that unloads the module while its device is open and sampling, as a
// plug-in manager or a host recovering from an error does: no CloseAll, just
// FreeLibrary or dlclose. Every unload must return promptly, stop the device
// (the vendor library sees its disconnect and its own unload) and leave
// nothing of the module running; the module then loads and records again.
// The last session stays open when the process exits.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "end_process.h"
#include "fake_host.h"
#include "platform/dynamic_library.h"
#include "platform/time.h"
#include "run_length.h"
#include "support/path.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kUnloadLimit = milliseconds(5000);
// Load, probe, connect, start and one second of recording, with room for a
// slow machine; a round that takes longer hangs somewhere.
constexpr auto kSessionLimit = milliseconds(30000);

// Ends the process when an armed step overruns its limit: a hang then fails
// the test instead of blocking the run.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void Arm(const std::string& step, milliseconds limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = step;
    deadline_ = Clock::now() + limit;
    armed_ = true;
    changed_.notify_all();
  }
  void Disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    changed_.notify_all();
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
      if (!armed_) {
        changed_.wait(lock);
        continue;
      }
      const Clock::time_point deadline = deadline_;
      changed_.wait_until(lock, deadline);
      if (armed_ && !quit_ && deadline == deadline_ && Clock::now() >= deadline) {
        std::fprintf(stderr, "HANG: %s did not finish in time\n", step_.c_str());
        std::fflush(stderr);
        corvane::testing::EndProcessNow(3);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string step_;
  Clock::time_point deadline_{};
  bool armed_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: starts once the rest exists
};

// The module's exports that a session needs.
struct Exports {
  explicit Exports(const corvane::platform::DynamicLibrary& library) {
    Resolve(library, InitOnMainThread, "InitOnMainThread");
    Resolve(library, FindDevice, "FindDevice");
    Resolve(library, Initialise, "Initialise");
    Resolve(library, WriteBuffer, "WriteBuffer");
    Resolve(library, ReadLine, "ReadLine");
  }
  template <typename Fn>
  void Resolve(const corvane::platform::DynamicLibrary& library, Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(library.Symbol(name));
    complete = complete && fn != nullptr;
  }

  bool complete = true;
  int32_t (*InitOnMainThread)(void*, corvane::HostObject*) = nullptr;
  int32_t (*FindDevice)(uint32_t*) = nullptr;
  int32_t (*Initialise)(int32_t) = nullptr;
  int32_t (*WriteBuffer)(int32_t, const char*, int32_t) = nullptr;
  int32_t (*ReadLine)(int32_t, char*, int32_t, int32_t) = nullptr;
};

// The simulated Controller's call log of this process; named before the
// simulator is first loaded.
std::filesystem::path CallLogFile() {
  static const std::filesystem::path path = [] {
    std::random_device random;
    return std::filesystem::temp_directory_path() /
           ("corvane_unload_" + std::to_string(random()) + "_" +
            std::to_string(Clock::now().time_since_epoch().count()) + ".txt");
  }();
  static std::string variable = "CORVANE_SIM_CALL_LOG=" + path.string();
  static const int set = putenv(variable.data());
  (void)set;
  return path;
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

long long Ms(Clock::duration d) {
  return static_cast<long long>(std::chrono::duration_cast<milliseconds>(d).count());
}

// Loads the module, connects, starts sampling and reads data for a second.
// Returns the library with its session still open; empty after a failure.
corvane::platform::DynamicLibrary OpenAndRecord(corvane::HostObject& host) {
  const auto loading = Clock::now();
  auto library = corvane::platform::DynamicLibrary::Open((MVX::Path() / L"Corvane.kvwdll").Wide());
  if (!library.IsLoaded()) {
    ADD_FAILURE() << "Corvane.kvwdll beside the test";
    return {};
  }
  const Exports module(library);
  if (!module.complete) {
    ADD_FAILURE() << "exports missing";
    return {};
  }
  const auto begin = Clock::now();
  module.InitOnMainThread(nullptr, &host);
  const auto probed = Clock::now();
  uint32_t value = 0;
  EXPECT_EQ(module.FindDevice(&value), 1);
  EXPECT_EQ(module.Initialise(0), 1);
  const auto initialised = Clock::now();
  const std::string start = ">in/sampler/start\n";
  EXPECT_EQ(module.WriteBuffer(0, start.c_str(), static_cast<int32_t>(start.size())), 1);
  char buffer[4096];
  bool started = false;
  while (!started && module.ReadLine(0, buffer, sizeof buffer, 5000) == 1) {
    started = std::string(buffer) == "<OK";
  }
  EXPECT_TRUE(started) << "no <OK> for the sampler start";
  const auto sampling = Clock::now();
  std::printf(
      "loaded in %lld ms, engine made in %lld ms, initialised in %lld ms, sampling in %lld ms\n",
      Ms(begin - loading), Ms(probed - begin), Ms(initialised - probed),
      Ms(sampling - initialised));
  int dataLines = 0;
  const auto end = Clock::now() + milliseconds(1000);
  while (Clock::now() < end) {
    if (module.ReadLine(0, buffer, sizeof buffer, 20) == 1 && buffer[0] == '+') ++dataLines;
  }
  EXPECT_GT(dataLines, 100) << "a second of recording";
  return library;
}

// Never unloaded by the test: the process ends with it.
corvane::platform::DynamicLibrary* gLastSession = nullptr;

TEST(Unload, WithTheDeviceOpenStopsItPromptlyAndTheModuleLoadsAndRecordsAgain) {
  const std::filesystem::path callLog = CallLogFile();
  corvane::testing::FakeHostObject host;
  corvane::testing::CountedObject service;
  host.service = &service;
  Watchdog watchdog;

  watchdog.Arm("the first session", kSessionLimit);
  corvane::platform::DynamicLibrary library = OpenAndRecord(host);
  ASSERT_TRUE(library.IsLoaded());
  size_t seen = ReadLines(callLog).size();
  const int rounds = corvane::testing::RunLength(20, 3);
  for (int round = 1; round <= rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const bool failedBefore = ::testing::Test::HasFailure();
    // The session is still at work: the unload has a worker to stop.
    const auto isFailed = reinterpret_cast<int32_t (*)(int32_t)>(library.Symbol("IsFailed"));
    ASSERT_NE(isFailed, nullptr);
    EXPECT_EQ(isFailed(0), 0) << "the worker ended before the unload";

    watchdog.Arm("unload in round " + std::to_string(round), kUnloadLimit);
    const auto before = Clock::now();
    library.Close();
    const auto took = Clock::now() - before;
    watchdog.Disarm();
    std::printf("round %d: unload took %lld ms\n", round, Ms(took));
    EXPECT_LT(took, kUnloadLimit);

    // The device was disconnected and the vendor library unloaded, last.
    const std::vector<std::string> lines = ReadLines(callLog);
    ASSERT_GT(lines.size(), seen);
    const std::vector<std::string> round_lines(lines.begin() + static_cast<ptrdiff_t>(seen),
                                               lines.end());
    EXPECT_EQ(round_lines.back(), "unloaded");
    EXPECT_EQ(std::count(round_lines.begin(), round_lines.end(), "DMS_Disconnect"), 1);
    EXPECT_EQ(std::count(round_lines.begin(), round_lines.end(), "unloaded"), 1);
    if (::testing::Test::HasFailure() && !failedBefore) {
      std::string tail;
      for (size_t i = round_lines.size() > 40 ? round_lines.size() - 40 : 0; i < round_lines.size();
           ++i) {
        tail += round_lines[i] + "\n";
      }
      ADD_FAILURE() << "the round's last calls:\n" << tail;
    }
    seen = lines.size();

    // The host goes on; nothing of the module may still be at work (a worker
    // left running would call the device at least every 20 ms).
    corvane::platform::SleepMs(1000);
    EXPECT_EQ(ReadLines(callLog).size(), seen) << "calls after the unload";

    watchdog.Arm("session in round " + std::to_string(round), kSessionLimit);
    library = OpenAndRecord(host);
    ASSERT_TRUE(library.IsLoaded());
    seen = ReadLines(callLog).size();
  }
  watchdog.Disarm();
  // The last session is still open when the process exits, as when a host
  // quits without closing its device.
  gLastSession = new corvane::platform::DynamicLibrary(std::move(library));
  std::error_code ignored;
  if (!::testing::Test::HasFailure()) std::filesystem::remove(callLog, ignored);
}

}  // namespace
