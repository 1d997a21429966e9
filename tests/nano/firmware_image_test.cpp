// Firmware image files: which file is chosen, what loads, when a unit needs
// the image, how it is cut into blocks, and the image writer round trip.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "firmware_image_writer.h"
#include "nano/firmware_image.h"
#include "platform/fs_path.h"
#include "support/module_log.h"
#include "support/utf8.h"

namespace {

using corvane::FirmwareImage;
using corvane::FirmwareVersion;
using corvane::tools::ImageDescription;

// Collects module-log messages (without their time field) while it lives.
class LogCapture final : public MVX::LogSink {
 public:
  LogCapture() { MVX::ModuleLog::SetSink(this); }
  ~LogCapture() override { MVX::ModuleLog::SetSink(nullptr); }
  void Deliver(const wchar_t* line, uint32_t*) override {
    if (line == nullptr) return;
    std::lock_guard lock(mMutex);
    mMessages.emplace_back(std::wstring(line).substr(9));  // after "seconds: "
  }
  std::vector<std::wstring> Take() {
    std::lock_guard lock(mMutex);
    return std::exchange(mMessages, {});
  }

 private:
  std::mutex mMutex;
  std::vector<std::wstring> mMessages;
};

// A fresh folder under the system's temporary folder.
class Folder {
 public:
  explicit Folder(const std::filesystem::path& path) : mPath(path) {
    std::filesystem::remove_all(mPath);
    std::filesystem::create_directories(mPath);
  }
  Folder() : Folder(UniqueTempPath()) {}
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(mPath, ignored);
  }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(mPath / name, std::ios::binary) << content;
  }
  std::wstring Wide() const { return corvane::platform::FromFsPath(mPath); }
  MVX::Path DevicesPath() const { return MVX::Path(Wide()); }
  std::wstring FilePath(const std::string& name) const {
    return corvane::platform::FromFsPath(mPath / name);
  }

 private:
  static std::filesystem::path UniqueTempPath() {
    std::random_device seed;
    return std::filesystem::temp_directory_path() /
           ("corvane-fw-" + std::to_string(seed()) + "-" + std::to_string(seed()));
  }
  std::filesystem::path mPath;
};

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 31 + i / 256 + 1);
  return data;
}

ImageDescription Describe(uint32_t major, uint32_t minor, uint32_t patch, uint32_t revision,
                          uint32_t hardware = 3) {
  return ImageDescription{major, minor, patch, revision, hardware, 171, 300};
}

std::wstring Wide(const std::string& text) { return MVX::Utf8ToWide(text); }

TEST(FirmwareImageFile, TheNewestOrForcedMatchingFileIsChosen) {
  const struct {
    std::vector<std::string> files;
    std::string chosen;  // file name; empty for none
    bool forced;
  } cases[] = {
      {{"ViveZore.V1.2.3.4.xml", "ViveZore.V1.10.0.0.xml"}, "ViveZore.V1.10.0.0.xml", false},
      {{"ViveZore.V1.2.3.4.xml", "ViveZore.V1.10.0.0.xml", "ViveZore.V1.0.0.0!.xml"},
       "ViveZore.V1.0.0.0!.xml",
       true},
      {{"ViveZore.V2.0.0.0!.xml", "ViveZore.V1.9.9.9!.xml", "ViveZore.V3.0.0.0.xml"},
       "ViveZore.V2.0.0.0!.xml",
       true},
      {{"ViveZore.V1.2.3.4.xml", "ViveZore.V01.2.3.4.xml"}, "ViveZore.V01.2.3.4.xml", false},
      {{"ViveZore.V1.2.3.999999.xml", "ViveZore.V1.2.4.0.xml"}, "ViveZore.V1.2.4.0.xml", false},
      // The pattern is case-sensitive; only the listing ignores case.
      {{"vivezore.V1.2.3.4.xml"}, "", false},
      {{"ViveZore.V1.2.3.4.XML"}, "", false},
      {{"ViveZore.V1.2.3.4.XML", "ViveZore.V0.0.0.1.xml"}, "ViveZore.V0.0.0.1.xml", false},
      {{"ViveZore.V1.2.3.xml", "ViveZore.V1.2.3.4!!.xml", "ViveZore.V1.2.3.4.xml.bak",
        "ViveZore.Va.2.3.4.xml", "notes.xml"},
       "",
       false},
      // Anything may stand before the name in the path; it is not part of it.
      {{"old-ViveZore.V0.0.0.9.xml"}, "ViveZore.V0.0.0.9.xml", false},
      {{}, "", false},
  };
  LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.files));
    const Folder folder;
    for (const auto& file : c.files) folder.Write(file, "");
    FirmwareImage image(folder.DevicesPath());
    log.Take();
    image.FindImageFile();
    EXPECT_EQ(image.FileName(), Wide(c.chosen));
    EXPECT_EQ(image.Forced(), c.forced);
    if (c.chosen.empty()) {
      EXPECT_EQ(image.FilePath(), L"");
    } else {
      const std::wstring& path = image.FilePath();
      EXPECT_EQ(path.substr(0, folder.Wide().size()), folder.Wide());
      EXPECT_EQ(path.substr(path.size() - c.chosen.size()), Wide(c.chosen));
    }
    EXPECT_EQ(log.Take(), std::vector<std::wstring>{L"  Nano Driver: Using firmware image file '" +
                                                    image.FilePath() + L"'"});
  }
  FirmwareImage missingFolder(MVX::Path(L"/no/such/folder/Devices"));
  missingFolder.FindImageFile();
  EXPECT_EQ(missingFolder.FilePath(), L"");
}

