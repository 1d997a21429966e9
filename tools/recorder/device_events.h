// What the module's log says about the wrist unit while the recorder runs:
// the port it was found on, the data frames it lost, its reconnects and the
// outcome of a firmware update. The log lines are the only place the module
// tells these, so the recorder reads them as they are written.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::recorder {

// Data frames lost at one break of the unit's sample counter.
struct FrameGap {
  uint64_t row = 0;  // finger-pressure samples received when the module noticed it
  uint64_t frames = 0;
};

struct DeviceEventCounts {
  std::string port;             // last port the wrist-unit search tried
  uint64_t sequenceErrors = 0;  // breaks in the unit's sample counter that lost frames
  uint64_t lostFrames = 0;      // data frames missing at those breaks
  std::vector<FrameGap> gaps;   // each of those breaks
  uint64_t repeatedFrames = 0;  // frames the unit sent again (stored once by the module)
  uint64_t reconnects = 0;      // the driver reopened the port
  // The module's line that ended an update on `port`, and whether it failed.
  std::string updateOutcome;
  bool updateFailed = false;
  // The last update that failed, on any port: the search may go on to
  // other ports after it.
  std::string failedUpdatePort;
  std::string failedUpdateReason;
  // The firmware image file the module considered for the unit on `port`
  // (empty: none in its "Devices" folder), and why it did not use it.
  std::string imageFile;
  std::string imageRefusal;
};

// The terminal's line on the firmware image for a wrist unit whose version
// text is `version`: which file, and what became of it.
std::string FirmwareImageLine(const DeviceEventCounts& events, const std::string& version);

class DeviceEvents {
 public:
  // One line of the module log (with or without its time prefix); any thread.
  void Observe(std::string_view line);
  DeviceEventCounts Counts() const;
  // Where the recording stands, for the gaps' places (null: nowhere yet).
  void SetTimeline(const std::atomic<uint64_t>* rows) { mRows = rows; }

 private:
  mutable std::mutex mMutex;
  DeviceEventCounts mCounts;
  // The unit restarted after an update: its counter starts afresh, and the
  // break the module then sees loses nothing.
  bool mRestarted = false;
  std::atomic<const std::atomic<uint64_t>*> mRows{nullptr};
};

// The counter's step at a sequence error: "... Expected 12 (0xc), got 40
// (0x28)" lost 28 frames; the counter is 16 bits and wraps. Zero when the
// line does not say, and for a step back (a frame sent again, "Expected 13,
// got 12"), which loses nothing.
uint64_t LostFramesOf(std::string_view line);
// The line tells of a frame the unit sent again.
bool IsRepeatedFrame(std::string_view line);

}  // namespace corvane::recorder
