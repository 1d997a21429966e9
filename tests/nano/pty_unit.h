// A pseudo-terminal pair on which a test plays the wrist unit byte for byte:
// the driver opens the slave by path; a thread on the master side records
// every request frame and answers it as the scripted unit below does.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "nano/link_clock.h"
#include "nano/nano_message.h"

namespace corvane::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes Frame(uint8_t type, const Bytes& payload = {}) {
  const NanoMessage m(type, payload);
  return Bytes(m.Frame(), m.Frame() + m.FrameSize());
}

// Real time slowed down three times, except that the link's long pauses (the
// HCU zeroing's 500 ms) and Advance cost nothing: a reply time-out lasts 300
// ms of real time, so that a busy machine that starves the unit's thread for
// a while does not turn a slow answer into a lost one.
class FastClock final : public LinkClock {
 public:
  int64_t NowMs() const override {
    const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return real.count() / kSlowDown + mOffset.load();
  }
  void SleepMs(uint32_t ms) const override {
    if (ms > kRealPauseMs) {
      mOffset += ms;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  }
  void Advance(int64_t ms) { mOffset += ms; }

 private:
  static constexpr uint32_t kRealPauseMs = 5;
  static constexpr int64_t kSlowDown = 3;
  mutable std::atomic<int64_t> mOffset{0};
};

// The scripted unit: answers every command as a well-behaved unit in mode
// `mode` does, unless told to ignore or refuse a letter.
class PtyUnit {
 public:
  PtyUnit() {
    char name[256] = {};
    if (openpty(&mMaster, &mSlave, name, nullptr, nullptr) != 0) return;
    const int slave = mSlave;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    // The driver opens the slave by name. This end stays open all along: a
    // terminal whose slave side is closed hangs up and may drop bytes.
    fcntl(mMaster, F_SETFL, fcntl(mMaster, F_GETFL) | O_NONBLOCK);
    mPath = name;
    mThread = std::thread([this] { Serve(); });
  }
  ~PtyUnit() {
    mStop = true;
    if (mThread.joinable()) mThread.join();
    if (mMaster >= 0) close(mMaster);
    if (mSlave >= 0) close(mSlave);
  }

  const std::string& Path() const { return mPath; }

  // Writes unsolicited frames: what the line takes now, the rest from the
  // unit's thread as the driver reads, so that a test may send more than the
  // terminal buffers before it lets the driver poll.
  void Send(const Bytes& bytes) {
    std::lock_guard lock(mWriteMutex);
    mOut.insert(mOut.end(), bytes.begin(), bytes.end());
    Flush();
  }
  // Requests received so far, each as letter and payload in hex ("v0a", "s").
  std::vector<std::string> Requests() {
    std::lock_guard lock(mMutex);
    return mRequests;
  }
  void ClearRequests() {
    std::lock_guard lock(mMutex);
    mRequests.clear();
  }
  void SetMode(uint8_t mode) { mMode = mode; }
  void SetError(uint8_t error) { mError = error; }
  void SetWarning(uint32_t warning) { mWarning = warning; }
  void Ignore(char letter) {
    std::lock_guard lock(mMutex);
    mIgnored.insert(letter);
  }
  // Replies to `letter` with a Nack of `nackLetter` carrying `error`.
  void Refuse(char letter, char nackLetter, uint8_t error) {
    std::lock_guard lock(mMutex);
    mRefused = letter;
    mNackLetter = nackLetter;
    mNackError = error;
  }
  // Frames sent just before the reply to `letter`.
  void Before(char letter, const Bytes& frames) {
    std::lock_guard lock(mMutex);
    mBeforeLetter = letter;
    mBefore = frames;
  }
  // Answers 's' with this frame from now on.
  void SetStatusFrame(const Bytes& frame) {
    std::lock_guard lock(mMutex);
    mStatusOverride = frame;
  }
  // The status frame the unit would send now.
  Bytes StatusFrame() const {
    const uint32_t w = mWarning;
    return Frame('s',
                 {0, 0, static_cast<uint8_t>(mMode << 4), mError.load(), static_cast<uint8_t>(w),
                  static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
                  static_cast<uint8_t>(w >> 24), 0x40, 2, 0x81, 180, 0, 0, 0});
  }

