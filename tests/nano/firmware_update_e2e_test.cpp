// The driver's search updates the simulated wrist unit from an image file in
// the "Devices" folder beside this executable, over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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

// A line that sends back whatever it receives, as a loop-back plug or some
// modems do.
class EchoLine {
 public:
  EchoLine() {
    char name[256] = {};
    if (openpty(&mMaster, &mSlave, name, nullptr, nullptr) != 0) return;
    termios raw{};
    tcgetattr(mSlave, &raw);
    cfmakeraw(&raw);
    tcsetattr(mSlave, TCSANOW, &raw);
    mPath = name;
    mThread = std::thread([this] {
      while (!mStop) {
        pollfd ready{mMaster, POLLIN, 0};
        if (poll(&ready, 1, 5) <= 0) continue;
        char chunk[512];
        const ssize_t n = read(mMaster, chunk, sizeof chunk);
        if (n > 0 && write(mMaster, chunk, static_cast<size_t>(n)) != n) return;
      }
    });
  }
  ~EchoLine() {
    mStop = true;
    if (mThread.joinable()) mThread.join();
    if (mMaster >= 0) close(mMaster);
    if (mSlave >= 0) close(mSlave);
  }
  const std::string& Path() const { return mPath; }

 private:
  int mMaster = -1;
  int mSlave = -1;
  std::string mPath;
  std::atomic<bool> mStop{false};
  std::thread mThread;
};

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(FirmwareUpdateOnTheSimulatedUnit, TheSearchInstallsTheNewerImageOnlyOnAUnitThatTakesIt) {
  const std::string kNoBootloader = "no_bootloader = 1\n";
  const std::string kCurrent = "firmware = 2.1.1.0\n";
  const struct {
    const char* name;
    std::vector<std::string> units;  // one per port, in search order; the last is used
    size_t orderErrors = 0;
    bool updated = true;        // the last unit gets the image
    bool usable = true;         // a unit is found and connected
    bool echoFirst = false;     // an echoing line comes before the units' ports
    uint32_t imageLength = 0;   // the image's declared length; 0: its data's
    std::string firmware = {};  // in the version text, when the unit is used without an update
    uint8_t badChecksum = 0;    // added to the image's checksum byte
  } cases[] = {
      {"running an older firmware", {""}},
      {"block 5 out of order", {"order_error_block = 5\n"}, 1},
      {"waiting in its bootloader", {"start_in_bootloader = 1\nfirmware = 9.0.0.0\n"}},
      {"the first unit refuses the bootloader", {kNoBootloader, ""}},
      // Nothing is erased on a unit the image is not for, or with an image
      // that could never be completed.
      {"a bootloader record of other hardware",
       {"firmware_record = B\nhardware_id = 3\n"},
       0,
       false},
      {"waiting in its bootloader, other hardware",
       {"start_in_bootloader = 1\nhardware_id = 3\n"},
       0,
       false,
       false},
      {"an image declaring more than it holds",
       {""},
       0,
       false,
       true,
       false,
       99999,
       "Nano firmware v2.1.0.100,"},
      {"an echoing line before the unit",
       {kCurrent},
       0,
       false,
       true,
       true,
       0,
       "Nano firmware v2.1.1.0,"},
      // The unit checks the image it received: one that does not match its
      // checksum is not started, and the unit stays in its bootloader; one
      // that checks nothing starts it.
      {"an image whose checksum does not match", {""}, 0, false, false, false, 0, "", 1},
      {"an image whose checksum does not match, on a unit that checks nothing",
       {"accept_any_image = 1\n"},
       0,
       true,
       true,
       false,
       0,
       "",
       1},
  };
  const fs::path exeDir =
      corvane::platform::ToFsPath(corvane::platform::ExecutablePath()).parent_path();
  const TempFolder devices(exeDir / "Devices");
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 256);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto checksum = static_cast<uint8_t>(corvane::tools::Crc8(data) + c.badChecksum);
    const uint32_t declared = c.imageLength != 0 ? c.imageLength : 3000;
    const corvane::tools::ImageDescription image{2, 1, 1, 0, 0x0101, checksum, declared};
    devices.Write(MVX::Utf8ToWide(corvane::tools::ImageFileName(image, false)),
                  corvane::tools::ImageXml(image, data));
    std::vector<std::unique_ptr<TempFolder>> folders;
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<MVX::MVXString> ports;
    const EchoLine echo;
    if (c.echoFirst) ports.push_back(MVX::Utf8ToWide(echo.Path()));
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

    EXPECT_EQ(driver.DMS_GetStatusConnect() == corvane::dmsError_Online, c.usable);
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::vector<uint8_t> written =
          ReadBytes(corvane::platform::ToFsPath(folders[i]->Wide()) / "image.bin");
      EXPECT_EQ(written, c.updated && i + 1 == folders.size() ? data : std::vector<uint8_t>{});
    }
    EXPECT_EQ(log.LogCount(L"failed to change to bootloader mode during patching"),
              c.updated ? c.units.size() - 1 : 0);
    if (!c.updated && c.badChecksum != 0) {
      EXPECT_EQ(log.LogCount(L"  !!! Nano Driver: Wrist unit Reboot didn't complete successfully"),
                1u);
      continue;
    }
    if (!c.updated) {
      EXPECT_EQ(log.LogCount(L" Nano Driver: updating wrist unit firmware image to "), 0u);
      EXPECT_EQ(windows.opened, 0);
      if (!c.firmware.empty()) {
        char text[200] = {};
        uint16_t length = sizeof text;
        driver.DMS_GetVersion(0, text, &length);
        EXPECT_NE(std::string(text).find(c.firmware), std::string::npos) << text;
      }
      continue;
    }
    char text[200] = {};
    uint16_t length = sizeof text;
    driver.DMS_GetVersion(0, text, &length);
    EXPECT_NE(std::string(text).find("Nano firmware v2.1.1.0,"), std::string::npos) << text;
    EXPECT_EQ(log.LogCount(L"Packet order error: wanted 3, got 5"), c.orderErrors);
    EXPECT_EQ(log.LogCount(L" Nano Driver: Image update complete and wrist unit rebooted"), 1u);
    EXPECT_EQ(windows.opened, static_cast<int>(c.units.size()));
    EXPECT_EQ(windows.open, 0);
    ASSERT_FALSE(windows.percents.empty());
    EXPECT_EQ(windows.percents.back(), 100);
  }
}

}  // namespace
