// COMPort over a real serial line (see serial_line.h), the same tests on both
// platforms.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial_line.h"
#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane {
namespace {

using Clock = std::chrono::steady_clock;

// Collects module-log lines without their time prefix, and trace lines.
class LogCapture final : public MVX::LogSink {
 public:
  LogCapture() {
    MVX::ModuleLog::SetSink(this);
    MVX::SetTraceSinkForTesting([this](const std::string& line) {
      std::lock_guard lock(mMutex);
      trace.push_back(line);
    });
  }
  ~LogCapture() override {
    MVX::SetTraceSinkForTesting(nullptr);
    MVX::ModuleLog::SetSink(nullptr);
  }
  void Deliver(const wchar_t* line, uint32_t*) override {
    if (line == nullptr) return;
    std::lock_guard lock(mMutex);
    const std::wstring text(line);
    log.push_back(text.substr(text.find(L": ") + 2));
  }
  std::vector<std::wstring> log;
  std::vector<std::string> trace;

 private:
  std::mutex mMutex;
};

class COMPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    line = testing::SerialLine::Make(0, why);
    if (!line) GTEST_SKIP() << why;
    path = line->Path();
  }

  // Reads at the port until `count` bytes came or `timeoutMs` passed.
  std::string ReadAtPort(COMPort& port, size_t count, int timeoutMs) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && Clock::now() < deadline) {
      uint8_t chunk[256];
      const size_t n = port.Read(chunk, std::min(sizeof chunk, count - got.size()));
      got.append(reinterpret_cast<const char*>(chunk), n);
    }
    return got;
  }

  std::unique_ptr<testing::SerialLine> line;
  MVX::MVXString path;
};

// Bytes that a cooked line would change, swallow or act on: CR, LF, XON,
// XOFF, interrupt, end of file, erase, and the high bytes of a frame.
const std::string kAwkwardBytes("\xD4\x0D\x0A\x11\x13\x03\x04\x7F\x00\xFF\x1A\x5C", 12);

TEST_F(COMPortTest, CarriesEveryByteUnchangedBothWays) {
  COMPort port;
  ASSERT_TRUE(port.Open(path, 115200));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.PortName(), path);
  EXPECT_EQ(port.BaudRate(), 115200u);

  ASSERT_TRUE(port.Write(reinterpret_cast<const uint8_t*>(kAwkwardBytes.data()),
                         kAwkwardBytes.size(), 1000));
  EXPECT_EQ(line->FarRead(kAwkwardBytes.size() + 1, 300), kAwkwardBytes);

  ASSERT_TRUE(line->FarWrite(kAwkwardBytes));
  EXPECT_EQ(ReadAtPort(port, kAwkwardBytes.size() + 1, 300), kAwkwardBytes);
  // Nothing came back: the port does not echo what it receives.
  EXPECT_EQ(line->FarRead(1, 50), "");
}

TEST_F(COMPortTest, ReadReturnsAtOnceWithWhatHasArrived) {
  COMPort port;
  uint8_t buffer[64] = {};
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);  // closed
  ASSERT_TRUE(port.Open(path, 115200));

  // Nothing waiting: 0 after at most the short wait (generous bound for a
  // loaded machine).
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));

  // More waiting than asked for: the read takes only its capacity.
  ASSERT_TRUE(line->FarWrite("abcdef"));
  EXPECT_EQ(ReadAtPort(port, 4, 500), "abcd");
  EXPECT_EQ(ReadAtPort(port, 2, 500), "ef");
}

TEST_F(COMPortTest, SecondOpenOfTheSamePortFails) {
  if (testing::RunsUnderWine()) GTEST_SKIP() << "Wine does not keep serial devices exclusive";
  LogCapture capture;
  COMPort first;
  COMPort second;
  ASSERT_TRUE(first.Open(path, 115200));
  EXPECT_FALSE(second.Open(path, 115200));
  EXPECT_FALSE(second.IsOpen());
  // The first keeps working.
  ASSERT_TRUE(first.Write(reinterpret_cast<const uint8_t*>("ok"), 2, 1000));
  EXPECT_EQ(line->FarRead(2, 500), "ok");
  // Once the first lets go, the port opens again.
  first.Close();
  EXPECT_TRUE(second.Open(path, 115200));
}

