#include "firmware_image_writer.h"

#include <algorithm>

namespace corvane::tools {

std::string EncodeBase64(std::span<const uint8_t> data, size_t lineLength) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  size_t onLine = 0;
  const auto put = [&](char c) {
    if (lineLength != 0 && onLine == lineLength) {
      text += '\n';
      onLine = 0;
    }
    text += c;
    ++onLine;
  };
  for (size_t i = 0; i < data.size(); i += 3) {
    const size_t count = std::min<size_t>(3, data.size() - i);
    uint32_t group = uint32_t{data[i]} << 16;
    if (count > 1) group |= uint32_t{data[i + 1]} << 8;
    if (count > 2) group |= data[i + 2];
    for (size_t k = 0; k < 4; ++k) {
      put(k <= count ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=');
    }
  }
  return text;
}

uint8_t Crc8(std::span<const uint8_t> data) {
  uint8_t crc = 0;
  for (uint8_t byte : data) {
    for (int bit = 0; bit < 8; ++bit) {
      const bool low = ((crc ^ byte) & 1) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (low) crc ^= 0x8C;
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

std::string ImageXml(const ImageDescription& image, std::span<const uint8_t> data) {
  const auto element = [](const char* name, const std::string& value) {
    return std::string("    <") + name + ">" + value + "</" + name + ">\n";
  };
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<FirmwareImage>\n"
         "  <Binary>\n" +
         element("Major", std::to_string(image.major)) +
         element("Minor", std::to_string(image.minor)) +
         element("Patch", std::to_string(image.patch)) +
         element("Revision", std::to_string(image.revision)) +
         element("Hardware", std::to_string(image.hardware)) +
         element("CRC", std::to_string(image.crc)) +
         element("Length", std::to_string(image.length)) +
         element("Data", "\n" + EncodeBase64(data) + "\n    ") +
         "  </Binary>\n"
         "</FirmwareImage>\n";
}

std::string ImageFileName(const ImageDescription& image, bool forced) {
  return "ViveZore.V" + std::to_string(image.major) + "." + std::to_string(image.minor) + "." +
         std::to_string(image.patch) + "." + std::to_string(image.revision) + (forced ? "!" : "") +
         ".xml";
}

}  // namespace corvane::tools
