#include "nano/firmware_image.h"

#include <algorithm>
#include <iomanip>

#include "support/module_log.h"
#include "support/mvx_string.h"

namespace corvane {
namespace {

constexpr wchar_t kDevicesFolder[] = L"Devices";
constexpr wchar_t kImageExtension[] = L".xml";
constexpr std::wstring_view kNamePrefix = L"ViveZore.V";
constexpr std::wstring_view kNameSuffix = L".xml";
constexpr wchar_t kBase64Alphabet[] =
    L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Width of one version number in a ranking key.
constexpr int kKeyFieldWidth = 6;

constexpr wchar_t kBinaryElement[] = L"Binary";
enum Field { kMajor, kMinor, kPatch, kRevision, kHardware, kCrc, kLength, kData, kFieldCount };
constexpr std::array<const wchar_t*, kFieldCount> kFieldNames = {
    L"Major", L"Minor", L"Patch", L"Revision", L"Hardware", L"CRC", L"Length", L"Data"};

// The parts of an image file name: version numbers as written, forced mark.
struct ImageName {
  std::wstring fileName;
  std::array<std::wstring, 4> numbers;
  bool forced = false;
};

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Matches a full path against .*(ViveZore\.V(\d+)\.(\d+)\.(\d+)\.(\d+)(!?)\.xml),
// case-sensitive. The tail after the prefix holds only digits, dots, "!" and
// "xml", so only the last occurrence of the prefix can start a match.
std::optional<ImageName> MatchImageName(const std::wstring& path) {
  const size_t start = path.rfind(kNamePrefix);
  if (start == std::wstring::npos) return std::nullopt;
  ImageName name;
  size_t pos = start + kNamePrefix.size();
  for (size_t i = 0; i < name.numbers.size(); ++i) {
    if (i > 0) {
      if (pos >= path.size() || path[pos] != L'.') return std::nullopt;
      ++pos;
    }
    const size_t first = pos;
    while (pos < path.size() && IsDigit(path[pos])) ++pos;
    if (pos == first) return std::nullopt;
    name.numbers[i] = path.substr(first, pos - first);
  }
  if (pos < path.size() && path[pos] == L'!') {
    name.forced = true;
    ++pos;
  }
  if (path.compare(pos, std::wstring::npos, kNameSuffix) != 0) return std::nullopt;
  name.fileName = path.substr(start);
  return name;
}

// Each number right-aligned in a blank-padded field, so that comparing keys as
// text orders versions (numbers of up to kKeyFieldWidth digits).
std::wstring VersionKey(const ImageName& name) {
  MVX::OStringStream key;
  for (const auto& number : name.numbers) key << std::setw(kKeyFieldWidth) << number;
  return key.str();
}

// Leading white space, an optional sign, digits up to the first non-digit;
// 0 without digits. Saturates far beyond any 32-bit value.
int64_t ParseDecimal(const std::wstring& text) {
  constexpr int64_t kLimit = int64_t{1} << 40;
  size_t pos = 0;
  while (pos < text.size() && (text[pos] == L' ' || (text[pos] >= L'\t' && text[pos] <= L'\r'))) {
    ++pos;
  }
  bool negative = false;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
    negative = text[pos] == L'-';
    ++pos;
  }
  int64_t value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    value = std::min(kLimit, value * 10 + (text[pos] - L'0'));
  }
  return negative ? -value : value;
}

void LogRefusal(const std::wstring& fileName, const std::wstring& reason) {
  MVX::ModuleLog::Write(L"!!! Nano Driver: firmware image file '" + fileName + L"' " + reason +
                        L"; it is not used");
}

}  // namespace

