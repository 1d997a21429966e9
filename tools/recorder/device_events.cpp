#include "device_events.h"

#include <charconv>
#include <optional>
#include <utility>

namespace corvane::recorder {
namespace {

constexpr std::string_view kSearch = "Nano Driver: Looking for Vive Zore on ";
constexpr std::string_view kSequenceError = "Data sample counter sequence error.";
constexpr std::string_view kReconnected = "Nano Driver port reconnected";
constexpr std::string_view kImageFile = "Nano Driver: Using firmware image file '";
constexpr std::string_view kImageRefused = "Nano Driver: firmware image file '";
constexpr std::string_view kImageNotUsed = "; it is not used";
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
    mCounts.imageFile.clear();
    mCounts.imageRefusal.clear();
    return;
  }
  if (const size_t at = line.find(kImageFile); at != std::string_view::npos) {
    std::string_view path = line.substr(at + kImageFile.size());
    if (const size_t end = path.rfind('\''); end != std::string_view::npos)
      path = path.substr(0, end);
    mCounts.imageFile = path;
    return;
  }
  if (const size_t at = line.find(kImageRefused);
      at != std::string_view::npos && line.ends_with(kImageNotUsed)) {
    // "... file 'NAME' REASON; it is not used"
    std::string_view rest = line.substr(at + kImageRefused.size());
    const size_t quote = rest.find("' ");
    if (quote != std::string_view::npos) rest = rest.substr(quote + 2);
    mCounts.imageRefusal = rest.substr(0, rest.size() - kImageNotUsed.size());
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

std::string FirmwareImageLine(const DeviceEventCounts& events, const std::string& version) {
  if (events.imageFile.empty()) return "Firmware image: none in the Devices folder";
  const std::string head = "Firmware image: " + events.imageFile + ": ";
  if (!events.updateOutcome.empty()) {
    return head +
           (events.updateFailed ? "the update failed (" + events.updateOutcome + ")" : "installed");
  }
  if (!events.imageRefusal.empty()) return head + "not used: " + events.imageRefusal;
  const std::string marker = "Nano firmware v";
  const size_t at = version.find(marker);
  const std::string running =
      at == std::string::npos
          ? version
          : version.substr(at + marker.size(), version.find(',', at) - at - marker.size());
  return head + "not needed (the unit runs " + running + ", not older than the image)";
}

}  // namespace corvane::recorder