std::string ImageXmlWithout(const std::string& element, const ImageDescription& description,
                            const std::vector<uint8_t>& data) {
  std::string xml = corvane::tools::ImageXml(description, data);
  const std::string open = "<" + element + ">";
  const std::string close = "</" + element + ">";
  const size_t from = xml.find(open);
  xml.erase(from, xml.find(close) - from + close.size());
  return xml;
}

TEST(FirmwareImageFile, LoadsAndDecidesWhetherTheUnitNeedsIt) {
  const std::vector<uint8_t> data = Pattern(300);
  const FirmwareVersion unit{1, 2, 3, 4};
  const std::wstring kNotUsed = L"; it is not used";
  const std::string kBig = "ViveZore.V9.0.0.0.xml";
  const struct {
    std::string name;
    std::string content;
    std::optional<uint32_t> unitHardware;
    bool loaded;
    bool needsUpdate;
    std::wstring logged;  // the line after "Using firmware image file"
  } cases[] = {
      {"ViveZore.V1.10.0.0.xml", corvane::tools::ImageXml(Describe(1, 10, 0, 0), data), 3, true,
       true, L""},
      {"ViveZore.V1.2.3.5.xml", corvane::tools::ImageXml(Describe(1, 2, 3, 5), data), 3, true, true,
       L""},
      {"ViveZore.V1.2.3.4.xml", corvane::tools::ImageXml(Describe(1, 2, 3, 4), data), 3, true,
       false, L""},
      {"ViveZore.V1.2.3.3.xml", corvane::tools::ImageXml(Describe(1, 2, 3, 3), data), 3, true,
       false, L""},
      {"ViveZore.V0.9.9.9.xml", corvane::tools::ImageXml(Describe(0, 9, 9, 9), data), 3, true,
       false, L""},
      {"ViveZore.V1.0.0.0!.xml", corvane::tools::ImageXml(Describe(1, 0, 0, 0), data), 3, true,
       true, L""},
      {"ViveZore.V1.2.3.4!.xml", corvane::tools::ImageXml(Describe(1, 2, 3, 4), data), 3, true,
       false, L""},
      // The version that counts is the one inside the file.
      {"ViveZore.V9.9.9.9.xml", corvane::tools::ImageXml(Describe(1, 2, 3, 4), data), 3, true,
       false, L""},
      // No hardware reported by the unit: nothing to check against.
      {"ViveZore.V2.0.0.0.xml", corvane::tools::ImageXml(Describe(2, 0, 0, 0), data), std::nullopt,
       true, true, L""},
      {"ViveZore.V2.0.0.0.xml", corvane::tools::ImageXml(Describe(2, 0, 0, 0, 4), data), 3, false,
       false,
       L"!!! Nano Driver: firmware image file 'ViveZore.V2.0.0.0.xml' is built for hardware 4, "
       L"the wrist unit is hardware 3" +
           kNotUsed},
      {"ViveZore.V2.0.0.0!.xml", corvane::tools::ImageXml(Describe(2, 0, 0, 0), {}), 3, false,
       false,
       L"!!! Nano Driver: firmware image file 'ViveZore.V2.0.0.0!.xml' holds no image data" +
           kNotUsed},
      {kBig,
       corvane::tools::ImageXml(Describe(9, 0, 0, 0),
                                Pattern(size_t{FirmwareImage::kMaxBlocks} * 128 + 1)),
       3, false, false,
       L"!!! Nano Driver: firmware image file 'ViveZore.V9.0.0.0.xml' holds 8388609 bytes, more "
       L"than the 65536 blocks of 128 bytes a wrist unit takes" +
           kNotUsed},
      {kBig,
       corvane::tools::ImageXml(Describe(9, 0, 0, 0),
                                Pattern(size_t{FirmwareImage::kMaxBlocks} * 128)),
       3, true, true, L""},
      // Files that do not hold a usable image, silently.
      {"ViveZore.V2.0.0.0.xml", ImageXmlWithout("CRC", Describe(2, 0, 0, 0), data), 3, false, false,
       L""},
      {"ViveZore.V2.0.0.0.xml", ImageXmlWithout("Binary", Describe(2, 0, 0, 0), data), 3, false,
       false, L""},
      {"ViveZore.V2.0.0.0.xml", "<Image><Binary><Major>2</Major></Binar></Image>", 3, false, false,
       L""},
      {"ViveZore.V2.0.0.0.xml", "\xFE\xFF", 3, false, false, L""},
      // Decimal values: leading white space and a sign.
      {"ViveZore.V2.0.0.0.xml",
       "<I><Binary><Major>\n 2\n</Major><Minor>+0</Minor><Patch>x</Patch><Revision/>"
       "<Hardware> 03</Hardware><CRC>427</CRC><Length>-1</Length><Data>AAEC</Data></Binary></I>",
       3, true, true, L""},
  };
  LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + c.content.substr(0, 200));
    const Folder folder;
    folder.Write(c.name, c.content);
    FirmwareImage image(folder.DevicesPath());
    image.Load(c.unitHardware);
    EXPECT_EQ(image.IsLoaded(), c.loaded);
    EXPECT_EQ(image.NeedsUpdate(unit), c.needsUpdate);
    EXPECT_EQ(image.FileName(), Wide(c.name));
    EXPECT_EQ(image.Forced(), c.name.find('!') != std::string::npos);
    std::vector<std::wstring> expected = {L"  Nano Driver: Using firmware image file '" +
                                          folder.FilePath(c.name) + L"'"};
    if (!c.logged.empty()) expected.push_back(c.logged);
    EXPECT_EQ(log.Take(), expected);
    if (!c.loaded) {
      EXPECT_TRUE(image.Data().empty());
      FirmwareImage::Block block{};
      EXPECT_FALSE(image.NextBlock(block));
    }
  }
}

