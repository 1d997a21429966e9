// The real module through its exports with the simulated wrist unit behind a
// serial port (wrist_unit.h) and the simulated Controller in the "Devices"
// folder: the wrist unit must win the probe, and whole sessions run over the
// serial link.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "firmware_image_writer.h"
#include "platform/dynamic_library.h"
#include "support/path.h"
#include "wrist_unit.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvane::testing::CountedObject;
using corvane::testing::FakeHostObject;
using corvane::testing::VendorLibraryLoaded;
using corvane::testing::WristUnit;

constexpr int kPerMmHg = 80;  // 32000 / 400

struct DeviceClassInfo {
  uint8_t classId[16];
  const wchar_t* description;
  const wchar_t* name;
};

struct Module {
  Module() {
    library = corvane::platform::DynamicLibrary::Open((MVX::Path() / L"Corvane.kvwdll").Wide());
    Resolve(GetDeviceClassInfo, "GetDeviceClassInfo");
    Resolve(FindDevice, "FindDevice");
    Resolve(Initialise, "Initialise");
    Resolve(CloseAll, "CloseAll");
    Resolve(WriteBuffer, "WriteBuffer");
    Resolve(ReadLine, "ReadLine");
    Resolve(GetUniqueID, "GetUniqueID");
    Resolve(InitOnMainThread, "InitOnMainThread");
    Resolve(CleanupOnMainThread, "CleanupOnMainThread");
  }
  template <typename Fn>
  void Resolve(Fn& fn, const char* name) {
    fn = library.IsLoaded() ? reinterpret_cast<Fn>(library.Symbol(name)) : nullptr;
    if (fn == nullptr) missing = true;
  }
  bool Usable() const { return library.IsLoaded() && !missing; }

  corvane::platform::DynamicLibrary library;
  bool missing = false;
  int32_t (*GetDeviceClassInfo)(DeviceClassInfo*) = nullptr;
  int32_t (*FindDevice)(uint32_t*) = nullptr;
  int32_t (*Initialise)(int32_t) = nullptr;
  int32_t (*CloseAll)() = nullptr;
  int32_t (*WriteBuffer)(int32_t, const char*, int32_t) = nullptr;
  int32_t (*ReadLine)(int32_t, char*, int32_t, int32_t) = nullptr;
  int32_t (*GetUniqueID)(int32_t, uint32_t*) = nullptr;
  int32_t (*InitOnMainThread)(void*, corvane::HostObject*) = nullptr;
  void (*CleanupOnMainThread)() = nullptr;
};

// Replaces the unit's settings; it notices within 100 ms.
void Settings(const WristUnit& unit, const std::string& text) {
  std::ofstream(unit.SettingsFile(), std::ios::trunc) << "watchdog_ms = 0\n" << text;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
}

struct Recording {
  std::map<int, std::vector<int64_t>> channels;
  std::vector<std::string> other;
  size_t Count(int channel) const {
    const auto it = channels.find(channel);
    return it == channels.end() ? 0 : it->second.size();
  }
};

class NanoSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (unit == nullptr) unit = new WristUnit();
    if (module == nullptr) module = new Module();
  }
  static void TearDownTestSuite() {
    delete unit;
    unit = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(module->Usable());
    ASSERT_TRUE(unit->Running());
  }
  void TearDown() override {
    module->CloseAll();
    module->CleanupOnMainThread();
  }

  std::optional<std::string> Line(int32_t timeoutMs = 5000) {
    char buffer[4096];
    if (module->ReadLine(0, buffer, sizeof buffer, timeoutMs) != 1) return std::nullopt;
    return std::string(buffer);
  }
  std::string Ask(const std::string& line) {
    const std::string text = line + "\n";
    module->WriteBuffer(0, text.c_str(), static_cast<int32_t>(text.size()));
    while (const std::optional<std::string> reply = Line()) {
      if ((*reply)[0] != '+') return *reply;
    }
    return "<none>";
  }
  void Open(const std::vector<std::string>& settings = {}) {
    host.service = &service;
    ASSERT_EQ(module->InitOnMainThread(nullptr, &host), 0);
    DeviceClassInfo info{};
    ASSERT_EQ(module->GetDeviceClassInfo(&info), 1);
    uint32_t value = 0;
    ASSERT_EQ(module->FindDevice(&value), 1);
    ASSERT_EQ(module->Initialise(0), 1);
    for (const std::string& line : settings) ASSERT_EQ(Ask(line), "<OK") << line;
  }
  std::vector<std::string> StartSampler() {
    module->WriteBuffer(0, ">in/sampler/start\n", 18);
    std::vector<std::string> lines;
    while (const std::optional<std::string> line = Line()) {
      lines.push_back(*line);
      if (*line == "<OK") break;
    }
    return lines;
  }
  Recording Record(int64_t ms, const std::function<bool(const std::string&)>& until = {}) {
    Recording r;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      const std::optional<std::string> line = Line(20);
      if (!line) continue;
      if ((*line)[0] == '+') {
        const size_t comma = line->find(',');
        const int channel = std::stoi(line->substr(1, comma - 1));
        for (size_t at = comma; at != std::string::npos; at = line->find(',', at + 1)) {
          r.channels[channel].push_back(std::stoll(line->substr(at + 1)));
        }
      } else {
        r.other.push_back(*line);
        if (until && until(*line)) break;
      }
    }
    return r;
  }
  static Module* module;
  static WristUnit* unit;
  FakeHostObject host;
  CountedObject service;
};