 private:
  // Called with mWriteMutex held.
  void Flush() {
    while (!mOut.empty()) {
      const ssize_t n = write(mMaster, mOut.data(), mOut.size());
      if (n <= 0) return;
      mOut.erase(mOut.begin(), mOut.begin() + n);
    }
  }

  void Serve() {
    Bytes pending;
    while (!mStop) {
      {
        std::lock_guard lock(mWriteMutex);
        Flush();
      }
      pollfd ready{mMaster, POLLIN, 0};
      if (poll(&ready, 1, 1) <= 0) continue;
      uint8_t chunk[512];
      const ssize_t n = read(mMaster, chunk, sizeof chunk);
      if (n <= 0) continue;
      pending.insert(pending.end(), chunk, chunk + n);
      // Requests from the driver are always whole, well-formed frames.
      while (pending.size() >= 6 && pending.size() >= pending[1] + 5u) {
        const size_t size = pending[1] + 5u;
        Answer(Bytes(pending.begin() + 4, pending.begin() + static_cast<long>(size) - 1));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(size));
      }
    }
  }

  void Answer(const Bytes& body) {
    const char letter = static_cast<char>(body[0]);
    const Bytes payload(body.begin() + 1, body.end());
    std::string text(1, letter);
    for (uint8_t b : payload) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", b);
      text += hex;
    }
    Bytes reply;
    {
      std::lock_guard lock(mMutex);
      mRequests.push_back(text);
      if (mIgnored.count(letter) != 0) return;
      if (letter == mBeforeLetter) reply = mBefore;
      if (letter == mRefused) {
        reply = Frame(static_cast<uint8_t>(mNackLetter | 0x80), {mNackError});
        Send(reply);
        return;
      }
    }
    const uint8_t arg = payload.empty() ? 0 : payload[0];
    Bytes answer;
    switch (letter) {
      case 's': {
        std::lock_guard lock(mMutex);
        answer = mStatusOverride.empty() ? StatusFrame() : mStatusOverride;
        break;
      }
      case 'm':
        answer = Frame('m', {static_cast<uint8_t>(mMode << 4)});
        break;
      case 'v':
        answer = VersionFrame(arg);
        break;
      case 'e':
        if (arg == 1) mMode = 3;
        if (arg == 2 || arg == 4) mMode = 1;
        if (arg == 3) mMode = 4;
        if (arg == 6 && mError < 0x80) mError = 0;
        answer = Frame('e', {arg});
        break;
      default:
        answer = Frame(static_cast<uint8_t>(letter), payload.empty() ? Bytes{} : Bytes{arg});
        break;
    }
    reply.insert(reply.end(), answer.begin(), answer.end());
    Send(reply);
  }

  static Bytes VersionFrame(uint8_t selector) {
    Bytes payload = {selector, 0, 0, 0, 0, 0, 0, 0};
    Bytes record(selector == 0x0B ? 122 : 120, 0);
    if (selector == 0x0B) {
      payload.push_back('H');
      const std::string serial = "VZ0012345";
      std::copy(serial.begin(), serial.end(), record.begin() + 22);
    } else {
      payload.push_back(selector == 0x0A ? 'N' : 'B');
      const Bytes numbers = {0x01, 0x01, 2, 1, 0, 0, 100, 0, 3};
      std::copy(numbers.begin(), numbers.end(), record.begin());
    }
    payload.insert(payload.end(), record.begin(), record.end());
    return Frame('v', payload);
  }

  int mMaster = -1;
  int mSlave = -1;
  std::string mPath;
  std::thread mThread;
  std::atomic<bool> mStop{false};
  std::atomic<uint8_t> mMode{1};
  std::atomic<uint8_t> mError{0};
  std::atomic<uint32_t> mWarning{0};
  std::mutex mWriteMutex;
  Bytes mOut;  // written as the line takes it
  std::mutex mMutex;
  std::vector<std::string> mRequests;
  std::set<char> mIgnored;
  char mRefused = 0;
  char mNackLetter = 0;
  uint8_t mNackError = 0;
  char mBeforeLetter = 0;
  Bytes mBefore;
  Bytes mStatusOverride;
};

}  // namespace corvane::testing
