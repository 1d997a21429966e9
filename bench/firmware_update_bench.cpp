// Transfer time of a 64 KiB firmware image to the simulated wrist unit at the
// paced line rate of 115200 baud, against its floor: 512 blocks, each a 50 ms
// pause plus 137 bytes of line time (about 11.9 ms), about 31.7 s.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "firmware_image_writer.h"
#include "nano/finapres_nano_driver.h"
#include "platform/fs_path.h"
#include "support/module_log.h"
#include "support/utf8.h"
#include "temp_folder.h"
#include "vz_server.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr size_t kImageBytes = 65536;
constexpr double kBlocks = kImageBytes / 128.0;
constexpr double kFloorSeconds = kBlocks * (0.050 + 137.0 / corvane::vzsim::kBytesPerSecond);

// Notes when the transfer's first and last module-log lines are written.
class TransferClock final : public MVX::LogSink {
 public:
  void Deliver(const wchar_t* line, uint32_t*) override {
    if (line == nullptr) return;
    const std::wstring text(line);
    std::lock_guard lock(mMutex);
    if (text.find(L"erase complete. Transferring") != std::wstring::npos) mStart = Steady::now();
    if (text.find(L"transfer complete. Rebooting") != std::wstring::npos) mEnd = Steady::now();
  }
  double Seconds() const {
    std::lock_guard lock(mMutex);
    return std::chrono::duration<double>(mEnd - mStart).count();
  }

 private:
  mutable std::mutex mMutex;
  Steady::time_point mStart;
  Steady::time_point mEnd;
};

void BM_FirmwareTransfer64KiB(benchmark::State& state) {
  const fs::path exeDir =
      corvane::platform::ToFsPath(corvane::platform::ExecutablePath()).parent_path();
  const TempFolder devices(exeDir / "Devices");
  std::vector<uint8_t> data(kImageBytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 256);
  const corvane::tools::ImageDescription image{
      2, 1, 1, 0, 0x0101, corvane::tools::Crc8(data), kImageBytes};
  devices.Write(MVX::Utf8ToWide(corvane::tools::ImageFileName(image, false)),
                corvane::tools::ImageXml(image, data));

  for (auto _ : state) {
    const TempFolder work;
    const fs::path dir = corvane::platform::ToFsPath(work.Wide());
    std::ofstream(dir / "settings.txt")
        << "firmware = 2.1.0.100\nfirmware_after_update = 2.1.1.0\nstream_idle = 0\n"
           "bootloader_entry_ms = 100\nerase_ms = 300\nrestart_ms = 300\n";
    corvane::vzsim::Options options;
    options.link = dir / "port";
    options.settings = dir / "settings.txt";
    options.quiet = true;
    options.print_path = false;
    corvane::vzsim::Server server(options);
    if (!server.Open()) {
      state.SkipWithError("the simulated unit did not start");
      break;
    }
    std::atomic<bool> stop{false};
    std::thread unit([&] { server.Run(stop); });

    TransferClock transfer;
    MVX::ModuleLog::SetSink(&transfer);
    corvane::FinapresNanoDriver driver({corvane::platform::FromFsPath(dir / "port")});
    MVX::ModuleLog::SetSink(nullptr);
    stop = true;
    unit.join();
    if (driver.DMS_GetStatusConnect() != corvane::dmsError_Online) {
      state.SkipWithError("the update failed");
      break;
    }

    const double seconds = transfer.Seconds();
    state.SetIterationTime(seconds);
    state.counters["transfer_s"] = seconds;
    state.counters["floor_s"] = kFloorSeconds;
    state.counters["ratio"] = seconds / kFloorSeconds;
  }
}
BENCHMARK(BM_FirmwareTransfer64KiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
