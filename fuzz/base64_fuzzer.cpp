// Feeds arbitrary text to the firmware image's base64 decoder and compares it
// with a plain reference: keep the alphabet's characters up to the first "=",
// decode them four at a time, and 2 or 3 left over give 1 or 2 bytes. The
// first byte chooses how the rest becomes wide text (see wide_text.h); an
// even first byte above 0x7F instead encodes the rest and checks that the
// decoder gives it back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nano/firmware_image.h"
#include "wide_text.h"

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::vector<uint8_t> ReferenceDecode(std::wstring_view text) {
  std::vector<uint32_t> values;
  for (const wchar_t c : text) {
    if (c == L'=') break;
    if (c < 0 || c > 0x7F) continue;
    const size_t at = kAlphabet.find(static_cast<char>(c));
    if (at != std::string_view::npos) values.push_back(static_cast<uint32_t>(at));
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < values.size(); i += 4) {
    const size_t n = std::min<size_t>(4, values.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) group = (group << 6) | (k < n ? values[i + k] : 0);
    for (size_t k = 0; k + 1 < n; ++k) bytes.push_back(static_cast<uint8_t>(group >> (16 - 8 * k)));
  }
  return bytes;
}

std::wstring Encode(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i < size; i += 3) {
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = (group << 8) | (i + k < size ? data[i + k] : 0);
    for (size_t k = 0; k < 4; ++k) {
      const bool present = k == 0 || i + k - 1 < size;
      text.push_back(present ? static_cast<wchar_t>(kAlphabet[(group >> (18 - 6 * k)) & 0x3F])
                             : L'=');
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The decoder appends: what was there before stays.
  const std::vector<uint8_t> before = {0xA5, 0x5A};
  std::vector<uint8_t> bytes = before;
  if (data[0] >= 0x80 && (data[0] & 1) == 0) {
    corvane::DecodeBase64(Encode(data + 1, size - 1), bytes);
    Check(bytes.size() == before.size() + size - 1);
    Check(std::equal(data + 1, data + size, bytes.begin() + 2));
    return 0;
  }
  const std::wstring text = corvane::fuzz::WideText(data, size);
  corvane::DecodeBase64(text, bytes);
  const std::vector<uint8_t> expected = ReferenceDecode(text);
  Check(bytes.size() == before.size() + expected.size());
  Check(std::equal(before.begin(), before.end(), bytes.begin()));
  Check(std::equal(expected.begin(), expected.end(), bytes.begin() + 2));
  return 0;
}
