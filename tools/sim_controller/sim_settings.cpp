#include "sim_settings.h"

#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>
#include <utility>

namespace corvane::sim {
namespace {

constexpr size_t kMaxTextLength = 64;  // serial and version must fit a host's small buffers
constexpr int32_t kLastResultCode = dmsError_FinalStop;
constexpr uint32_t kMaxDelayMs = 3'600'000;
constexpr double kMinHeartRate = 30.0;
constexpr double kMaxHeartRate = 200.0;
constexpr double kMinPressure = 20.0;
constexpr double kMaxPressure = 280.0;
constexpr double kMinPulsePressure = 10.0;  // keeps systolic clearly above diastolic
constexpr uint32_t kMaxMarkerIntervalS = 3600;

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

template <typename Number>
bool ParseNumber(std::string_view text, Number min, Number max, Number& out) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || stop != end || !(value >= min && value <= max)) return false;
  out = value;
  return true;
}

bool ParseFlag(std::string_view text, bool& out) {
  if (text == "1" || text == "true" || text == "yes" || text == "on") {
    out = true;
    return true;
  }
  if (text == "0" || text == "false" || text == "no" || text == "off") {
    out = false;
    return true;
  }
  return false;
}

bool ParseText(std::string_view text, std::string& out) {
  if (text.empty() || text.size() > kMaxTextLength) return false;
  out = std::string(text);
  return true;
}

bool ParseInjectFrom(std::string_view text, InjectFrom& out) {
  if (text == "measure") {
    out = InjectFrom::kMeasureStart;
  } else if (text == "connect") {
    out = InjectFrom::kConnect;
  } else {
    return false;
  }
  return true;
}

// Returns false for a known key with a bad value; `known` tells the two apart.
bool ApplyEntry(std::string_view key, std::string_view value, SimSettings& s, bool& known) {
  known = true;
  if (key == "connect_result")
    return ParseNumber<int32_t>(value, 0, kLastResultCode, s.connect_result);
  if (key == "connect_result_after_first") {
    // Any code, negative ones included: a device may answer anything.
    int32_t result = 0;
    if (!ParseNumber<int32_t>(value, std::numeric_limits<int32_t>::min(),
                              std::numeric_limits<int32_t>::max(), result)) {
      return false;
    }
    s.connect_result_after_first = result;
    return true;
  }
  if (key == "serial") return ParseText(value, s.serial);
  if (key == "version") return ParseText(value, s.version);
  if (key == "hcu_status")
    return ParseNumber<int32_t>(value, kHcuNotConnected, kHcuZeroed, s.hcu_status);
  if (key == "zero_ms") return ParseNumber<uint32_t>(value, 0, kMaxDelayMs, s.zero_ms);
  if (key == "zero_fails") return ParseFlag(value, s.zero_fails);
  if (key == "cuff_switch_result") {
    return ParseNumber<int32_t>(value, 0, kLastResultCode, s.cuff_switch_result);
  }
  if (key == "stop_delay_ms") return ParseNumber<uint32_t>(value, 0, kMaxDelayMs, s.stop_delay_ms);
  if (key == "error_code") return ParseNumber<int32_t>(value, 0, kLastResultCode, s.error_code);
  if (key == "error_at_ms") return ParseNumber<uint32_t>(value, 0, kMaxDelayMs, s.error_at_ms);
  if (key == "warning_code") {
    return ParseNumber<int32_t>(value, 0, std::numeric_limits<int16_t>::max(), s.warning_code);
  }
  if (key == "warning_at_ms") return ParseNumber<uint32_t>(value, 0, kMaxDelayMs, s.warning_at_ms);
  if (key == "inject_from") return ParseInjectFrom(value, s.inject_from);
  if (key == "error_stops") return ParseFlag(value, s.error_stops);
  if (key == "heart_rate") return ParseNumber(value, kMinHeartRate, kMaxHeartRate, s.heart_rate);
  if (key == "systolic") return ParseNumber(value, kMinPressure, kMaxPressure, s.systolic);
  if (key == "diastolic") return ParseNumber(value, kMinPressure, kMaxPressure, s.diastolic);
  if (key == "seed") {
    return ParseNumber<uint64_t>(value, 0, std::numeric_limits<uint64_t>::max(), s.seed);
  }
  if (key == "markers")
    return ParseNumber<uint32_t>(value, 0, kMaxMarkerIntervalS, s.marker_interval_s);
  if (key == "pressure_drop_every") {
    return ParseNumber<uint32_t>(value, 0, std::numeric_limits<uint32_t>::max(),
                                 s.pressure_drop_every);
  }
  known = false;
  return false;
}

}  // namespace

ParsedSettings ParseSimSettings(std::string_view text) {
  ParsedSettings result;
  int line_number = 0;
  while (!text.empty()) {
    const size_t end_of_line = text.find('\n');
    std::string_view line = text.substr(0, end_of_line);
    text =
        end_of_line == std::string_view::npos ? std::string_view{} : text.substr(end_of_line + 1);
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
    if (ApplyEntry(key, value, result.settings, known)) continue;
    if (known) {
      result.problems.push_back(where + "bad value '" + value + "' for " + key + " ignored");
    } else {
      result.problems.push_back(where + "unknown key '" + key + "' ignored");
    }
  }

  SimSettings& s = result.settings;
  if (s.systolic < s.diastolic + kMinPulsePressure) {
    const SimSettings defaults;
    s.systolic = defaults.systolic;
    s.diastolic = defaults.diastolic;
    result.problems.push_back("systolic must exceed diastolic by at least 10 mmHg, both reset");
  }
  return result;
}

SettingsFileWatcher::SettingsFileWatcher(std::filesystem::path path) : path_(std::move(path)) {}

std::optional<ParsedSettings> SettingsFileWatcher::PollForChange() {
  std::error_code error;
  const std::filesystem::file_time_type mtime = std::filesystem::last_write_time(path_, error);
  const std::uintmax_t size = error ? 0 : std::filesystem::file_size(path_, error);
  if (error) {
    // A missing file keeps what was loaded last; its return counts as a change.
    loaded_ = false;
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
  return ParseSimSettings(content.str());
}

}  // namespace corvane::sim
