#include "vz_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <system_error>
#include <vector>

namespace corvane::vzsim {
namespace {

using std::chrono::nanoseconds;

constexpr auto kSettingsPollPeriod = std::chrono::milliseconds(100);
constexpr auto kLongestSleep = std::chrono::milliseconds(20);
// A UART's transmit FIFO: the paced line may run this far ahead of real time.
constexpr auto kFifoTime = std::chrono::milliseconds(2);
constexpr auto kMostOverdue = std::chrono::milliseconds(50);
constexpr nanoseconds kByteTime{1'000'000'000 / kBytesPerSecond};
// A host that leaves this much unread has gone; its backlog is thrown away.
constexpr size_t kBacklogLimit = 65536;

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string Hex(uint8_t byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[byte >> 4], kDigits[byte & 15]};
}

bool InWindow(const std::optional<Clock::time_point>& from,
              const std::optional<Clock::time_point>& until, Clock::time_point now) {
  return from && until && now >= *from && now < *until;
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

int Fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Server::Server(Options options) : options_(std::move(options)) {}

Server::~Server() {
  CloseLine();
  if (log_ != nullptr) std::fclose(log_);
  if (send_log_ != nullptr) std::fclose(send_log_);
}

void Server::Say(const std::string& text) const {
  if (!options_.quiet) std::cerr << "sim-vivezore: " << text << std::endl;
}

bool Server::Open() {
  const Clock::time_point now = Clock::now();
  started_ = now;
  if (!options_.settings.empty()) {
    watcher_.emplace(options_.settings);
    if (std::optional<ParsedSettings> parsed = watcher_->PollForChange()) {
      for (const std::string& problem : parsed->problems)
        Say(options_.settings.string() + ": " + problem);
      settings_ = parsed->settings;
    }
  }
  next_settings_poll_ = now + kSettingsPollPeriod;
  unit_ = std::make_unique<Unit>(settings_, now);
  // Line faults in the first file are armed as if they had just been set.
  const Settings& initial = settings_;
  if (initial.silence_ms != 0) {
    silence_from_ = now + std::chrono::milliseconds(initial.silence_after_ms);
    silence_until_ = *silence_from_ + std::chrono::milliseconds(initial.silence_ms);
  }
  if (initial.hangup_ms != 0) {
    hangup_from_ = now + std::chrono::milliseconds(initial.hangup_after_ms);
    hangup_until_ = *hangup_from_ + std::chrono::milliseconds(initial.hangup_ms);
  }
  if (!options_.log.empty()) {
    log_ = std::fopen(options_.log.c_str(), "w");
    if (log_ == nullptr) {
      Say("cannot write the log " + options_.log.string() + ": " + std::strerror(errno));
      return false;
    }
  }
  if (!options_.send_log.empty()) {
    send_log_ = std::fopen(options_.send_log.c_str(), "w");
    if (send_log_ == nullptr) {
      Say("cannot write the send log " + options_.send_log.string() + ": " + std::strerror(errno));
      return false;
    }
  }
  return OpenLine();
}

bool Server::OpenLine() {
  if (!options_.port.empty()) {
    Fd fd(::open(options_.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!fd || !MakeRaw(fd.get())) {
      Say("cannot serve " + options_.port.string() + ": " + std::strerror(errno));
      return false;
    }
    line_ = std::move(fd);
    device_path_ = options_.port.string();
  } else {
    Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    char name[128] = {};
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), name, sizeof name) != 0) {
      Say(std::string("cannot make a pseudo-terminal: ") + std::strerror(errno));
      return false;
    }
    Fd slave(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!slave || !MakeRaw(slave.get())) {
      Say(std::string("cannot set up ") + name + ": " + std::strerror(errno));
      return false;
    }
    // The slave is closed again: a host's last close then ends its exclusive
    // use of the tty, so the next host (or the same one reconnecting) can open it.
    line_ = std::move(master);
    device_path_ = name;
    if (!options_.link.empty()) {
      // Replaced in one step, so a host never finds the link missing or half made.
      const std::string temp = options_.link.string() + ".new";
      ::unlink(temp.c_str());
      if (::symlink(name, temp.c_str()) != 0 ||
          ::rename(temp.c_str(), options_.link.c_str()) != 0) {
        Say("cannot link " + options_.link.string() + ": " + std::strerror(errno));
        ::unlink(temp.c_str());
        return false;
      }
    }
  }
  scanner_ = FrameScanner{};
  pending_.clear();
  host_present_ = !options_.port.empty();  // a pseudo-terminal waits for its host
  line_free_ = Clock::now();
  if (options_.print_path) std::cout << device_path_ << std::endl;
  return true;
}

void Server::CloseLine() {
  line_.reset();
  pending_.clear();
  if (!options_.link.empty() && options_.port.empty()) {
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(options_.link, error))) {
      std::filesystem::remove(options_.link, error);
    }
  }
}

