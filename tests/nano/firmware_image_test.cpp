// Firmware image files: which file is chosen, what loads, when a unit needs
// the image, how it is cut into blocks, and the image writer round trip.
#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "firmware_image_writer.h"
#include "nano/firmware_image.h"
#include "support/module_log.h"
#include "support/utf8.h"
#include "temp_folder.h"

namespace {

using corvane::FirmwareImage;
using corvane::tools::ImageDescription;

// Collects module-log messages (without their time field) while it lives.
class LogCapture final : public MVX::LogSink {
 public:
  LogCapture() { MVX::ModuleLog::SetSink(this); }
  ~LogCapture() override { MVX::ModuleLog::SetSink(nullptr); }
  void Deliver(const wchar_t* line, uint32_t*) override {
    std::lock_guard lock(mMutex);
    if (line != nullptr) mMessages.emplace_back(std::wstring(line).substr(9));  // after "s: "
  }
  std::vector<std::wstring> Take() {
    std::lock_guard lock(mMutex);
    return std::exchange(mMessages, {});
  }

 private:
  std::mutex mMutex;
  std::vector<std::wstring> mMessages;
};

std::wstring Wide(const std::string& text) { return MVX::Utf8ToWide(text); }
std::wstring UsingLine(const std::wstring& path) {
  return L"  Nano Driver: Using firmware image file '" + path + L"'";
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 31 + i / 256 + 1);
  return data;
}

// An image file for hardware `hardware` with checksum byte 171, declaring
// `length` bytes (the data's size unless given).
std::string Xml(std::array<uint32_t, 4> v, const std::vector<uint8_t>& data, uint32_t hardware = 3,
                std::optional<uint32_t> length = std::nullopt) {
  return corvane::tools::ImageXml(
      {v[0], v[1], v[2], v[3], hardware, 171, length.value_or(static_cast<uint32_t>(data.size()))},
      data);
}

TEST(FirmwareImageFile, TheNewestOrForcedMatchingFileIsChosen) {
  const struct {
    std::vector<std::string> files;
    std::string chosen;  // empty for none
  } cases[] = {
      {{"ViveZore.V1.2.3.4.xml", "ViveZore.V1.10.0.0.xml"}, "ViveZore.V1.10.0.0.xml"},
      {{"ViveZore.V1.2.3.4.xml", "ViveZore.V1.10.0.0.xml", "ViveZore.V1.0.0.0!.xml"},
       "ViveZore.V1.0.0.0!.xml"},
      {{"ViveZore.V2.0.0.0!.xml", "ViveZore.V1.9.9.9!.xml", "ViveZore.V3.0.0.0.xml"},
       "ViveZore.V2.0.0.0!.xml"},
      {{"ViveZore.V1.2.3.4.xml", "ViveZore.V01.2.3.4.xml"}, "ViveZore.V01.2.3.4.xml"},
      {{"ViveZore.V1.2.3.999999.xml", "ViveZore.V1.2.4.0.xml"}, "ViveZore.V1.2.4.0.xml"},
      // The pattern is case-sensitive; only the listing ignores case.
      {{"vivezore.V1.2.3.4.xml", "ViveZore.V1.2.3.4.XML"}, ""},
      {{"ViveZore.V1.2.3.4.XML", "ViveZore.V0.0.0.1.xml"}, "ViveZore.V0.0.0.1.xml"},
      {{"ViveZore.V1.2.3.xml", "ViveZore.V1.2.3.4!!.xml", "ViveZore.V1.2.3.4.xml.bak",
        "ViveZore.Va.2.3.4.xml", "notes.xml"},
       ""},
      // Anything may stand before the name in the path; it is not part of it.
      {{"old-ViveZore.V0.0.0.9.xml"}, "ViveZore.V0.0.0.9.xml"},
      {{}, ""},
  };
  LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.files));
    const TempFolder folder;
    std::wstring expectedPath;
    for (const auto& file : c.files) {
      const std::wstring path = folder.Write(Wide(file), "");
      if (!c.chosen.empty() && file.ends_with(c.chosen)) expectedPath = path;
    }
    FirmwareImage image{MVX::Path(folder.Wide())};
    image.FindImageFile();
    EXPECT_EQ(image.FilePath(), expectedPath);
    EXPECT_EQ(image.FileName(), Wide(c.chosen));
    EXPECT_EQ(image.Forced(), c.chosen.find('!') != std::string::npos);
    EXPECT_EQ(log.Take(), std::vector<std::wstring>{UsingLine(expectedPath)});
  }
}

