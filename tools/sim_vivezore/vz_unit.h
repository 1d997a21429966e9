// The wrist unit's behaviour behind the cable: commands in, replies and the
// unasked data, beat and status frames out. Knows nothing of the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vz_frame.h"
#include "vz_settings.h"
#include "vz_wave.h"

namespace corvane::vzsim {

using Clock = std::chrono::steady_clock;

// Modes as the 'm' reply carries them in its upper nibble.
inline constexpr uint8_t kModeIdle = 1;
inline constexpr uint8_t kModeMeasuring = 3;
inline constexpr uint8_t kModeTest = 4;
inline constexpr uint8_t kModeBootloader = 7;

// Error numbers of the unit's Nack replies.
inline constexpr uint8_t kErrPacketOrder = 1;
inline constexpr uint8_t kErrBadParameter = 2;
inline constexpr uint8_t kErrWrongMode = 3;
inline constexpr uint8_t kErrUnknownCommand = 4;
inline constexpr uint8_t kErrBusy = 5;

inline constexpr size_t kBlockSize = 128;

// What the firmware update left behind, for the image file.
struct ReceivedImage {
  std::vector<uint8_t> data;  // declared length bytes
  uint32_t declared_length = 0;
  uint8_t checksum = 0;
  std::string refusal;  // why the unit did not start it; empty when it did
};

class Unit {
 public:
  Unit(const Settings& settings, Clock::time_point now);

  // A changed settings file; faults armed by a change are re-armed.
  void ApplySettings(const Settings& settings, Clock::time_point now);

  void OnFrame(const Frame& frame, Clock::time_point now);
  // Produces every sample due by `now` and runs the timers.
  void Tick(Clock::time_point now);

  // Bytes for the line, in order, since the last call.
  std::vector<uint8_t> TakeOutput();
  // When Tick next has something to do.
  Clock::time_point NextDue() const;

  // A completed transfer, once.
  std::optional<ReceivedImage> TakeImage();

  uint8_t mode() const { return mode_; }

 private:
  void Reply(uint8_t letter, std::vector<uint8_t> payload = {});
  void Nack(uint8_t letter, std::vector<uint8_t> payload);
  void Handle(uint8_t letter, const std::vector<uint8_t>& p, Clock::time_point now);
  void HandleE(uint8_t sub, Clock::time_point now);
  void HandleBootloader(uint8_t letter, const std::vector<uint8_t>& p, Clock::time_point now);
  std::vector<uint8_t> VersionFrame(uint8_t selector) const;
  std::vector<uint8_t> StatusPayload() const;
  uint8_t ModeByte() const;
  void ProduceSample();
  void Stream(uint8_t letter, const std::vector<uint8_t>& payload);
  void Restart();
  bool Streaming() const;
  WaveParams Params() const;

  Settings settings_;
  Wave wave_;
  Clock::time_point grid_start_;
  uint64_t samples_ = 0;  // produced since grid_start_
  uint16_t counter_ = 0;
  uint16_t first_counter_ = 0;  // counter of the wave's first sample
  std::vector<uint8_t> out_;

  uint8_t mode_ = kModeIdle;
  uint8_t cuff_ = 1;
  uint8_t physiocal_ = 1;
  uint8_t error_ = 0;
  uint8_t hcu_ = 1;
  std::optional<Clock::time_point> zeroing_until_;
  Clock::time_point last_rx_;

  // Test mode: type 0 while no pressure test runs.
  uint8_t test_type_ = 0;
  uint32_t test_pressure_ = 0;
  uint32_t test_period_ms_ = 0;
  uint64_t test_start_sample_ = 0;

  // Firmware update.
  Version firmware_;
  bool update_armed_ = false;
  std::optional<Clock::time_point> entering_until_;  // busy on the way into the bootloader
  std::optional<Clock::time_point> erase_until_;
  bool erase_pending_ = false;
  uint8_t erase_state_ = 0;
  uint16_t expected_block_ = 0;
  bool order_error_done_ = false;
  ReceivedImage image_;
  std::optional<ReceivedImage> finished_image_;
  std::optional<Clock::time_point> restart_until_;
  bool restarting_ = false;

  // Counters behind the every-n-th faults.
  uint64_t data_frames_ = 0;
  uint64_t streamed_frames_ = 0;
  std::mt19937 garbage_rng_{12345};
};

}  // namespace corvane::vzsim
