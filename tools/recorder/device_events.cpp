#include "device_events.h"

#include <charconv>
#include <optional>
#include <utility>

namespace corvane::recorder {
namespace {

constexpr std::string_view kSearch = "Nano Driver: Looking for Vive Zore on ";
constexpr std::string_view kSequenceError = "Data sample counter sequence error.";
constexpr std::string_view kReconnected = "Nano Driver port reconnected";
// The module's lines that end an update, and whether each is a failure.
constexpr struct {
  std::string_view text;
  bool failed;
} kUpdateEnds[] = {
    {"Image update complete and wrist unit rebooted", false},
    {"Wrist unit Reboot didn't complete successfully", true},
    {"failed to change to bootloader mode during patching", true},
    {"update abandoned", true},
    {"waits in its bootloader and no firmware image is installed", true},
};

std::optional<uint64_t> NumberAfter(std::string_view line, std::string_view marker) {
  const size_t at = line.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  const char* first = line.data() + at + marker.size();
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(first, line.data() + line.size(), value);
  if (error != std::errc() || end == first) return std::nullopt;
  return value;
}

// The text after the "!!! Nano Driver: " style prefix, for messages.
std::string_view AfterDriverName(std::string_view line) {
  for (const std::string_view name : {"Nano Driver: ", "Nano driver: "}) {
    const size_t at = line.find(name);
    if (at != std::string_view::npos) return line.substr(at + name.size());
  }
  return line;
}

// How far the counter stepped from the expected value, modulo 2^16;
// nothing when the line does not say.
std::optional<uint64_t> CounterStep(std::string_view line) {
  const auto expected = NumberAfter(line, "Expected ");
  const auto got = NumberAfter(line, "got ");
  if (!expected || !got || *expected > 0xFFFF || *got > 0xFFFF) return std::nullopt;
  return (*got + 0x10000 - *expected) & 0xFFFF;
}

// A step of half the counter's range or more is a step back.
constexpr uint64_t kBackwards = 0x8000;

}  // namespace

uint64_t LostFramesOf(std::string_view line) {
  const auto step = CounterStep(line);
  return step && *step < kBackwards ? *step : 0;
}

bool IsRepeatedFrame(std::string_view line) {
  const auto step = CounterStep(line);
  return step && *step >= kBackwards;
}

void DeviceEvents::Observe(std::string_view line) {
  std::lock_guard lock(mMutex);
  if (const size_t at = line.find(kSearch); at != std::string_view::npos) {
    mCounts.port = line.substr(at + kSearch.size());
    mCounts.updateOutcome.clear();
    mCounts.updateFailed = false;
    return;
  }
  if (line.find(kSequenceError) != std::string_view::npos) {
    if (std::exchange(mRestarted, false)) return;
    if (IsRepeatedFrame(line)) {
      ++mCounts.repeatedFrames;
      return;
    }
    const uint64_t lost = LostFramesOf(line);
    if (lost == 0) return;
    ++mCounts.sequenceErrors;
    mCounts.lostFrames += lost;
    const std::atomic<uint64_t>* rows = mRows.load();
    mCounts.gaps.push_back({rows != nullptr ? rows->load() : 0, lost});
    return;
  }
  if (line.find(kReconnected) != std::string_view::npos) {
    ++mCounts.reconnects;
    return;
  }
  for (const auto& end : kUpdateEnds) {
    if (line.find(end.text) == std::string_view::npos) continue;
    mCounts.updateOutcome = AfterDriverName(line);
    mCounts.updateFailed = end.failed;
    mRestarted = !end.failed;
    if (end.failed) {
      mCounts.failedUpdatePort = mCounts.port;
      mCounts.failedUpdateReason = mCounts.updateOutcome;
    }
    return;
  }
}

DeviceEventCounts DeviceEvents::Counts() const {
  std::lock_guard lock(mMutex);
  return mCounts;
}

}  // namespace corvane::recorder