TEST(FirmwareImageFile, LoadsAndDecidesWhetherTheUnitNeedsIt) {
  const std::vector<uint8_t> data = Pattern(300);
  std::string withoutCrc = Xml({2, 0, 0, 0}, data);
  withoutCrc.erase(withoutCrc.find("<CRC>"), std::string("<CRC>171</CRC>").size());
  const std::string kBig = "ViveZore.V9.0.0.0.xml";
  const size_t kMaxBytes = size_t{FirmwareImage::kMaxBlocks} * 128;
  const struct {
    std::string name;
    std::string content;
    std::optional<uint32_t> unitHardware;
    bool loaded;
    bool needsUpdate;  // for a unit running 1.2.3.4
    std::wstring refusal;
  } cases[] = {
      {"ViveZore.V1.10.0.0.xml", Xml({1, 10, 0, 0}, data), 3, true, true, L""},
      {"ViveZore.V1.2.3.4.xml", Xml({1, 2, 3, 4}, data), 3, true, false, L""},
      {"ViveZore.V1.2.3.3.xml", Xml({1, 2, 3, 3}, data), 3, true, false, L""},
      {"ViveZore.V1.0.0.0!.xml", Xml({1, 0, 0, 0}, data), 3, true, true, L""},
      {"ViveZore.V1.2.3.4!.xml", Xml({1, 2, 3, 4}, data), 3, true, false, L""},
      // The version that counts is the one inside the file.
      {"ViveZore.V9.9.9.9.xml", Xml({1, 2, 3, 4}, data), 3, true, false, L""},
      // A unit that has not reported its hardware: nothing to check against.
      {"ViveZore.V2.0.0.0.xml", Xml({2, 0, 0, 0}, data, 4), std::nullopt, true, true, L""},
      {"ViveZore.V2.0.0.0.xml", Xml({2, 0, 0, 0}, data, 4), 3, false, false,
       L"is built for hardware 4, the wrist unit is hardware 3"},
      {"ViveZore.V2.0.0.0!.xml", Xml({2, 0, 0, 0}, {}), 3, false, false, L"holds no image data"},
      {kBig, Xml({9, 0, 0, 0}, Pattern(kMaxBytes + 1), 3, 300), 3, false, false,
       L"holds 8388609 bytes, more than the 65536 blocks of 128 bytes a wrist unit takes"},
      {kBig, Xml({9, 0, 0, 0}, Pattern(kMaxBytes), 3, 300), 3, true, true, L""},
      // A declared length beyond the data could never be reached; a shorter
      // one is passed on.
      {"ViveZore.V2.0.0.0.xml", Xml({2, 0, 0, 0}, Pattern(299), 3, 300), 3, false, false,
       L"declares 300 bytes but holds 299"},
      {"ViveZore.V2.0.0.0.xml", Xml({2, 0, 0, 0}, Pattern(301), 3, 300), 3, true, true, L""},
      // Files without a usable image are passed over silently.
      {"ViveZore.V2.0.0.0.xml", withoutCrc, 3, false, false, L""},
      {"ViveZore.V2.0.0.0.xml", "<I><Binar/></I>", 3, false, false, L""},
      {"ViveZore.V2.0.0.0.xml", "<I><Binary><Major>2</Major></Binar></I>", 3, false, false, L""},
      {"ViveZore.V2.0.0.0.xml", "\xFE\xFF", 3, false, false, L""},
      // Decimal values: leading white space, a sign, no digits; the low 8 bits of the CRC.
      {"ViveZore.V2.0.0.0.xml",
       "<I><Binary><Major>\n 2\n</Major><Minor>+0</Minor><Patch>x</Patch><Revision/>"
       "<Hardware> 03</Hardware><CRC>427</CRC><Length>300</Length><Data>" +
           std::string(400, 'A') + "</Data></Binary></I>",
       3, true, true, L""},
  };
  LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + c.content.substr(0, 200));
    const TempFolder folder;
    const std::wstring path = folder.Write(Wide(c.name), c.content);
    FirmwareImage image{MVX::Path(folder.Wide())};
    image.Load(c.unitHardware);
    EXPECT_EQ(image.IsLoaded(), c.loaded);
    EXPECT_EQ(image.NeedsUpdate({1, 2, 3, 4}), c.needsUpdate);
    std::vector<std::wstring> expected = {UsingLine(path)};
    if (!c.refusal.empty()) {
      expected.push_back(L"!!! Nano Driver: firmware image file '" + Wide(c.name) + L"' " +
                         c.refusal + L"; it is not used");
    }
    EXPECT_EQ(log.Take(), expected);
    // What the erase command hands to the unit.
    EXPECT_EQ(image.Checksum(), c.loaded ? 171 : 0);
    EXPECT_EQ(image.DeclaredLength(), c.loaded ? 300u : 0u);
    EXPECT_EQ(image.Data().empty(), !c.loaded);
  }
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
      {L"QU\nJD\r\n QUJD\t", "ABCABC"},
      {L"QU*J\u00E9D!", "ABC"},
      {L"QUI=QUJD", "AB"},
      {L"////", "\xFF\xFF\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    std::vector<uint8_t> bytes = {0x55};  // decoded bytes are appended
    corvane::DecodeBase64(c.text, bytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "\x55" + c.bytes);
  }
}

