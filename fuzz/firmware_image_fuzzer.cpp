// Feeds arbitrary firmware image files to the image reader as the search
// finds them: the input's first line names up to three files (names split by
// "|"), the rest is the content of each, written into a "Devices" folder of
// the fuzzer's own. The image is then chosen by name, read (XML, fields,
// base64), asked whether units of a few versions need it, and cut into
// blocks.
//
// Checked besides the sanitizers: the blocks are numbered in order, carry the
// image's data in order, number BlockCount(), and only the last is filled up.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "nano/firmware_image.h"

namespace {

namespace fs = std::filesystem;
using corvane::FirmwareImage;

constexpr size_t kMaxFiles = 3;
constexpr size_t kMaxNameBytes = 200;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The folder the fuzzer's image files go into, made once per run and removed
// at its end.
const fs::path& DevicesFolder() {
  // Never destroyed: the clean-up at exit still needs it.
  static const fs::path& folder = *[] {
    std::string base = (fs::temp_directory_path() / "corvane-fuzz-XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) std::abort();
    auto* devices = new fs::path(fs::path(base) / "Devices");
    fs::create_directory(*devices);
    return devices;
  }();
  static const bool cleanUp = [] {
    return std::atexit([] { fs::remove_all(DevicesFolder().parent_path()); }) == 0;
  }();
  static_cast<void>(cleanUp);
  return folder;
}

// A name the file system takes: no path separator, no NUL, not a dot name.
std::string FileName(std::string name) {
  name.resize(std::min(name.size(), kMaxNameBytes));
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  if (name.empty() || name == "." || name == "..") return {};
  return name;
}

void CheckBlocks(FirmwareImage& image) {
  const std::vector<uint8_t>& data = image.Data();
  FirmwareImage::Block block{};
  uint32_t number = 0;
  for (; image.NextBlock(block); ++number) {
    Check(block[0] == (number & 0xFF) && block[1] == ((number >> 8) & 0xFF));
    const size_t offset = size_t{number} * FirmwareImage::kBlockDataBytes;
    Check(offset < data.size());
    const size_t count = std::min(FirmwareImage::kBlockDataBytes, data.size() - offset);
    Check(std::equal(data.begin() + static_cast<std::ptrdiff_t>(offset),
                     data.begin() + static_cast<std::ptrdiff_t>(offset + count),
                     block.begin() + 2));
    Check(std::all_of(block.begin() + 2 + static_cast<std::ptrdiff_t>(count), block.end(),
                      [](uint8_t b) { return b == FirmwareImage::kFillByte; }));
  }
  Check(number == image.BlockCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  if (newline == std::string::npos) return 0;
  const std::string content = input.substr(newline + 1);

  const fs::path& folder = DevicesFolder();
  for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
  size_t from = 0;
  for (size_t files = 0; files < kMaxFiles && from <= newline; ++files) {
    size_t to = input.find('|', from);
    if (to == std::string::npos || to > newline) to = newline;
    const std::string name = FileName(input.substr(from, to - from));
    from = to + 1;
    if (name.empty()) continue;
    std::ofstream(folder / name, std::ios::binary) << content;
  }

  FirmwareImage image{MVX::Path(folder.wstring())};
  image.Load(std::nullopt);
  if (!image.IsLoaded()) {
    Check(!image.NeedsUpdate({}));
    return 0;
  }
  Check(!image.FileName().empty() && !image.Data().empty());
  image.NeedsUpdate({});
  image.NeedsUpdate({255, 255, 65535, 65535});
  CheckBlocks(image);
  // As after the unit asked for a block again.
  image.SetBlockCursor(image.BlockCount() > 1 ? image.BlockCount() - 2 : 0);
  FirmwareImage::Block block{};
  while (image.NextBlock(block)) {
  }
  // The same file for a unit of a stated hardware: refused or the same image.
  FirmwareImage forUnit{MVX::Path(folder.wstring())};
  forUnit.Load(0x1234);
  Check(!forUnit.IsLoaded() || forUnit.Data() == image.Data());
  return 0;
}
