// The exact shapes of debug trace lines and module log lines.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "platform/time.h"
#include "support/debug_trace.h"
#include "support/module_log.h"

TEST(TraceLine, FieldWidthsAndSixSignificantDigits) {
  EXPECT_EQ(MVX::FormatTraceLine(L"DMSWrapper", 123, 1.5, L"--- hello"),
            L"DMSWrapper  123(     1.5): --- hello\r\n");
  EXPECT_EQ(MVX::FormatTraceLine(L"ComPort", 7, 1234.5678, L"x"), L"ComPort    7( 1234.57): x\r\n");
  EXPECT_EQ(MVX::FormatTraceLine(L"ComPort", 7, 0.0, L"x"), L"ComPort    7(       0): x\r\n");
  // Wider values are not cut.
  EXPECT_EQ(MVX::FormatTraceLine(L"FinapresDLLDriver", 123456, 1234567.0, L"x"),
            L"FinapresDLLDriver123456(1.23457e+06): x\r\n");
}

TEST(TraceLine, DebugTraceDeliversUtf8WithTheCallersLine) {
  std::vector<std::string> lines;
  MVX::SetTraceSinkForTesting([&](const std::string& line) { lines.push_back(line); });
  const int line = __LINE__ + 1;
  MVX_TRACE(MVX::kUnitDMSWrapper, L"!!! caf\u00E9");
  MVX::SetTraceSinkForTesting(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  const std::string& text = lines[0];
  EXPECT_EQ(text.rfind("DMSWrapper" + std::string(5 - std::to_string(line).size(), ' ') +
                           std::to_string(line) + "(",
                       0),
            0u);
  EXPECT_EQ(text.substr(text.size() - 14), "): !!! caf\xC3\xA9\r\n");
  EXPECT_EQ(text.size(), std::string("DMSWrapper").size() + 5 + 1 + 8 + 14);
}

TEST(LogLine, Format) {
  EXPECT_EQ(MVX::FormatLogLine(1.5, L"Connected"), L"    1.5: Connected");
  EXPECT_EQ(MVX::FormatLogLine(12.345678, L"x"), L"12.3457: x");
  EXPECT_EQ(MVX::FormatLogLine(0.0, L""), L"      0: ");
}

namespace {

// Records delivered lines; moves the start back as a host that started earlier.
class RecordingSink final : public MVX::LogSink {
 public:
  void Deliver(const wchar_t* line, uint32_t* startTick) override {
    std::lock_guard lock(mutex);
    if (line == nullptr) {
      ++exchanges;
      *startTick -= hostStartedEarlierMs;
      return;
    }
    lines.emplace_back(line);
  }
  std::mutex mutex;
  int exchanges = 0;
  uint32_t hostStartedEarlierMs = 0;
  std::vector<std::wstring> lines;
};

}  // namespace

TEST(ModuleLog, TimesCountFromTheStartTheHostHandsBack) {
  RecordingSink sink;
  sink.hostStartedEarlierMs = 2500;
  MVX::ModuleLog::SetSink(&sink);
  MVX::ModuleLog::Write(L"first");
  MVX::ModuleLog::Write(L"second");
  MVX::ModuleLog::SetSink(nullptr);
  MVX::ModuleLog::Write(L"dropped: no log service");

  EXPECT_EQ(sink.exchanges, 1);  // only before the first line
  ASSERT_EQ(sink.lines.size(), 2u);
  for (const auto& line : sink.lines) {
    const double seconds = std::stod(line.substr(0, 7));
    EXPECT_GE(seconds, 2.5);
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(line.substr(7, 2), L": ");
  }
  EXPECT_EQ(sink.lines[0].substr(9), L"first");
}

TEST(ModuleLog, LinesLongerThanTheBufferAreCutNotOverrun) {
  RecordingSink sink;
  MVX::ModuleLog::SetSink(&sink);
  MVX::ModuleLog::Write(std::wstring(70000, L'x'));
  MVX::ModuleLog::SetSink(nullptr);
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0].size(), MVX::ModuleLog::kBufferChars - 1);
}

TEST(ModuleLog, ConcurrentWritersProduceWholeLines) {
  RecordingSink sink;
  MVX::ModuleLog::SetSink(&sink);
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([w] {
      for (int i = 0; i < 200; ++i) {
        MVX::ModuleLog::Write(L"writer " + std::to_wstring(w) + L" line " + std::to_wstring(i));
      }
    });
  }
  for (auto& writer : writers) writer.join();
  MVX::ModuleLog::SetSink(nullptr);
  ASSERT_EQ(sink.lines.size(), 800u);
  for (const auto& line : sink.lines) {
    const auto body = line.substr(9);
    EXPECT_EQ(body.rfind(L"writer ", 0), 0u) << body;
    EXPECT_NE(body.find(L" line "), std::wstring::npos);
  }
}