TEST_F(COMPortTest, MissingPortLeavesTheTwoFailureLinesAndStaysClosed) {
  LogCapture capture;
  COMPort port;
  const MVX::MVXString missing = testing::MissingPortPath();
  EXPECT_FALSE(port.Open(missing, 115200));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.PortName(), missing);
  EXPECT_FALSE(port.Write(reinterpret_cast<const uint8_t*>("x"), 1, 10));
  uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1), 0u);
  port.Close();

  EXPECT_EQ(capture.log,
            std::vector<std::wstring>{L"COMPort failed to open handle for port " + missing});
  ASSERT_EQ(capture.trace.size(), 1u);
  const std::string& trace = capture.trace[0];
  EXPECT_EQ(trace.rfind("ComPort", 0), 0u) << trace;
  const std::string text =
      "): COMPort: '" + MVX::MVXString(missing).ToUtf8() + "' failed to open\n\r\n";
  EXPECT_EQ(trace.substr(trace.size() - text.size()), text) << trace;
}

TEST_F(COMPortTest, OpenAndCloseLogEachChangeOfStateOnce) {
  LogCapture capture;
  {
    COMPort port;
    ASSERT_TRUE(port.Open(path, 115200));
    ASSERT_TRUE(port.Open(path, 115200));  // closes first, then opens again
    port.Close();
    port.Close();
    ASSERT_TRUE(port.Open(path, 115200));
  }  // the destructor closes
  const std::wstring opened = L"COMPort opened handle for port " + path;
  const std::wstring closed = L"COMPort closed handle for port " + path;
  EXPECT_EQ(capture.log,
            (std::vector<std::wstring>{opened, closed, opened, closed, opened, closed}));
  EXPECT_TRUE(capture.trace.empty());
}

// Fills the line until a write times out (the far end never reads), then
// checks that the frame that timed out never reaches the far end and that
// the next frame goes through whole.
TEST_F(COMPortTest, TimedOutWriteFailsAndLeavesNothingOfItselfQueued) {
  COMPort port;
  ASSERT_TRUE(port.Open(path, 115200));
  // Frame i is 2048 bytes of the tag 0x80 + i, so the far end can tell frames
  // apart; the tags never clash with the final ASCII frame.
  constexpr size_t kFrameBytes = 2048;
  constexpr uint32_t kTimeoutMs = 100;
  int failedTag = -1;
  for (int i = 0; i < 120 && failedTag < 0; ++i) {
    const std::vector<uint8_t> frame(kFrameBytes, static_cast<uint8_t>(0x80 + i));
    const auto start = Clock::now();
    if (!port.Write(frame.data(), frame.size(), kTimeoutMs)) {
      failedTag = 0x80 + i;
      const auto took = Clock::now() - start;
      EXPECT_GE(took, std::chrono::milliseconds(kTimeoutMs - 5));
      EXPECT_LT(took, std::chrono::milliseconds(kTimeoutMs + 1000));
    }
  }
  ASSERT_GE(failedTag, 0) << "the line never filled up";
  EXPECT_TRUE(port.IsOpen());

  const std::string next = "HELLO!";
  ASSERT_TRUE(port.Write(reinterpret_cast<const uint8_t*>(next.data()), next.size(), 1000));

  std::string received;
  for (std::string chunk; !(chunk = line->FarRead(1 << 16, 300)).empty();) received += chunk;
  ASSERT_GE(received.size(), next.size());
  EXPECT_EQ(received.substr(received.size() - next.size()), next);
  EXPECT_EQ(received.find(static_cast<char>(failedTag)), std::string::npos)
      << "bytes of the timed-out frame reached the far end";
}

}  // namespace
}  // namespace corvane
