// Settings of the simulated Controller: what a tester can make the device do,
// read from a small `key = value` text file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/dms_records.h"

namespace corvane::sim {

// The moment an injected error or warning is timed from.
enum class InjectFrom { kMeasureStart, kConnect };

// The defaults describe a healthy device whose height correction unit is
// connected but not yet zeroed.
struct SimSettings {
  int32_t connect_result = dmsError_NoError;
  // Result of every connect after the first of a session (a session starts
  // when the library loads and again at each disconnect); unset: connect_result.
  std::optional<int32_t> connect_result_after_first;
  std::string serial = "CV1234567";
  std::string version = "Sim 1.0.0";
  int32_t hcu_status = kHcuNotZeroed;
  uint32_t zero_ms = 3000;
  bool zero_fails = false;
  int32_t cuff_switch_result = dmsError_NoError;  // non-zero: cuff switching fails with it
  uint32_t stop_delay_ms = 0;
  int32_t error_code = dmsError_NoError;  // 0: no error is injected
  uint32_t error_at_ms = 0;
  int32_t warning_code = 0;  // 0: no warning is injected
  uint32_t warning_at_ms = 0;
  InjectFrom inject_from = InjectFrom::kMeasureStart;
  bool error_stops = true;  // an injected error ends sample production, as on the device
  double heart_rate = 70.0;
  double systolic = 122.0;
  double diastolic = 75.0;
  uint64_t seed = 1;
  uint32_t marker_interval_s = 0;    // 0: no markers
  uint32_t pressure_drop_every = 0;  // every n-th pressure record is lost; 0: none

  bool operator==(const SimSettings&) const = default;
};

struct ParsedSettings {
  SimSettings settings;
  std::vector<std::string> problems;  // one line per ignored entry; the rest still applies
};

// Lines are `key = value`; `#` starts a comment. A bad line never fails the
// whole file: its key keeps the default and a problem is recorded.
ParsedSettings ParseSimSettings(std::string_view text);

// Notices when the settings file is created, edited or replaced, judged by
// modification time and size so that a poll costs two metadata reads.
class SettingsFileWatcher {
 public:
  explicit SettingsFileWatcher(std::filesystem::path path);

  // The freshly parsed file if it changed since the last poll (the first poll
  // of an existing file counts as a change), otherwise nothing.
  std::optional<ParsedSettings> PollForChange();

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool loaded_ = false;
  std::filesystem::file_time_type mtime_{};
  std::uintmax_t size_ = 0;
};

}  // namespace corvane::sim
