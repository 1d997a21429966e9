// The real module through its exports with the simulated wrist unit behind a
// serial port (wrist_unit.h) and the simulated Controller in the "Devices"
// folder: the wrist unit must win the probe, and whole sessions run over the
// serial link.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware_image_writer.h"
#include "nano_session.h"
#include "run_length.h"

namespace {

using corvane::testing::Clock;
using corvane::testing::kPerMmHg;
using corvane::testing::NanoSession;
using corvane::testing::Recording;
using corvane::testing::Settings;
using corvane::testing::VendorLibraryLoaded;

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
  const Recording r = Record(corvane::testing::RunLength(30000, 8000));
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
