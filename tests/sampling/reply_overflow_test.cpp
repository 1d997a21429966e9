// A host that stops reading: the reply ring fills, the lines that do not fit
// are dropped whole and counted, each overflow episode leaves one trace line
// and one module log line at its start and at its end, and the engine goes on
// answering and recording once the host reads again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "sampling_support.h"
#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane::testing {
namespace {

// Everything the engine wrote to the trace and the module log meanwhile.
class Capture final : public MVX::LogSink {
 public:
  Capture() {
    MVX::SetTraceSinkForTesting([this](const std::string& line) {
      std::lock_guard lock(mutex);
      trace.push_back(line);
    });
    MVX::ModuleLog::SetSink(this);
  }
  ~Capture() override {
    MVX::ModuleLog::SetSink(nullptr);
    MVX::SetTraceSinkForTesting(nullptr);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  void Deliver(const wchar_t* line, uint32_t* /*startTick*/) override {
    if (line == nullptr) return;
    std::lock_guard lock(mutex);
    log.emplace_back(line);
  }

  // Trace messages that begin with `text` (the line's prefix cut off).
  std::vector<std::string> Trace(const std::wstring& text) {
    const std::string wanted = MVX::MVXString(text).ToUtf8();
    std::lock_guard lock(mutex);
    std::vector<std::string> found;
    for (const std::string& line : trace) {
      const size_t at = line.find("): " + wanted);
      if (at != std::string::npos) found.push_back(line.substr(at + 3, line.size() - at - 5));
    }
    return found;
  }
  // Log messages that begin with `text` (the time cut off).
  std::vector<std::wstring> Log(const std::wstring& text) {
    std::lock_guard lock(mutex);
    std::vector<std::wstring> found;
    for (const std::wstring& line : log) {
      const size_t at = line.find(L": " + text);
      if (at != std::wstring::npos) found.push_back(line.substr(at + 2));
    }
    return found;
  }

 private:
  std::mutex mutex;
  std::vector<std::string> trace;
  std::vector<std::wstring> log;
};

// The episode's texts, as the engine writes them for `dropped` replies.
void ExpectEpisodes(Capture& capture, const std::vector<uint64_t>& dropped) {
  std::vector<std::string> traceEnds;
  std::vector<std::wstring> logEnds;
  for (const uint64_t n : dropped) {
    traceEnds.push_back(MVX::MVXString(kTraceReplyRingRoomAgain + std::to_wstring(n)).ToUtf8());
    logEnds.push_back(kLogRepliesDropped + std::to_wstring(n));
  }
  EXPECT_EQ(capture.Trace(kTraceReplyRingFull).size(), dropped.size());
  EXPECT_EQ(capture.Trace(kTraceReplyRingRoomAgain), traceEnds);
  EXPECT_EQ(capture.Log(kLogReplyRingFull).size(), dropped.size());
  EXPECT_EQ(capture.Log(kLogRepliesDropped), logEnds);
}

TEST(ReplyOverflow, LinesAreDroppedWholeCountedAndReportedOncePerEpisode) {
  Capture capture;
  EngineHarness h;
  // 201 bytes of reply per query: 163 of them leave the ring 4 bytes free.
  const std::string serial(199, 'S');
  ScriptedBackEnd* device = StartScripted(h, [&](ScriptedBackEnd& f) { f.serial = serial; });
  ASSERT_EQ(h.Ask(L">dev/init"), "<OK");
  const uint64_t droppedBefore = DMSWrapper::DroppedReplies();

  // Replies only, so the count is exact: the host asks 200 times and reads
  // nothing until the worker has answered every question.
  constexpr int kQueries = 200;
  const int kFit = static_cast<int>(RingBuffer::kCapacity / (serial.size() + 2));
  for (int i = 0; i < kQueries; ++i) ASSERT_GT(h.Send(L"?dev/serialnum"), 0);
  for (int waited = 0; waited < 5000 && DMSWrapper::DroppedReplies() - droppedBefore <
                                            static_cast<uint64_t>(kQueries - kFit);
       ++waited) {
    platform::SleepMs(1);
  }
  platform::SleepMs(50);  // nothing further may come
  for (int i = 0; i < kFit; ++i) ASSERT_EQ(h.Read(), "=" + serial) << "line " << i;
  EXPECT_EQ(h.Read(100), "<none>") << "the rest was dropped, and nothing cut";
  // A small reply fits again and ends the episode.
  EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");
  const auto firstEpisode = static_cast<uint64_t>(kQueries - kFit);
  EXPECT_EQ(DMSWrapper::DroppedReplies() - droppedBefore, firstEpisode);
  ExpectEpisodes(capture, {firstEpisode});

  // During a recording: data lines fill the ring while the host is away.
  ASSERT_EQ(h.Ask(L"?dev/dms_TestEnab 1"), "<OK");  // no cuff switching in the way
  {
    std::lock_guard lock(device->mutex);
    device->pressureEveryFetch = SampleCollector::kFetchCapacity;  // a backlog: busy passes
    device->heightEveryFetch = true;  // short lines, that fit where channel 1's would not
  }
  h.Send(L">in/sampler/start");
  ASSERT_EQ(ReadThroughOK(h).back(), "<OK");
  for (int waited = 0;
       waited < 10000 && DMSWrapper::DroppedReplies() - droppedBefore < firstEpisode + 20;
       ++waited) {
    platform::SleepMs(1);
  }
  ASSERT_GE(DMSWrapper::DroppedReplies() - droppedBefore, firstEpisode + 20) << "ring never full";
  {
    std::lock_guard lock(device->mutex);
    device->pressureEveryFetch = 16;  // the device's own pace again
  }

  // Back to reading: only whole lines, and the engine answers and records on.
  const std::regex dataLine(R"(\+([1-9]|1[01])(,-?[0-9]+)+)");
  size_t dataLines = 0;
  std::map<int, size_t> values;  // per channel, over the whole recording
  const auto count = [&](const std::string& line) {
    values[std::stoi(line.substr(1))] +=
        static_cast<size_t>(std::count(line.begin(), line.end(), ','));
  };
  const auto readData = [&] {
    const std::string line = h.Read();
    if (line == "=1") return false;
    EXPECT_TRUE(std::regex_match(line, dataLine)) << line;
    count(line);
    ++dataLines;
    return true;
  };
  while (capture.Trace(kTraceReplyRingRoomAgain).size() < 2 && dataLines < 20000) readData();
  ASSERT_EQ(capture.Trace(kTraceReplyRingRoomAgain).size(), 2u) << "the episode never ended";
  h.Send(L"?dev/isok");
  while (readData() && dataLines < 20000) {
  }
  const size_t answeredAt = dataLines;
  while (dataLines < answeredAt + 50) ASSERT_TRUE(readData()) << "=1 twice";
  EXPECT_GT(dataLines, 100u);
  h.Send(L">in/sampler/stop");
  const std::vector<std::string> last = ReadThroughOK(h, true);
  ASSERT_EQ(last.back(), "<OK");
  for (const std::string& line : last) {
    if (IsDataLine(line)) count(line);
  }
  // A fetch cycle's lines were kept or dropped together: the channels lost
  // the same ticks (channel 1 has the origin's tick besides).
  for (const int k : {2, 8, 9, 10, 11}) EXPECT_EQ(values[k] + 1, values[1]) << "channel " << k;
  const uint64_t secondEpisode = DMSWrapper::DroppedReplies() - droppedBefore - firstEpisode;
  ExpectEpisodes(capture, {firstEpisode, secondEpisode});
}

}  // namespace
}  // namespace corvane::testing
