// Settings of the simulated wrist unit, read from a `key = value` text file
// that may change while the unit runs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::vzsim {

// major.minor.patch.revision, as the version records carry it.
struct Version {
  uint8_t major = 0;
  uint8_t minor = 0;
  uint16_t patch = 0;
  uint16_t revision = 0;
  bool operator==(const Version&) const = default;
};

std::optional<Version> ParseVersion(std::string_view text);
std::string FormatVersion(const Version& v);

struct Settings {
  // Identity.
  std::string serial = "VZ0012345";
  uint16_t hardware_id = 0x0101;
  Version firmware{2, 1, 0, 100};
  std::optional<Version> firmware_after_update;  // unset: the firmware with its patch one higher
  Version bootloader{1, 0, 2, 7};
  uint8_t protocol = 3;
  bool start_in_bootloader = false;
  char firmware_record = 'N';  // structure letter of the reply to the firmware version request

  // Physiology and streaming.
  double heart_rate = 70.0;
  double systolic = 120.0;
  double diastolic = 78.0;
  double height = 5.0;  // height-correction pressure, mmHg
  uint64_t seed = 1;
  bool stream_idle = true;     // data frames (cuff deflated) while not measuring
  uint16_t first_counter = 0;  // sample counter at start-up

  // Timings, ms.
  uint32_t watchdog_ms = 3000;  // 0: no device-side watchdog
  uint8_t watchdog_error = 0x1B;
  uint32_t zero_ms = 1500;
  uint8_t hcu = 1;  // 0 none, 1 not zeroed, 2 zeroed
  uint32_t bootloader_entry_ms = 400;
  uint32_t erase_ms = 1200;
  uint8_t erase_state = 1;  // 1 or 2 once the erase is done
  uint32_t restart_ms = 1500;

  // Fault injection; 0 (or empty) is off.
  uint32_t garbage_every = 0;  // garbage bytes before every n-th streamed frame
  uint32_t garbage_bytes = 7;
  uint32_t bad_crc_every = 0;      // every n-th data frame with a wrong checksum
  uint32_t drop_every = 0;         // every n-th data frame not sent (counter gap)
  uint32_t duplicate_every = 0;    // every n-th data frame sent twice
  uint32_t silence_ms = 0;         // the unit says nothing for this long ...
  uint32_t silence_after_ms = 0;   // ... starting this long after the setting is read
  uint32_t hangup_ms = 0;          // the line is gone this long (a new pseudo-terminal) ...
  uint32_t hangup_after_ms = 0;    // ... starting this long after the setting is read
  char nack_letter = 0;            // commands of this letter are refused ...
  uint8_t nack_error = 9;          // ... with this error number
  char ignore_letter = 0;          // commands of this letter get no reply
  uint8_t device_error = 0;        // status error, appears when set (cleared by 'e' 6 below 0x80)
  uint32_t device_warning = 0;     // status warning bits, while set
  int32_t order_error_block = -1;  // this block is refused once with a packet-order error
  bool no_bootloader = false;
  bool erase_hangs = false;
  bool restart_hangs = false;
  bool accept_any_image = false;  // restart after any transfer, as a bootloader that checks nothing

  bool operator==(const Settings&) const = default;
};

struct ParsedSettings {
  Settings settings;
  std::vector<std::string> problems;  // one line per ignored entry; the rest still applies
};

// `#` starts a comment; bad lines keep the default and record a problem.
ParsedSettings ParseSettings(std::string_view text);

// Notices a new, edited or replaced settings file by modification time and size.
class SettingsWatcher {
 public:
  explicit SettingsWatcher(std::filesystem::path path) : path_(std::move(path)) {}
  std::optional<ParsedSettings> PollForChange();

 private:
  std::filesystem::path path_;
  bool loaded_ = false;
  std::filesystem::file_time_type mtime_{};
  std::uintmax_t size_ = 0;
};

}  // namespace corvane::vzsim