TEST(FirmwareImageFile, ValuesForTheEraseCommandComeFromTheFile) {
  LogCapture log;
  const Folder folder;
  folder.Write("ViveZore.V2.0.0.0.xml",
               "<I><Binary><Major>2</Major><Minor>0</Minor><Patch>0</Patch><Revision>0</Revision>"
               "<Hardware>3</Hardware><CRC>427</CRC><Length>4000000000</Length>"
               "<Data>AAEC</Data></Binary></I>");
  FirmwareImage image(folder.DevicesPath());
  image.Load(3u);
  ASSERT_TRUE(image.IsLoaded());
  EXPECT_EQ(image.Checksum(), 171);  // the low 8 bits of 427
  EXPECT_EQ(image.DeclaredLength(), 4000000000u);
  EXPECT_EQ(image.Data(), (std::vector<uint8_t>{0, 1, 2}));
  EXPECT_EQ(image.ImageVersion(), (std::array<int64_t, 4>{2, 0, 0, 0}));
}

TEST(FirmwareImageFile, Base64IsDecodedLeniently) {
  const struct {
    std::wstring text;
    std::string bytes;
  } cases[] = {
      {L"QUJD", "ABC"},
      {L"QUI=", "AB"},
      {L"QUJ", "AB"},
      {L"QQ", "A"},
      {L"Q", ""},
      {L"", ""},
      {L"QU\nJD\r\n QUJD\t", "ABCABC"},
      {L"QU*J\u00E9D!", "ABC"},
      {L"QUI=QUJD", "AB"},
      {L"////", "\xFF\xFF\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    std::vector<uint8_t> bytes = {0x55};  // decoded bytes are appended
    corvane::DecodeBase64(c.text, bytes);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.end()), c.bytes);
    EXPECT_EQ(bytes.front(), 0x55);
  }
}

