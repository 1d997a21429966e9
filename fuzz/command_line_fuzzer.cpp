// Feeds arbitrary command lines to the engine's interpreter, through the
// engine's command ring and worker thread as the facade feeds them, with the
// engine tests' scripted back-end as the device. Each line of the input is
// queued as the host writes one; the engine's clock moves a quarter second
// per line so that its timers (cuff switching, zeroing) come due.
//
// Checked besides the sanitizers: while the worker runs, every line gets a
// reply (a line the interpreter swallows would leave the host waiting).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine_harness.h"

namespace {

constexpr size_t kMaxLines = 32;
constexpr int64_t kClockStepMs = 250;
// Real time for one reply: generous, as the fuzzer may share the machine.
constexpr int64_t kReplyWaitMs = 5000;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Reads every reply that has arrived; true when there was one.
bool DrainReplies(corvane::DMSWrapper& engine) {
  static std::array<char, corvane::RingBuffer::kSize> line;
  bool any = false;
  while (engine.ReplyRing().ReadLine(line.data(), static_cast<uint32_t>(line.size())) != 0) {
    any = true;
  }
  return any;
}

// Waits for the reply to the line just queued; false when the worker ended
// before one came.
bool AwaitReply(corvane::DMSWrapper& engine) {
  for (int64_t waited = 0; waited < kReplyWaitMs; ++waited) {
    engine.ClearReplySignal();
    if (DrainReplies(engine)) return true;
    if (!engine.IsRunning()) return DrainReplies(engine);
    engine.WaitForReply(1);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvane::testing::FakeClock clock;
  corvane::DMSWrapper engine(
      [] { return std::unique_ptr<corvane::FinapresAPI_I>(new corvane::testing::FakeBackEnd); },
      clock);

  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  for (size_t lines = 0; start < input.size() && lines < kMaxLines && engine.IsRunning(); ++lines) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    // The host hands over NUL-terminated text: a NUL ends its line.
    const std::string text = input.substr(start, end - start);
    start = end + 1;
    MVX::MVXString line = MVX::MVXString::FromAnsi(text.c_str()) + L"\n";
    if (engine.QueueCommand(line) == 0) break;
    const bool answered = AwaitReply(engine);
    Check(answered || !engine.IsRunning());
    clock.Advance(kClockStepMs);
  }
  engine.RequestStop();
  engine.Wake();
  return 0;
}