void Server::EndExclusiveUse() {
  if (!options_.port.empty()) return;
  // A host that took the tty for itself leaves that mark on it after closing,
  // for as long as the pseudo-terminal lives, and its next open would fail.
  Fd probe(::open(device_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  if (probe) {
    int exclusive = 0;
    if (::ioctl(probe.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
      ::ioctl(probe.get(), TIOCNXCL);
    }
    return;
  }
  if (errno != EBUSY) return;
  // Not ours to clear: a new pseudo-terminal takes its place behind the link.
  Say("the tty was left for exclusive use; making a new one");
  line_.reset();
  if (!OpenLine()) Say("could not make a new pseudo-terminal");
}

void Server::PollSettings(Clock::time_point now) {
  next_settings_poll_ = now + kSettingsPollPeriod;
  // A reader of the send log that runs beside the unit sees it at most one
  // settings period behind.
  if (send_log_ != nullptr) std::fflush(send_log_);
  if (!watcher_) return;
  std::optional<ParsedSettings> parsed = watcher_->PollForChange();
  if (!parsed) return;
  for (const std::string& problem : parsed->problems)
    Say(options_.settings.string() + ": " + problem);
  const Settings old = settings_;
  settings_ = parsed->settings;
  unit_->ApplySettings(settings_, now + unit_ahead_);
  Say("settings read");
  if (settings_.silence_ms != old.silence_ms ||
      settings_.silence_after_ms != old.silence_after_ms) {
    silence_from_.reset();
    silence_until_.reset();
    if (settings_.silence_ms != 0) {
      silence_from_ = now + std::chrono::milliseconds(settings_.silence_after_ms);
      silence_until_ = *silence_from_ + std::chrono::milliseconds(settings_.silence_ms);
    }
  }
  if (settings_.hangup_ms != old.hangup_ms || settings_.hangup_after_ms != old.hangup_after_ms) {
    hangup_from_.reset();
    if (settings_.hangup_ms != 0) {
      hangup_from_ = now + std::chrono::milliseconds(settings_.hangup_after_ms);
      hangup_until_ = *hangup_from_ + std::chrono::milliseconds(settings_.hangup_ms);
    }
  }
}

void Server::LogFrame(const Frame& frame, Clock::time_point now) {
  if (log_ == nullptr) return;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const auto letter = static_cast<char>(frame.type & 0x7F);
  std::string line = (frame.type & kNackBit) != 0 ? "!" : "";
  line += (letter >= '!' && letter <= '~') ? std::string(1, letter) : "0x" + Hex(frame.type);
  for (const uint8_t byte : frame.payload) line += " " + Hex(byte);
  std::fprintf(log_, "%.3f %s\n", seconds, line.c_str());
  std::fflush(log_);
}

void Server::LogSent(std::span<const uint8_t> bytes) {
  if (send_log_ == nullptr) return;
  const auto written = std::chrono::duration_cast<nanoseconds>(Clock::now().time_since_epoch());
  sent_.Push(bytes);
  while (std::optional<Frame> frame = sent_.Next()) {
    if (frame->type != 'd' || frame->payload.size() < 4) continue;
    const auto& p = frame->payload;
    std::fprintf(send_log_, "%lld %u %u\n", static_cast<long long>(written.count()),
                 static_cast<unsigned>(p[0] | p[1] << 8), static_cast<unsigned>(p[2] | p[3] << 8));
  }
}

void Server::Flood(Clock::time_point now) {
  // Fewer than three data frames left to send (more than the FIFO takes, so
  // the paced writer always has a next wake-up): the unit's clock jumps to its
  // next sample. A few rounds at most, as the next due event may send nothing.
  constexpr size_t kLowWater = 3 * 15;
  for (int round = 0; round < 8 && pending_.size() < kLowWater; ++round) {
    const Clock::time_point due = unit_->NextDue();
    if (due > now + unit_ahead_) unit_ahead_ = due - now;
    unit_->Tick(now + unit_ahead_);
    std::vector<uint8_t> out = unit_->TakeOutput();
    pending_.insert(pending_.end(), out.begin(), out.end());
  }
}

void Server::ReadLine(Clock::time_point now) {
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ::read(line_.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    scanner_.Push(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
  }
  while (std::optional<Frame> frame = scanner_.Next()) {
    LogFrame(*frame, now);
    unit_->OnFrame(*frame, now + unit_ahead_);
  }
}

void Server::WriteLine(Clock::time_point now) {
  while (!pending_.empty()) {
    size_t allowed = pending_.size();
    if (options_.pace) {
      // Late wake-ups are made up by sending the overdue bytes together, as a
      // UART would have sent them meanwhile; only so much, though.
      if (line_free_ < now - kMostOverdue) line_free_ = now - kMostOverdue;
      const auto ahead = now + kFifoTime - line_free_;
      if (ahead <= nanoseconds::zero()) return;
      allowed = std::min(allowed, static_cast<size_t>(ahead / kByteTime) + 1);
    }
    std::vector<uint8_t> chunk(pending_.begin(),
                               pending_.begin() + static_cast<std::ptrdiff_t>(allowed));
    const ssize_t n = ::write(line_.get(), chunk.data(), chunk.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && pending_.size() > kBacklogLimit) {
        // Nobody reads: what the unit sent is lost, as on a real cable.
        pending_.clear();
      }
      return;
    }
    LogSent(std::span<const uint8_t>(chunk.data(), static_cast<size_t>(n)));
    pending_.erase(pending_.begin(), pending_.begin() + n);
    line_free_ += kByteTime * n;
    if (!options_.pace) continue;
  }
}

void Server::SaveImage(const ReceivedImage& image) {
  if (!image.refusal.empty()) {
    Say("firmware image refused (" + image.refusal + "): staying in the bootloader");
    if (log_ != nullptr) {
      const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
      std::fprintf(log_, "%.3f # image refused: %s\n", seconds, image.refusal.c_str());
      std::fflush(log_);
    }
    return;
  }
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "0x%02x", image.checksum);
  Say("firmware image received: " + std::to_string(image.declared_length) + " bytes, checksum " +
      checksum);
  if (log_ != nullptr) {
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    std::fprintf(log_, "%.3f # image length %u checksum %s\n", seconds, image.declared_length,
                 checksum);
    std::fflush(log_);
  }
  if (options_.image_out.empty()) return;
  std::ofstream file(options_.image_out, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.data.data()),
             static_cast<std::streamsize>(image.data.size()));
  std::ofstream info(options_.image_out.string() + ".info", std::ios::trunc);
  info << "declared_length = " << image.declared_length << "\nchecksum = " << checksum << "\n";
  if (!file || !info) Say("cannot write " + options_.image_out.string());
}

void Server::Run(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    Clock::time_point now = Clock::now();
    if (now >= next_settings_poll_) PollSettings(now);
    if (hangup_from_ && now >= *hangup_from_) {
      hangup_from_.reset();
      Say("hanging up");
      CloseLine();
    }
    if (!line_ && hangup_until_ && now >= *hangup_until_) {
      hangup_until_.reset();
      if (!OpenLine()) Say("could not re-open the line");
    }
    const bool connected = line_ && host_present_;
    if (connected) ReadLine(now);
    unit_->Tick(now + unit_ahead_);
    std::vector<uint8_t> out = unit_->TakeOutput();
    // With nobody at the other end what the unit sends is lost, as on a cable.
    if (connected && !InWindow(silence_from_, silence_until_, now)) {
      if (pending_.empty() && line_free_ < now) line_free_ = now;  // the line was idle
      pending_.insert(pending_.end(), out.begin(), out.end());
      if (options_.flood) Flood(now);
    }
    if (std::optional<ReceivedImage> image = unit_->TakeImage()) SaveImage(*image);
    if (connected) WriteLine(now);

    Clock::time_point wake =
        std::min({unit_->NextDue() - unit_ahead_, next_settings_poll_, now + kLongestSleep});
    if (!pending_.empty() && options_.pace)
      wake = std::min(wake, line_free_ - kFifoTime + kByteTime);
    now = Clock::now();
    const nanoseconds wait = std::max(nanoseconds::zero(), wake - now);
    const timespec ts{0, static_cast<long>(wait.count())};
    pollfd fd{line_ ? line_.get() : -1, POLLIN, 0};
    if (host_present_) {
      ::ppoll(&fd, 1, &ts, nullptr);
    } else {
      // A pseudo-terminal without a host reports a hang-up at once: sleep
      // instead, then look again.
      ::ppoll(nullptr, 0, &ts, nullptr);
      ::poll(&fd, 1, 0);
    }
    const bool was_present = host_present_;
    host_present_ = (fd.revents & POLLHUP) == 0;
    if (host_present_ && !was_present) line_free_ = Clock::now();
    if (!host_present_) pending_.clear();
    if (was_present && !host_present_) EndExclusiveUse();
  }
}

}  // namespace corvane::vzsim