TEST(FirmwareImageFile, BlocksAreNumberedAndTheLastIsFilled) {
  LogCapture log;
  for (const size_t size : {size_t{1}, size_t{128}, size_t{256}, size_t{257}, size_t{300}}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data = Pattern(size);
    const Folder folder;
    folder.Write("ViveZore.V2.0.0.0.xml", corvane::tools::ImageXml(Describe(2, 0, 0, 0), data));
    FirmwareImage image(folder.DevicesPath());
    image.Load(3u);
    ASSERT_TRUE(image.IsLoaded());
    const uint32_t blocks = static_cast<uint32_t>((size + 127) / 128);
    EXPECT_EQ(image.BlockCount(), blocks);

    std::vector<uint8_t> joined;
    FirmwareImage::Block block{};
    for (uint32_t number = 0; number < blocks; ++number) {
      ASSERT_TRUE(image.NextBlock(block));
      EXPECT_EQ(block[0] | (block[1] << 8), static_cast<int>(number));
      joined.insert(joined.end(), block.begin() + 2, block.end());
    }
    EXPECT_FALSE(image.NextBlock(block));
    ASSERT_EQ(joined.size(), blocks * 128u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), joined.begin()));
    EXPECT_TRUE(std::all_of(joined.begin() + static_cast<std::ptrdiff_t>(size), joined.end(),
                            [](uint8_t b) { return b == 0xFF; }));

    // The unit wants an earlier block again: the cursor goes back.
    image.SetBlockCursor(blocks - 1);
    ASSERT_TRUE(image.NextBlock(block));
    EXPECT_EQ(block[0] | (block[1] << 8), static_cast<int>(blocks - 1));
    image.SetBlockCursor(70000);
    EXPECT_FALSE(image.NextBlock(block));
  }
}

TEST(FirmwareImageFile, TheDefaultFolderIsDevicesBesideTheExecutable) {
  LogCapture log;
  const Folder devices(
      corvane::platform::ToFsPath(corvane::platform::ExecutablePath()).parent_path() / "Devices");
  devices.Write("ViveZore.V5.0.0.0.xml",
                corvane::tools::ImageXml(Describe(5, 0, 0, 0), Pattern(10)));
  FirmwareImage image;
  image.Load(3u);
  EXPECT_TRUE(image.IsLoaded());
  EXPECT_EQ(image.FilePath(), devices.FilePath("ViveZore.V5.0.0.0.xml"));
}

// The image writer's files load back byte for byte.
TEST(FirmwareImageWriter, WrittenImagesLoadBackByteForByte) {
  LogCapture log;
  std::mt19937 random(4);
  for (const size_t size : {size_t{1}, size_t{2}, size_t{3}, size_t{57}, size_t{5000}}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> data(size);
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
    ImageDescription description{
        3, 1, 400, 65535, 7, corvane::tools::Crc8(data), static_cast<uint32_t>(size)};
    const std::string name = corvane::tools::ImageFileName(description, true);
    EXPECT_EQ(name, "ViveZore.V3.1.400.65535!.xml");
    const Folder folder;
    folder.Write(name, corvane::tools::ImageXml(description, data));
    FirmwareImage image(folder.DevicesPath());
    image.Load(7u);
    ASSERT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.Data(), data);
    EXPECT_EQ(image.DeclaredLength(), size);
    EXPECT_EQ(image.Checksum(), description.crc);
    EXPECT_EQ(image.ImageVersion(), (std::array<int64_t, 4>{3, 1, 400, 65535}));
    EXPECT_TRUE(image.Forced());
  }
  // The check value of this CRC-8 over the nine digits.
  const std::string digits = "123456789";
  EXPECT_EQ(corvane::tools::Crc8(
                std::span(reinterpret_cast<const uint8_t*>(digits.data()), digits.size())),
            0xA1);
  EXPECT_EQ(corvane::tools::EncodeBase64(std::vector<uint8_t>{'A', 'B'}), "QUI=");
  EXPECT_EQ(corvane::tools::EncodeBase64(std::vector<uint8_t>(60, 0), 76).find('\n'), 76u);
}

}  // namespace
