#include "vz_settings.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

namespace corvane::vzsim {
namespace {

constexpr uint32_t kMaxMs = 3'600'000;
constexpr size_t kSerialRoom = 99;  // the hardware record keeps 100 bytes with its NUL

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

template <typename Number>
bool ParseNumber(std::string_view text, Number min, Number max, Number& out) {
  Number value{};
  int base = 10;
  if constexpr (std::is_integral_v<Number>) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
      text.remove_prefix(2);
      base = 16;
    }
  }
  const char* end = text.data() + text.size();
  std::from_chars_result r;
  if constexpr (std::is_integral_v<Number>) {
    r = std::from_chars(text.data(), end, value, base);
  } else {
    r = std::from_chars(text.data(), end, value);
  }
  if (text.empty() || r.ec != std::errc{} || r.ptr != end || !(value >= min && value <= max)) {
    return false;
  }
  out = value;
  return true;
}

bool ParseFlag(std::string_view text, bool& out) {
  if (text == "1" || text == "true" || text == "yes" || text == "on") {
    out = true;
  } else if (text == "0" || text == "false" || text == "no" || text == "off") {
    out = false;
  } else {
    return false;
  }
  return true;
}

// A single printable letter, or "none"/"-" for off.
bool ParseLetter(std::string_view text, char& out) {
  if (text == "none" || text == "-") {
    out = 0;
    return true;
  }
  if (text.size() != 1 || text[0] < '!' || text[0] > '~') return false;
  out = text[0];
  return true;
}

bool ParseVersionInto(std::string_view text, Version& out) {
  const std::optional<Version> v = ParseVersion(text);
  if (!v) return false;
  out = *v;
  return true;
}

