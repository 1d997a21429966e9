#include "live_feed.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace corvane::recorder {
namespace {

std::string Number(double value, int decimals) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Optional(const std::optional<double>& value, int decimals) {
  return value ? Number(*value, decimals) : "null";
}

// The length of the UTF-8 character that starts with `lead`.
size_t CharacterLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          json += escaped;
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}

std::string CleanMarkerText(std::string_view text) {
  std::string clean;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    clean += byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  const size_t first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  clean = clean.substr(first, clean.find_last_not_of(' ') - first + 1);
  // Cut at a whole character: the text goes into UTF-8 files.
  size_t end = 0;
  while (end < clean.size()) {
    const size_t next = end + CharacterLength(static_cast<unsigned char>(clean[end]));
    if (next > MarkerQueue::kMaxText || next > clean.size()) break;
    end = next;
  }
  clean.resize(end);
  return clean.substr(0, clean.find_last_not_of(' ') + 1);
}

std::string MarkerLabel(const Marker& marker) {
  return "Marker " + std::to_string(marker.number) +
         (marker.text.empty() ? "" : ": " + marker.text);
}

std::optional<int> MarkerQueue::Add(std::string_view text, const std::string& source) {
  std::lock_guard lock(mMutex);
  if (!mOpen) return std::nullopt;
  mPending.push_back({++mCount, CleanMarkerText(text), source});
  return mCount;
}

std::vector<Marker> MarkerQueue::Take() {
  std::lock_guard lock(mMutex);
  return std::exchange(mPending, {});
}

void MarkerQueue::SetOpen(bool open) {
  std::lock_guard lock(mMutex);
  mOpen = open;
}

void LiveFeed::AddRow(uint64_t index, double seconds, double fingerPressure,
                      const std::optional<Beat>& beat) {
  std::lock_guard lock(mMutex);
  mSamples.push_back({index, seconds, fingerPressure, beat});
  while (!mSamples.empty() && mSamples.front().seconds < seconds - kWindowSeconds) {
    mSamples.pop_front();
  }
}

void LiveFeed::SetDevice(const LiveDevice& device) {
  std::lock_guard lock(mMutex);
  mDevice = "{\"generation\":" + JsonString(device.generation) +
            ",\"port\":" + JsonString(device.port) + ",\"serial\":" + JsonString(device.serial) +
            ",\"firmware\":" + JsonString(device.firmware) + "}";
}

void LiveFeed::SetStatus(const LiveStatus& status) {
  std::string json =
      "{\"elapsed\":" + Number(status.elapsed, 1) +
      ",\"remaining\":" + Optional(status.remaining, 1) + ",\"cuff\":" + JsonString(status.cuff) +
      ",\"switchIn\":" + Optional(status.switchIn, 0) +
      ",\"hcuPressure\":" + Number(status.hcuPressure, 1) +
      ",\"lostFrames\":" + std::to_string(status.lostFrames) +
      ",\"gaps\":" + std::to_string(status.gaps) + ",\"rows\":" + std::to_string(status.rows) + "}";
  std::lock_guard lock(mMutex);
  mStatus = std::move(json);
  ++mStatusVersion;
}

void LiveFeed::AddEvent(std::string json) {
  std::lock_guard lock(mMutex);
  mEvents.push_back(std::move(json));
}

void LiveFeed::Banner(const std::string& kind, double seconds, const std::string& text) {
  AddEvent("{\"kind\":" + JsonString(kind) + ",\"time\":" + Number(seconds, 3) +
           ",\"text\":" + JsonString(text) + "}");
}

void LiveFeed::AddMarker(const Marker& marker, double seconds) {
  AddEvent("{\"kind\":\"marker\",\"time\":" + Number(seconds, 3) + ",\"number\":" +
           std::to_string(marker.number) + ",\"text\":" + JsonString(MarkerLabel(marker)) +
           ",\"source\":" + JsonString(marker.source) + "}");
}

void LiveFeed::Progress(const std::string& title, int percent, const std::string& text,
                        bool closed) {
  std::string json = "{\"title\":" + JsonString(title) + ",\"percent\":" + std::to_string(percent) +
                     ",\"text\":" + JsonString(text) +
                     ",\"closed\":" + (closed ? "true" : "false") + "}";
  std::lock_guard lock(mMutex);
  mProgress = std::move(json);
}

void LiveFeed::End(const std::string& outcome, const std::string& summary) {
  std::lock_guard lock(mMutex);
  mEnd = "{\"outcome\":" + JsonString(outcome) + ",\"summary\":" + JsonString(summary) + "}";
}

bool LiveFeed::Ended() const {
  std::lock_guard lock(mMutex);
  return mEnd.has_value();
}

std::string LiveFeed::Update(LiveCursor& cursor) const {
  std::lock_guard lock(mMutex);
  // Rows as [time, pressure] or, with a beat, [time, pressure, systolic,
  // mean, diastolic, heart rate].
  std::string rows;
  const auto first = std::partition_point(mSamples.begin(), mSamples.end(),
                                          [&](const Sample& s) { return s.index < cursor.row; });
  for (auto sample = first; sample != mSamples.end(); ++sample) {
    rows += (rows.empty() ? "[" : ",[") + Number(sample->seconds, 3) + "," +
            Number(sample->fingerPressure, 1);
    if (sample->beat) {
      rows += "," + Number(sample->beat->systolic, 1) + "," + Number(sample->beat->mean, 1) + "," +
              Number(sample->beat->diastolic, 1) + "," + Number(sample->beat->heartRate, 1);
    }
    rows += "]";
  }
  if (!mSamples.empty()) cursor.row = mSamples.back().index + 1;

  std::string events;
  for (; cursor.event < mEvents.size(); ++cursor.event) {
    events += (events.empty() ? "" : ",") + mEvents[cursor.event];
  }
  std::string json = "{\"device\":" + mDevice + ",\"progress\":" + mProgress;
  if (cursor.status != mStatusVersion) {
    json += ",\"status\":" + mStatus;
    cursor.status = mStatusVersion;
  }
  json += ",\"rows\":[" + rows + "],\"events\":[" + events + "]";
  if (mEnd) {
    json += ",\"end\":" + *mEnd;
    cursor.ended = true;
  }
  return json + "}";
}

}  // namespace corvane::recorder
