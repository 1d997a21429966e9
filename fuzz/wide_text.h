// How the text fuzzers turn bytes into wide text: the first byte chooses
// between the rest's bytes as characters, as the 8-bit file reader makes
// them, and little-endian 16-bit units, as a UTF-16 file gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::fuzz {

inline std::wstring WideText(const uint8_t* data, size_t size) {
  std::wstring text;
  if (size == 0) return text;
  if ((data[0] & 1) != 0) {
    for (size_t i = 1; i + 1 < size; i += 2) {
      text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    for (size_t i = 1; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));
  }
  return text;
}

}  // namespace corvane::fuzz