bool Apply(std::string_view key, std::string_view value, Settings& s, bool& known) {
  known = true;
  if (key == "serial") {
    if (value.empty() || value.size() > kSerialRoom) return false;
    s.serial = std::string(value);
    return true;
  }
  if (key == "hardware_id") return ParseNumber<uint16_t>(value, 0, 0xFFFF, s.hardware_id);
  if (key == "firmware") return ParseVersionInto(value, s.firmware);
  if (key == "firmware_after_update") {
    Version v;
    if (!ParseVersionInto(value, v)) return false;
    s.firmware_after_update = v;
    return true;
  }
  if (key == "bootloader") return ParseVersionInto(value, s.bootloader);
  if (key == "protocol") return ParseNumber<uint8_t>(value, 0, 255, s.protocol);
  if (key == "start_in_bootloader") return ParseFlag(value, s.start_in_bootloader);
  if (key == "firmware_record") {
    if (value != "N" && value != "B" && value != "I" && value != "O") return false;
    s.firmware_record = value[0];
    return true;
  }
  if (key == "heart_rate") return ParseNumber(value, 30.0, 200.0, s.heart_rate);
  if (key == "systolic") return ParseNumber(value, 20.0, 280.0, s.systolic);
  if (key == "diastolic") return ParseNumber(value, 10.0, 250.0, s.diastolic);
  if (key == "height") return ParseNumber(value, 0.0, 200.0, s.height);
  if (key == "seed")
    return ParseNumber<uint64_t>(value, 0, std::numeric_limits<uint64_t>::max(), s.seed);
  if (key == "first_counter") return ParseNumber<uint16_t>(value, 0, 0xFFFF, s.first_counter);
  if (key == "stream_idle") return ParseFlag(value, s.stream_idle);
  if (key == "watchdog_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.watchdog_ms);
  if (key == "watchdog_error") return ParseNumber<uint8_t>(value, 1, 255, s.watchdog_error);
  if (key == "zero_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.zero_ms);
  if (key == "hcu") return ParseNumber<uint8_t>(value, 0, 2, s.hcu);
  if (key == "bootloader_entry_ms")
    return ParseNumber<uint32_t>(value, 0, kMaxMs, s.bootloader_entry_ms);
  if (key == "erase_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.erase_ms);
  if (key == "erase_state") return ParseNumber<uint8_t>(value, 1, 2, s.erase_state);
  if (key == "restart_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.restart_ms);
  if (key == "garbage_every") return ParseNumber<uint32_t>(value, 0, 1'000'000, s.garbage_every);
  if (key == "garbage_bytes") return ParseNumber<uint32_t>(value, 1, 1000, s.garbage_bytes);
  if (key == "bad_crc_every") return ParseNumber<uint32_t>(value, 0, 1'000'000, s.bad_crc_every);
  if (key == "drop_every") return ParseNumber<uint32_t>(value, 0, 1'000'000, s.drop_every);
  if (key == "duplicate_every")
    return ParseNumber<uint32_t>(value, 0, 1'000'000, s.duplicate_every);
  if (key == "silence_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.silence_ms);
  if (key == "silence_after_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.silence_after_ms);
  if (key == "hangup_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.hangup_ms);
  if (key == "hangup_after_ms") return ParseNumber<uint32_t>(value, 0, kMaxMs, s.hangup_after_ms);
  if (key == "nack_letter") return ParseLetter(value, s.nack_letter);
  if (key == "nack_error") return ParseNumber<uint8_t>(value, 0, 255, s.nack_error);
  if (key == "ignore_letter") return ParseLetter(value, s.ignore_letter);
  if (key == "device_error") return ParseNumber<uint8_t>(value, 0, 255, s.device_error);
  if (key == "device_warning") {
    return ParseNumber<uint32_t>(value, 0, std::numeric_limits<uint32_t>::max(), s.device_warning);
  }
  if (key == "order_error_block")
    return ParseNumber<int32_t>(value, -1, 65535, s.order_error_block);
  if (key == "no_bootloader") return ParseFlag(value, s.no_bootloader);
  if (key == "erase_hangs") return ParseFlag(value, s.erase_hangs);
  if (key == "restart_hangs") return ParseFlag(value, s.restart_hangs);
  if (key == "accept_any_image") return ParseFlag(value, s.accept_any_image);
  known = false;
  return false;
}

}  // namespace

std::optional<Version> ParseVersion(std::string_view text) {
  uint32_t parts[4] = {};
  const uint32_t limits[4] = {255, 255, 65535, 65535};
  for (int i = 0; i < 4; ++i) {
    const size_t dot = text.find('.');
    const std::string_view part = i < 3 ? text.substr(0, dot) : text;
    if (i < 3 && dot == std::string_view::npos) return std::nullopt;
    if (!ParseNumber<uint32_t>(part, 0, limits[i], parts[i])) return std::nullopt;
    if (i < 3) text.remove_prefix(dot + 1);
  }
  return Version{static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                 static_cast<uint16_t>(parts[2]), static_cast<uint16_t>(parts[3])};
}

std::string FormatVersion(const Version& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
         "." + std::to_string(v.revision);
}

ParsedSettings ParseSettings(std::string_view text) {
  ParsedSettings result;
  int line_number = 0;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    ++line_number;
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(line_number) + ": ";
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      result.problems.push_back(where + "expected 'key = value', line ignored");
      continue;
    }
    const std::string key(Trim(line.substr(0, equals)));
    const std::string value(Trim(line.substr(equals + 1)));
    bool known = false;
    if (Apply(key, value, result.settings, known)) continue;
    result.problems.push_back(where + (known ? "bad value '" + value + "' for " + key + " ignored"
                                             : "unknown key '" + key + "' ignored"));
  }
  Settings& s = result.settings;
  if (s.systolic < s.diastolic + 10.0) {
    const Settings defaults;
    s.systolic = defaults.systolic;
    s.diastolic = defaults.diastolic;
    result.problems.push_back("systolic must exceed diastolic by at least 10 mmHg, both reset");
  }
  return result;
}

std::optional<ParsedSettings> SettingsWatcher::PollForChange() {
  std::error_code error;
  const auto mtime = std::filesystem::last_write_time(path_, error);
  const std::uintmax_t size = error ? 0 : std::filesystem::file_size(path_, error);
  if (error) {
    loaded_ = false;  // a missing file keeps what was loaded; its return counts as a change
    return std::nullopt;
  }
  if (loaded_ && mtime == mtime_ && size == size_) return std::nullopt;
  std::ifstream file(path_, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  loaded_ = true;
  mtime_ = mtime;
  size_ = size;
  return ParseSettings(content.str());
}

}  // namespace corvane::vzsim
