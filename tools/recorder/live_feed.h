// What the live view shows of a recording, kept for its viewers: the last
// 10 seconds of finger pressure with the beats in them, the device and the
// recording's status, and the events in the order they came (messages, an
// abort, markers, the firmware update's progress, the end). The recorder
// writes into it from its own thread and never waits for a viewer; each
// viewer reads what is new for it, as JSON, through a cursor of its own.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::recorder {

// A marker the user added, numbered in the order markers arrive.
struct Marker {
  int number = 0;
  std::string text;    // may be empty
  std::string source;  // "page" or "terminal"
};

// Where markers arrive from the page's thread and the terminal, and whence
// the recording takes them. Markers are taken only while a recording runs.
class MarkerQueue {
 public:
  // The longest marker text kept, in bytes (UTF-8, cut at a whole character).
  static constexpr size_t kMaxText = 40;

  // The marker's number, or nothing when no recording runs.
  std::optional<int> Add(std::string_view text, const std::string& source);
  std::vector<Marker> Take();
  void SetOpen(bool open);

 private:
  std::mutex mMutex;
  bool mOpen = false;
  int mCount = 0;
  std::vector<Marker> mPending;
};

// Marker text as it is stored: control characters become blanks, blanks at
// either end go, and it is cut to `MarkerQueue::kMaxText` bytes.
std::string CleanMarkerText(std::string_view text);
// "Marker 3: text", or "Marker 3" without a text.
std::string MarkerLabel(const Marker& marker);

struct LiveDevice {
  std::string generation;
  std::string port;  // empty for the Controller
  std::string serial;
  std::string firmware;
};

struct LiveStatus {
  double elapsed = 0;               // seconds recorded
  std::optional<double> remaining;  // none: until Ctrl-C
  std::string cuff;                 // the cuff in use
  std::optional<double> switchIn;   // seconds to the next cuff switch; none: no switching
  double hcuPressure = 0;           // mmHg
  uint64_t lostFrames = 0;
  uint64_t gaps = 0;
  uint64_t rows = 0;
};

// A viewer's place in the feed.
struct LiveCursor {
  uint64_t row = 0;     // the next row index it has not been sent
  size_t event = 0;     // the next event it has not been sent
  uint64_t status = 0;  // the status version it was last sent
  bool ended = false;   // it has been sent the end
};

class LiveFeed {
 public:
  // The chart's span.
  static constexpr double kWindowSeconds = 10;

  // One row: its time, finger pressure and, when the row brings a new beat,
  // its systolic, mean and diastolic values and heart rate.
  struct Beat {
    double systolic, mean, diastolic, heartRate;
  };
  void AddRow(uint64_t index, double seconds, double fingerPressure,
              const std::optional<Beat>& beat);
  void SetDevice(const LiveDevice& device);
  void SetStatus(const LiveStatus& status);
  // A banner: `kind` "message" (the module's user messages and comments),
  // "abort" or "error".
  void Banner(const std::string& kind, double seconds, const std::string& text);
  void AddMarker(const Marker& marker, double seconds);
  // A progress window's state (the same title, percent and text as the
  // terminal's bar); `closed` once it has gone.
  void Progress(const std::string& title, int percent, const std::string& text, bool closed);
  // The recording has ended: how, and its summary.
  void End(const std::string& outcome, const std::string& summary);

  // What is new for the viewer at `cursor` as one JSON object, and the
  // cursor moved past it.
  std::string Update(LiveCursor& cursor) const;
  bool Ended() const;

 private:
  struct Sample {
    uint64_t index;
    double seconds;
    double fingerPressure;
    std::optional<Beat> beat;
  };

  void AddEvent(std::string json);

  mutable std::mutex mMutex;
  std::deque<Sample> mSamples;       // the last kWindowSeconds
  std::vector<std::string> mEvents;  // each a JSON object, in the order they came
  std::string mDevice = "null";
  std::string mStatus = "null";
  uint64_t mStatusVersion = 0;
  std::string mProgress = "null";
  std::optional<std::string> mEnd;
};

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace corvane::recorder
