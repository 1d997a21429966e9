// Feeds arbitrary text to the XML reader and the base64 decoder. The first
// byte chooses how the rest becomes wide text: bytes as characters, as the
// 8-bit file reader makes them, or little-endian 16-bit units.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nano/firmware_image.h"
#include "support/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::wstring text;
  if (data[0] & 1) {
    for (size_t i = 1; i + 1 < size; i += 2) {
      text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    for (size_t i = 1; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));
  }
  MVX::FXMLParser parser;
  const auto document = parser.Parse(text);
  if ((document == nullptr) != (parser.ErrorCode() < 0)) __builtin_trap();
  if (document == nullptr && parser.ErrorText().empty()) __builtin_trap();

  std::vector<uint8_t> bytes;
  corvane::DecodeBase64(text, bytes);
  if (bytes.size() > text.size()) __builtin_trap();
  return 0;
}
