// The driver's search updates the simulated wrist unit from an image file in
// the "Devices" folder beside this executable, over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "firmware_image_writer.h"
#include "log_capture.h"
#include "nano/finapres_nano_driver.h"
#include "platform/fs_path.h"
#include "progress_recorder.h"
#include "support/progress_window.h"
#include "support/utf8.h"
#include "temp_folder.h"
#include "vz_server.h"

namespace {

namespace fs = std::filesystem;

// The simulated unit, served from a thread of this process.
class Sim {
 public:
  Sim(const fs::path& dir, const std::string& settings) {
    std::ofstream(dir / "settings.txt") << settings;
    corvane::vzsim::Options options;
    options.link = dir / "port";
    options.settings = dir / "settings.txt";
    options.image_out = dir / "image.bin";
    options.quiet = true;
    options.print_path = false;
    mServer = std::make_unique<corvane::vzsim::Server>(options);
    mOpen = mServer->Open();
    mThread = std::thread([this] { mServer->Run(mStop); });
  }
  ~Sim() {
    mStop = true;
    mThread.join();
  }
  bool open() const { return mOpen; }

 private:
  std::unique_ptr<corvane::vzsim::Server> mServer;
  std::atomic<bool> mStop{false};
  std::thread mThread;
  bool mOpen = false;
};

// Real time, except that the update's pauses (30 ms and longer) cost none:
// the link's short waits and the units' answers stay in real time.
class FreePausesClock final : public corvane::LinkClock {
 public:
  int64_t NowMs() const override { return MVX::SystemClock().NowMs() + mSkipped.load(); }
  void SleepMs(uint32_t ms) const override {
    if (ms < 30) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return;
    }
    mSkipped += ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  mutable std::atomic<int64_t> mSkipped{0};
};

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(FirmwareUpdateOnTheSimulatedUnit, TheSearchInstallsTheNewerImageOnTheFirstUnitThatTakesIt) {
  const std::string kNoBootloader = "no_bootloader = 1\n";
  const struct {
    const char* name;
    std::vector<std::string> units;  // one per port, in search order; the last is updated
    size_t orderErrors;
  } cases[] = {
      {"running an older firmware", {""}, 0},
      {"block 5 out of order", {"order_error_block = 5\n"}, 1},
      {"waiting in its bootloader", {"start_in_bootloader = 1\nfirmware = 9.0.0.0\n"}, 0},
      {"the first unit refuses the bootloader", {kNoBootloader, ""}, 0},
  };
  const fs::path exeDir =
      corvane::platform::ToFsPath(corvane::platform::ExecutablePath()).parent_path();
  const TempFolder devices(exeDir / "Devices");
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 256);
  const corvane::tools::ImageDescription image{2, 1, 1, 0, 0x0101, 0x5C, 3000};
  devices.Write(MVX::Utf8ToWide(corvane::tools::ImageFileName(image, false)),
                corvane::tools::ImageXml(image, data));

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<TempFolder>> folders;
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<MVX::MVXString> ports;
    for (const std::string& settings : c.units) {
      folders.push_back(std::make_unique<TempFolder>());
      const fs::path dir = corvane::platform::ToFsPath(folders.back()->Wide());
      sims.push_back(std::make_unique<Sim>(
          dir,
          "firmware = 2.1.0.100\nfirmware_after_update = 2.1.1.0\nstream_idle = 0\n"
          "bootloader_entry_ms = 100\nerase_ms = 300\nrestart_ms = 300\n" +
              settings));
      ASSERT_TRUE(sims.back()->open());
      ports.push_back(corvane::platform::FromFsPath(dir / "port"));
    }
    const corvane::testing::LogCapture log;
    corvane::testing::ProgressRecorder windows;
    const FreePausesClock clock;
    MVX::SetHostProgressWindows(&windows);
    corvane::FinapresNanoDriver driver(ports, clock);
    MVX::SetHostProgressWindows(nullptr);

    EXPECT_EQ(driver.DMS_GetStatusConnect(), corvane::dmsError_Online);
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::vector<uint8_t> written =
          ReadBytes(corvane::platform::ToFsPath(folders[i]->Wide()) / "image.bin");
      EXPECT_EQ(written, i + 1 == folders.size() ? data : std::vector<uint8_t>{});
    }
    char text[200] = {};
    uint16_t length = sizeof text;
    driver.DMS_GetVersion(0, text, &length);
    EXPECT_NE(std::string(text).find("Nano firmware v2.1.1.0,"), std::string::npos) << text;
    EXPECT_EQ(log.LogCount(L"Packet order error: wanted 3, got 5"), c.orderErrors);
    EXPECT_EQ(log.LogCount(L"failed to change to bootloader mode during patching"),
              c.units.size() - 1);
    EXPECT_EQ(log.LogCount(L" Nano Driver: Image update complete and wrist unit rebooted"), 1u);
    EXPECT_EQ(windows.opened, static_cast<int>(c.units.size()));
    EXPECT_EQ(windows.open, 0);
    ASSERT_FALSE(windows.percents.empty());
    EXPECT_EQ(windows.percents.back(), 100);
  }
}

}  // namespace
