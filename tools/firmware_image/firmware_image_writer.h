// Writes firmware image files for the Vive Zore wrist unit from binary data:
// the XML layout that the module's firmware image reader takes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvane::tools {

struct ImageDescription {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  uint32_t revision = 0;
  uint32_t hardware = 0;
  // The checksum byte handed to the unit with the erase command.
  uint8_t crc = 0;
  // The declared length handed to the unit with the erase command.
  uint32_t length = 0;
};

// Standard base64 with padding, a line break after every `lineLength`
// characters (0 for none).
std::string EncodeBase64(std::span<const uint8_t> data, size_t lineLength = 76);

// Dallas/Maxim 1-Wire CRC-8 (reflected polynomial 0x8C, initial value 0):
// the tool's default checksum byte.
uint8_t Crc8(std::span<const uint8_t> data);

// The file's content, 8-bit text.
std::string ImageXml(const ImageDescription& image, std::span<const uint8_t> data);

// ViveZore.V<major>.<minor>.<patch>.<revision>.xml, "!" before ".xml" when forced.
std::string ImageFileName(const ImageDescription& image, bool forced);

}  // namespace corvane::tools
