// Firmware images for the Vive Zore wrist unit: finding the newest (or the
// forced) image file in the "Devices" folder, reading it, deciding whether a
// unit needs it, and cutting it into the numbered blocks the bootloader takes.
//
// Image files are named ViveZore.V<major>.<minor>.<patch>.<revision>.xml, with
// an optional "!" before ".xml" that forces the image onto the unit even when
// it is older. The file holds, under an element "Binary", the elements Major,
// Minor, Patch, Revision, Hardware, CRC, Length and Data (base64).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/path.h"
#include "support/xml_reader.h"

namespace corvane {

// A firmware version as the wrist unit reports it in its version record.
struct FirmwareVersion {
  uint8_t major = 0;
  uint8_t minor = 0;
  uint16_t patch = 0;
  uint16_t revision = 0;
};

// Appends the bytes of base64 `text` to `bytes`, leniently: characters outside
// the alphabet are skipped, decoding stops at the first "=", and 2 or 3
// leftover characters at the end give 1 or 2 bytes.
void DecodeBase64(std::wstring_view text, std::vector<uint8_t>& bytes);

class FirmwareImage {
 public:
  static constexpr size_t kBlockDataBytes = 128;
  // One block as the bootloader takes it: 16-bit little-endian number, data.
  static constexpr size_t kBlockBytes = 2 + kBlockDataBytes;
  // Block numbers are 16 bits wide: one block more would overwrite block 0.
  static constexpr uint32_t kMaxBlocks = 65536;
  // Fills the unused end of the last block.
  static constexpr uint8_t kFillByte = 0xFF;
  using Block = std::array<uint8_t, kBlockBytes>;

  // Looks for image files in the "Devices" folder beside the host executable.
  FirmwareImage();
  // Looks for image files in `devicesFolder`.
  explicit FirmwareImage(MVX::Path devicesFolder);
  ~FirmwareImage();
  FirmwareImage(const FirmwareImage&) = delete;
  FirmwareImage& operator=(const FirmwareImage&) = delete;

  // Chooses the image file: the best forced one if any, else the newest
  // normal one. Sets the path (empty when none), file name and forced flag,
  // and writes the chosen path to the module log, even when it is empty.
  void FindImageFile();

  // Finds and reads the image for a unit with hardware identifier
  // `unitHardware` (absent when the unit has not reported one). There is no
  // error return: afterwards the image is loaded or it is not, and an image
  // that is not loaded never calls for an update. Besides a missing, unreadable
  // or malformed file, the image is refused, with a module-log line saying
  // why, when its data is empty, holds more than kMaxBlocks blocks, or is built
  // for other hardware than the unit's.
  void Load(std::optional<uint32_t> unitHardware);
  bool IsLoaded() const { return mDocument != nullptr; }

  // Whether a unit running `unit` should get this image: a normal image when
  // it is newer, a forced one when it differs. False when not loaded.
  bool NeedsUpdate(const FirmwareVersion& unit) const;

  // Writes the block at the cursor into `block` and advances the cursor; false
  // when no block is left. The last block is filled up with kFillByte.
  bool NextBlock(Block& block);
  // Makes block `number` the next one (after the unit asked for it again).
  void SetBlockCursor(uint32_t number) { mBlockCursor = number; }
  uint32_t BlockCursor() const { return mBlockCursor; }
  // ceil(data length / kBlockDataBytes).
  uint32_t BlockCount() const;

  // The file name the naming pattern matched, e.g. ViveZore.V1.2.3.4.xml.
  const std::wstring& FileName() const { return mFileName; }
  const std::wstring& FilePath() const { return mPath; }
  bool Forced() const { return mForced; }
  // The image's version as its file content states it.
  const std::array<int64_t, 4>& ImageVersion() const { return mImageVersion; }
  // Passed to the unit with the erase command, not checked against the data.
  uint32_t DeclaredLength() const { return mDeclaredLength; }
  uint8_t Checksum() const { return mChecksum; }
  const std::vector<uint8_t>& Data() const { return mData; }

 private:
  void Unload();

  MVX::Path mFolder;
  bool mForced = false;
  std::vector<uint8_t> mData;
  std::unique_ptr<MVX::FXMLElement> mDocument;  // null when nothing usable was loaded
  std::wstring mPath;
  std::wstring mFileName;
  std::optional<uint32_t> mHardwareId;  // the unit's
  std::array<int64_t, 4> mImageVersion{};
  uint32_t mBlockCursor = 0;
  uint32_t mDeclaredLength = 0;
  uint8_t mChecksum = 0;
};

}  // namespace corvane
