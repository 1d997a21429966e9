// The driver's search updates the simulated wrist unit from an image file in
// the "Devices" folder beside this executable, over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "firmware_image_writer.h"
#include "log_capture.h"
#include "nano/finapres_nano_driver.h"
#include "platform/fs_path.h"
#include "support/progress_window.h"
#include "support/utf8.h"
#include "temp_folder.h"
#include "vz_server.h"

namespace {

namespace fs = std::filesystem;

// The percentages shown, and whether a window is still open.
struct Windows final : MVX::ProgressWindows {
  struct Window final : MVX::ProgressWindow {
    explicit Window(Windows& w) : windows(w) { ++windows.open; }
    ~Window() override { --windows.open; }
    void SetProgress(int32_t percent) override { windows.percents.push_back(percent); }
    void SetText(std::wstring_view) override {}
    Windows& windows;
  };
  std::unique_ptr<MVX::ProgressWindow> Open(std::wstring_view, std::wstring_view) override {
    return std::make_unique<Window>(*this);
  }
  int open = 0;
  std::vector<int32_t> percents;
};

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

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(FirmwareUpdateOnTheSimulatedUnit, TheSearchInstallsTheNewerImage) {
  const struct {
    const char* name;
    std::string settings;
    size_t orderErrors;
  } cases[] = {
      {"running an older firmware", "", 0},
      {"block 5 out of order", "order_error_block = 5\n", 1},
      {"waiting in its bootloader", "start_in_bootloader = 1\nfirmware = 9.0.0.0\n", 0},
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
    const TempFolder work;
    const fs::path dir = corvane::platform::ToFsPath(work.Wide());
    Sim sim(dir,
            "firmware = 2.1.0.100\nfirmware_after_update = 2.1.1.0\nstream_idle = 0\n"
            "bootloader_entry_ms = 100\nerase_ms = 300\nrestart_ms = 300\n" +
                c.settings);
    ASSERT_TRUE(sim.open());
    const corvane::testing::LogCapture log;
    Windows windows;
    MVX::SetHostProgressWindows(&windows);
    corvane::FinapresNanoDriver driver({corvane::platform::FromFsPath(dir / "port")});
    MVX::SetHostProgressWindows(nullptr);

    EXPECT_EQ(driver.DMS_GetStatusConnect(), corvane::dmsError_Online);
    EXPECT_EQ(ReadBytes(dir / "image.bin"), data);
    char text[200] = {};
    uint16_t length = sizeof text;
    driver.DMS_GetVersion(0, text, &length);
    EXPECT_NE(std::string(text).find("Nano firmware v2.1.1.0,"), std::string::npos) << text;
    EXPECT_EQ(log.LogCount(L"Packet order error: wanted 3, got 5"), c.orderErrors);
    EXPECT_EQ(log.LogCount(L" Nano Driver: Image update complete and wrist unit rebooted"), 1u);
    EXPECT_EQ(windows.open, 0);
    ASSERT_FALSE(windows.percents.empty());
    EXPECT_EQ(windows.percents.back(), 100);
  }
}

}  // namespace