Module* NanoSession::module = nullptr;
WristUnit* NanoSession::unit = nullptr;

TEST_F(NanoSession, RecordsFromTheWristUnitAndSurvivesAHangUp) {
  Settings(*unit, "systolic = 130\ndiastolic = 70\n");
  Open();
  EXPECT_FALSE(VendorLibraryLoaded()) << "the wrist unit wins the probe";
  uint32_t id = 0;
  EXPECT_EQ(module->GetUniqueID(0, &id), 1);
  EXPECT_EQ(Ask(">dev/init"), "<OK");
  EXPECT_EQ(Ask("?in/cha5/arithmetic"), "=") << "no beat shift over the serial link";

  EXPECT_EQ(StartSampler().back(), "<OK");
  const auto begin = Clock::now();
  const Recording r = Record(30000);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  EXPECT_TRUE(r.other.empty()) << r.other.front();
  for (int k = 1; k <= 11; ++k) EXPECT_GT(r.Count(k), 0u) << "channel " << k;
  // No gap: the count follows the clock at 200 per second.
  EXPECT_NEAR(static_cast<double>(r.Count(1)), 200.0 * seconds, 200.0 * 0.3 + 20);
  const auto [low, high] = std::minmax_element(r.channels.at(1).begin(), r.channels.at(1).end());
  EXPECT_LT(*low, 85 * kPerMmHg);
  EXPECT_GT(*high, 115 * kPerMmHg);

  // The adapter is pulled for 400 ms and plugged in again.
  Settings(*unit, "systolic = 130\ndiastolic = 70\nhangup_after_ms = 100\nhangup_ms = 400\n");
  Record(2000);
  const Recording resumed = Record(2000);
  EXPECT_GT(resumed.Count(1), 300u) << "samples resume after the hang-up";
  for (const std::string& line : resumed.other) ADD_FAILURE() << line;
  module->WriteBuffer(0, ">in/sampler/stop\n", 17);
  Record(2000, [](const std::string& line) { return line == "<OK"; });
}

TEST_F(NanoSession, DeviceErrorAndLinkSilenceBecomeUserMessages) {
  struct Case {
    const char* name;
    std::string settings;
    std::string userMessage;  // start of the line
  };
  const std::vector<Case> cases = {
      {"device error 5", "device_error = 5\n", "&U Corvane Nano Error 5"},
      {"link silence", "silence_after_ms = 500\nsilence_ms = 3000\n",
       "&U Corvane Sampling Error 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings(*unit, "device_error = 0\n");
    Open({"?dev/dms_CntKVSamp 1"});
    EXPECT_EQ(StartSampler().back(), "<OK");
    Settings(*unit, c.settings);
    const Recording r = Record(6000, [](const std::string& line) { return line[0] == '#'; });
    ASSERT_FALSE(r.other.empty());
    EXPECT_EQ(r.other.front().rfind(c.userMessage, 0), 0u) << r.other.front();
    EXPECT_EQ(r.other.back().rfind("#abort", 0), 0u) << r.other.back();
    module->CloseAll();
    module->CleanupOnMainThread();
    Settings(*unit, "device_error = 0\n");
  }
}

TEST_F(NanoSession, DemonstrationMakesAPressureWaveAndBeats) {
  Settings(*unit, "");
  Open({"?dev/dms_TestEnab 1", "?dev/dms_Test 4"});
  const std::vector<std::string> start = StartSampler();
  EXPECT_NE(std::find(start.begin(), start.end(), "&UTest mode - Simulate pressure"), start.end());
  const Recording r = Record(4000);
  ASSERT_GT(r.Count(1), 600u);
  const auto [low, high] = std::minmax_element(r.channels.at(1).begin(), r.channels.at(1).end());
  EXPECT_GT(*high - *low, 40 * kPerMmHg);
  EXPECT_GT(r.Count(3), 0u) << "beats";
  module->WriteBuffer(0, ">in/sampler/stop\n", 17);
  Record(2000, [](const std::string& line) { return line == "<OK"; });
}

TEST_F(NanoSession, TheSearchUpdatesTheUnitFromAnImageInDevices) {
  // A newer image beside the simulated Controller, taken away afterwards so
  // that no other session updates.
  const std::filesystem::path image =
      std::filesystem::path((MVX::Path() / L"Devices").Wide()) /
      corvane::tools::ImageFileName({2, 1, 1, 0, 0x0101, 0, 0}, false);
  struct Remove {
    std::filesystem::path path;
    ~Remove() { std::filesystem::remove(path); }
  } remove{image};
  std::vector<uint8_t> data(400);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  const corvane::tools::ImageDescription description{
      2, 1, 1, 0, 0x0101, corvane::tools::Crc8(data), static_cast<uint32_t>(data.size())};
  std::ofstream(image, std::ios::binary) << corvane::tools::ImageXml(description, data);

  // The version is set twice: the unit takes a setting only when it changes,
  // and an earlier update may have left it at the image's version.
  const std::string timing = "bootloader_entry_ms = 100\nerase_ms = 300\nrestart_ms = 300\n";
  Settings(*unit, "firmware = 2.1.0.99\n" + timing);
  Settings(*unit, "firmware = 2.1.0.100\nfirmware_after_update = 2.1.1.0\n" + timing);
  Open();
  const std::string version = Ask("?dev/version");
  EXPECT_NE(version.find("Nano firmware v2.1.1.0,"), std::string::npos) << version;
}

}  // namespace
