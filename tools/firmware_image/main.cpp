// corvane-make-image: writes a firmware image file for the Vive Zore wrist unit.
//
//   corvane-make-image --version A.B.C.D [--hardware N] [--crc N] [--length N]
//                      [--forced] [--out FOLDER] (INPUT | --size N)
//
// The data comes from the binary file INPUT, or is N bytes of a fixed pattern.
// The checksum byte defaults to the CRC-8 of the data, the declared length to
// its size. Prints the path of the file written.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "firmware_image_writer.h"

namespace {

using corvane::tools::ImageDescription;

int Usage() {
  std::cerr << "usage: corvane-make-image --version A.B.C.D [--hardware N] [--crc N] [--length N]"
               " [--forced] [--out FOLDER] (INPUT | --size N)\n";
  return 1;
}

std::optional<uint32_t> Number(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value > 0xFFFFFFFFull) return {};
  return static_cast<uint32_t>(value);
}

bool ParseVersion(const std::string& text, ImageDescription& image) {
  uint32_t* parts[] = {&image.major, &image.minor, &image.patch, &image.revision};
  size_t start = 0;
  for (size_t i = 0; i < 4; ++i) {
    const size_t dot = i < 3 ? text.find('.', start) : text.size();
    if (dot == std::string::npos) return false;
    const auto value = Number(text.substr(start, dot - start));
    if (!value) return false;
    *parts[i] = *value;
    start = dot + 1;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ImageDescription image;
  bool haveVersion = false;
  bool forced = false;
  std::optional<uint32_t> crc;
  std::optional<uint32_t> length;
  std::optional<uint32_t> size;
  std::string out = ".";
  std::string input;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--forced") {
      forced = true;
    } else if (arg == "--version" && hasValue) {
      haveVersion = ParseVersion(argv[++i], image);
      if (!haveVersion) return Usage();
    } else if ((arg == "--hardware" || arg == "--crc" || arg == "--length" || arg == "--size") &&
               hasValue) {
      const auto value = Number(argv[++i]);
      if (!value) return Usage();
      if (arg == "--hardware") image.hardware = *value;
      if (arg == "--crc") crc = *value;
      if (arg == "--length") length = *value;
      if (arg == "--size") size = *value;
    } else if (arg == "--out" && hasValue) {
      out = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
      input = arg;
    } else {
      return Usage();
    }
  }
  if (!haveVersion || input.empty() == !size.has_value()) return Usage();

  std::vector<uint8_t> data;
  if (size) {
    data.resize(*size);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  } else {
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      std::cerr << "corvane-make-image: cannot read " << input << "\n";
      return 2;
    }
    data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  image.crc = crc ? static_cast<uint8_t>(*crc) : corvane::tools::Crc8(data);
  image.length = length ? *length : static_cast<uint32_t>(data.size());

  const std::string path = out + "/" + corvane::tools::ImageFileName(image, forced);
  std::ofstream file(path, std::ios::binary);
  file << corvane::tools::ImageXml(image, data);
  file.close();
  if (!file) {
    std::cerr << "corvane-make-image: cannot write " << path << "\n";
    return 2;
  }
  std::cout << path << "\n";
  return 0;
}
