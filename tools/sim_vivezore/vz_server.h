// The cable end of the simulated unit: a pseudo-terminal (or an existing
// tty), paced writing at the line rate, the received-frame log, the settings
// file and the image file, around one Unit.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "vz_frame.h"
#include "vz_settings.h"
#include "vz_unit.h"

namespace corvane::vzsim {

struct Options {
  std::filesystem::path link;       // symlink kept pointing at the pseudo-terminal
  std::filesystem::path port;       // serve this tty instead of a pseudo-terminal
  std::filesystem::path settings;   // settings file, re-read when it changes
  std::filesystem::path log;        // received frames, one line each
  std::filesystem::path image_out;  // image of a completed firmware update
  std::filesystem::path send_log;   // when each 'd' frame's last byte was written
  bool pace = true;                 // 11520 bytes a second, as 115200 baud 8N1
  bool flood = false;               // the unit's time runs ahead so the line is never idle
  bool quiet = false;               // no progress lines on stderr
  bool print_path = true;           // each new tty path on a line of its own on stdout
};

// 115200 baud, 10 bits a byte.
inline constexpr int kBytesPerSecond = 11520;

// One open file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  int release();
  void reset();
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class Server {
 public:
  explicit Server(Options options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the line; false (with a message on stderr) if it cannot.
  bool Open();
  // The tty the host opens: the pseudo-terminal's slave or the served port.
  const std::string& device_path() const { return device_path_; }
  // Serves until `stop` is set.
  void Run(const std::atomic<bool>& stop);

 private:
  bool OpenLine();
  void CloseLine();
  void EndExclusiveUse();
  void PollSettings(Clock::time_point now);
  void ReadLine(Clock::time_point now);
  void WriteLine(Clock::time_point now);
  void LogFrame(const Frame& frame, Clock::time_point now);
  void LogSent(std::span<const uint8_t> bytes);
  void Flood(Clock::time_point now);
  void SaveImage(const ReceivedImage& image);
  void Say(const std::string& text) const;

  Options options_;
  Fd line_;
  bool host_present_ = true;  // false while no host has the tty open
  std::string device_path_;
  std::optional<SettingsWatcher> watcher_;
  Settings settings_;
  std::unique_ptr<Unit> unit_;
  FrameScanner scanner_;
  std::deque<uint8_t> pending_;
  Clock::time_point line_free_;  // when the paced line has sent all it was given
  Clock::time_point started_;
  Clock::time_point next_settings_poll_;
  std::FILE* log_ = nullptr;
  std::FILE* send_log_ = nullptr;
  FrameScanner sent_;  // the bytes written, for the send log
  // How far the unit's clock is ahead of the real one (flooding only).
  Clock::duration unit_ahead_{};
  // Line faults, armed when their settings change.
  std::optional<Clock::time_point> silence_from_, silence_until_;
  std::optional<Clock::time_point> hangup_from_, hangup_until_;
};

}  // namespace corvane::vzsim
