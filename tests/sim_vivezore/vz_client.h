// A small host for the simulated wrist unit: opens its tty, sends frames and
// collects what comes back. Written apart from the simulator's own codec, so
// that the two check each other.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vzclient {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

inline uint8_t Crc(const Bytes& bytes, size_t from, size_t to) {
  uint8_t crc = 0;
  for (size_t i = from; i < to; ++i) {
    uint8_t b = bytes[i];
    for (int k = 0; k < 8; ++k) {
      const uint8_t mix = (crc ^ b) & 1;
      crc = static_cast<uint8_t>((crc >> 1) ^ (mix ? 0x8C : 0));
      b = static_cast<uint8_t>(b >> 1);
    }
  }
  return crc;
}

inline Bytes Frame(char letter, const Bytes& payload = {}) {
  const auto length = static_cast<uint8_t>(payload.size() + 1);
  Bytes f{0xD4, length, length, 0xD4, static_cast<uint8_t>(letter)};
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(Crc(f, 4, f.size()));
  return f;
}

struct Received {
  uint8_t type = 0;
  Bytes payload;
  Clock::time_point at;
  char letter() const { return static_cast<char>(type & 0x7F); }
  bool nack() const { return (type & 0x80) != 0; }
  uint16_t u16(size_t at_offset) const {
    return static_cast<uint16_t>(payload[at_offset] | payload[at_offset + 1] << 8);
  }
};

class Client {
 public:
  explicit Client(const std::string& path) { Open(path); }
  // Takes over an open descriptor, e.g. one end of a terminal pair.
  static Client Adopt(int fd) { return Client(fd, 0); }
  Client(Client&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Open(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return false;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
    ::tcflush(fd_, TCIFLUSH);
    raw_.clear();
    return true;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  void Send(char letter, const Bytes& payload = {}) { SendRaw(Frame(letter, payload)); }
  void SendRaw(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
    }
  }

  // Everything that arrives within `ms`.
  std::vector<Received> Collect(int ms) {
    std::vector<Received> frames;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) ReadSome(end, frames);
    return frames;
  }

  // The first frame of `letter` (reply or Nack) within `ms`; type 0 if none.
  // Frames of other letters are kept in `others`.
  // Input that arrived before the request is dropped first, so an unasked
  // frame of the same letter from long ago is not taken for the reply.
  Received Request(char letter, const Bytes& payload = {}, int ms = 300) {
    ::tcflush(fd_, TCIFLUSH);
    raw_.clear();
    Send(letter, payload);
    return WaitFor(letter, ms);
  }
  Received WaitFor(char letter, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::vector<Received> frames;
    while (Clock::now() < end) {
      ReadSome(end, frames);
      for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].letter() == letter) {
          Received hit = frames[i];
          others.insert(others.end(), frames.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        frames.end());
          return hit;
        }
        others.push_back(frames[i]);
      }
      frames.clear();
    }
    return {};
  }

  std::vector<Received> others;
  size_t skipped = 0;     // bytes that were not part of a valid frame
  size_t bad_frames = 0;  // well-formed headers whose checksum failed
  size_t bytes_read = 0;

 private:
  Client(int fd, int) : fd_(fd) {}
  void ReadSome(Clock::time_point end, std::vector<Received>& frames) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<int64_t>(1, left.count()))) <= 0) return;
    uint8_t buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) return;
    const auto now = Clock::now();
    bytes_read += static_cast<size_t>(n);
    raw_.insert(raw_.end(), buffer, buffer + n);
    size_t i = 0;
    while (raw_.size() - i >= 6) {
      const uint8_t len = raw_[i + 1];
      if (raw_[i] != 0xD4 || len == 0 || raw_[i + 2] != len || raw_[i + 3] != 0xD4) {
        ++i;
        ++skipped;
        continue;
      }
      if (raw_.size() - i < size_t{len} + 5) break;
      if (Crc(raw_, i + 4, i + 4 + len) != raw_[i + 4 + len]) {
        ++bad_frames;
        ++i;
        ++skipped;
        continue;
      }
      Received r;
      r.type = raw_[i + 4];
      r.payload.assign(raw_.begin() + static_cast<std::ptrdiff_t>(i) + 5,
                       raw_.begin() + static_cast<std::ptrdiff_t>(i) + 4 + len);
      r.at = now;
      frames.push_back(std::move(r));
      i += size_t{len} + 5;
    }
    raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(i));
  }

  int fd_ = -1;
  Bytes raw_;
};

}  // namespace vzclient