void DecodeBase64(std::wstring_view text, std::vector<uint8_t>& bytes) {
  // Images run to megabytes: one table look-up per character.
  static const std::array<int8_t, 128> kValues = [] {
    std::array<int8_t, 128> values{};
    values.fill(-1);
    for (size_t i = 0; i + 1 < std::size(kBase64Alphabet); ++i) {
      values[static_cast<size_t>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
    }
    return values;
  }();
  uint32_t group = 0;
  int collected = 0;
  for (const wchar_t c : text) {
    if (c == L'=') break;
    const auto code = static_cast<uint32_t>(c);
    if (code >= kValues.size() || kValues[code] < 0) continue;
    group = (group << 6) | static_cast<uint32_t>(kValues[code]);
    if (++collected == 4) {
      bytes.push_back(static_cast<uint8_t>(group >> 16));
      bytes.push_back(static_cast<uint8_t>(group >> 8));
      bytes.push_back(static_cast<uint8_t>(group));
      group = 0;
      collected = 0;
    }
  }
  if (collected < 2) return;
  group <<= 6 * (4 - collected);
  bytes.push_back(static_cast<uint8_t>(group >> 16));
  if (collected == 3) bytes.push_back(static_cast<uint8_t>(group >> 8));
}

FirmwareImage::FirmwareImage() : FirmwareImage(MVX::Path() / kDevicesFolder) {}

FirmwareImage::FirmwareImage(MVX::Path devicesFolder) : mFolder(std::move(devicesFolder)) {}

FirmwareImage::~FirmwareImage() = default;

void FirmwareImage::FindImageFile() {
  mPath.clear();
  mFileName.clear();
  mForced = false;
  // Forced and normal files are ranked apart; among equal keys the first
  // listed stays.
  struct Best {
    std::wstring key;
    std::wstring path;
    std::wstring fileName;
  };
  std::optional<Best> bestNormal;
  std::optional<Best> bestForced;
  for (const MVX::Path& entry : mFolder.ListByExtension(kImageExtension)) {
    const std::optional<ImageName> name = MatchImageName(entry.Wide());
    if (!name) continue;
    std::optional<Best>& best = name->forced ? bestForced : bestNormal;
    std::wstring key = VersionKey(*name);
    if (!best || key > best->key) best = Best{std::move(key), entry.Wide(), name->fileName};
  }
  const std::optional<Best>& chosen = bestForced ? bestForced : bestNormal;
  if (chosen) {
    mPath = chosen->path;
    mFileName = chosen->fileName;
    mForced = bestForced.has_value();
  }
  MVX::ModuleLog::Write(L"  Nano Driver: Using firmware image file '" + mPath + L"'");
}

void FirmwareImage::Unload() {
  mDocument.reset();
  mData.clear();
  mImageVersion = {};
  mBlockCursor = 0;
  mDeclaredLength = 0;
  mChecksum = 0;
}

void FirmwareImage::Load(std::optional<uint32_t> unitHardware) {
  Unload();
  mHardwareId = unitHardware;
  FindImageFile();
  if (mPath.empty()) return;
  std::wstring text;
  if (MVX::ReadTextFile(mPath, text) != 0) return;
  MVX::FXMLParser parser;
  std::unique_ptr<MVX::FXMLElement> document = parser.Parse(std::move(text));
  if (!document) return;
  const MVX::FXMLElement* binary = document->FindChild(kBinaryElement);
  if (binary == nullptr) return;
  std::array<const MVX::FXMLElement*, kFieldCount> fields{};
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i] = binary->FindChild(kFieldNames[i]);
    if (fields[i] == nullptr) return;
  }
  const auto value = [&](Field field) { return ParseDecimal(fields[field]->GetText()); };

  std::vector<uint8_t> data;
  DecodeBase64(fields[kData]->GetText(), data);
  if (data.empty()) {
    LogRefusal(mFileName, L"holds no image data");
    return;
  }
  if (data.size() > size_t{kMaxBlocks} * kBlockDataBytes) {
    LogRefusal(mFileName, L"holds " + std::to_wstring(data.size()) + L" bytes, more than the " +
                              std::to_wstring(kMaxBlocks) + L" blocks of " +
                              std::to_wstring(kBlockDataBytes) + L" bytes a wrist unit takes");
    return;
  }
  // The unit waits for the declared length after erasing itself: a length
  // beyond the data could never be reached, and the unit would be left
  // erased. A shorter one is the unit's to judge (it may expect padding).
  const int64_t declared = value(kLength);
  if (declared < 0 || declared > static_cast<int64_t>(data.size())) {
    LogRefusal(mFileName, L"declares " + std::to_wstring(declared) + L" bytes but holds " +
                              std::to_wstring(data.size()));
    return;
  }
  // Written onto other hardware an image would leave the unit unusable.
  const int64_t hardware = value(kHardware);
  if (mHardwareId && hardware != static_cast<int64_t>(*mHardwareId)) {
    LogRefusal(mFileName, L"is built for hardware " + std::to_wstring(hardware) +
                              L", the wrist unit is hardware " + std::to_wstring(*mHardwareId));
    return;
  }

  mImageVersion = {value(kMajor), value(kMinor), value(kPatch), value(kRevision)};
  mDeclaredLength = static_cast<uint32_t>(declared);
  mChecksum = static_cast<uint8_t>(value(kCrc) & 0xFF);
  mData = std::move(data);
  mBlockCursor = 0;
  mDocument = std::move(document);
}

bool FirmwareImage::NeedsUpdate(const FirmwareVersion& unit) const {
  if (!IsLoaded()) return false;
  const std::array<int64_t, 4> unitVersion = {unit.major, unit.minor, unit.patch, unit.revision};
  for (size_t i = 0; i < unitVersion.size(); ++i) {
    if (unitVersion[i] == mImageVersion[i]) continue;
    return mForced || unitVersion[i] < mImageVersion[i];
  }
  return false;
}

uint32_t FirmwareImage::BlockCount() const {
  return static_cast<uint32_t>((mData.size() + kBlockDataBytes - 1) / kBlockDataBytes);
}

bool FirmwareImage::NextBlock(Block& block) {
  const uint64_t offset = uint64_t{mBlockCursor} * kBlockDataBytes;
  if (offset >= mData.size()) return false;
  block[0] = static_cast<uint8_t>(mBlockCursor & 0xFF);
  block[1] = static_cast<uint8_t>((mBlockCursor >> 8) & 0xFF);
  const auto from = mData.begin() + static_cast<std::ptrdiff_t>(offset);
  const size_t count =
      std::min<size_t>(kBlockDataBytes, mData.size() - static_cast<size_t>(offset));
  const auto filled = std::copy_n(from, count, block.begin() + 2);
  std::fill(filled, block.end(), kFillByte);
  ++mBlockCursor;
  return true;
}

}  // namespace corvane