TEST(FirmwareImageFile, BlocksAreNumberedAndTheLastIsFilled) {
  LogCapture log;
  for (const size_t size : {size_t{1}, size_t{128}, size_t{256}, size_t{257}, size_t{300}}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data = Pattern(size);
    const TempFolder folder;
    folder.Write(L"ViveZore.V2.0.0.0.xml", Xml({2, 0, 0, 0}, data));
    FirmwareImage image{MVX::Path(folder.Wide())};
    image.Load(3u);
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
    std::vector<uint8_t> expected = data;
    expected.resize(blocks * 128u, 0xFF);
    EXPECT_EQ(joined, expected);

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
  const TempFolder devices(
      corvane::platform::ToFsPath(corvane::platform::ExecutablePath()).parent_path() / "Devices");
  const std::wstring path = devices.Write(L"ViveZore.V5.0.0.0.xml", Xml({5, 0, 0, 0}, Pattern(9)));
  FirmwareImage image;
  image.Load(3u);
  EXPECT_TRUE(image.IsLoaded());
  EXPECT_EQ(image.FilePath(), path);
}

TEST(FirmwareImageWriter, WrittenImagesLoadBackByteForByte) {
  LogCapture log;
  std::mt19937 random(4);
  for (const size_t size : {size_t{1}, size_t{2}, size_t{3}, size_t{57}, size_t{5000}}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> data(size);
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
    const ImageDescription description{
        3, 1, 400, 65535, 7, corvane::tools::Crc8(data), static_cast<uint32_t>(size)};
    const std::string name = corvane::tools::ImageFileName(description, true);
    EXPECT_EQ(name, "ViveZore.V3.1.400.65535!.xml");
    const TempFolder folder;
    folder.Write(Wide(name), corvane::tools::ImageXml(description, data));
    FirmwareImage image{MVX::Path(folder.Wide())};
    image.Load(7u);
    EXPECT_EQ(image.Data(), data);
    EXPECT_EQ(image.DeclaredLength(), size);
    EXPECT_EQ(image.Checksum(), description.crc);
    EXPECT_EQ(image.ImageVersion(), (std::array<int64_t, 4>{3, 1, 400, 65535}));
  }
  // The standard check value of this CRC-8.
  const std::string digits = "123456789";
  EXPECT_EQ(corvane::tools::Crc8({reinterpret_cast<const uint8_t*>(digits.data()), 9}), 0xA1);
}

}  // namespace
