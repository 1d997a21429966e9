// Feeds arbitrary bytes, as the wrist unit's cable might deliver them, to the
// link's frame scanner and the driver's frame handler: the driver's own
// receive loop (ReadMessage with the time-outs of Poll and of a reply wait,
// then HandleMessage) over a receive buffer whose source is the input instead
// of the port. The first byte sets how many bytes each port read delivers.
//
// Checked besides the sanitizers: every frame handed on is valid, the buffer
// keeps its invariant (nothing beyond the fill pointer), and every data, beat
// and status frame lands in its sample ring.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "nano/finapres_nano_driver.h"
#include "nano/nano_catalogue.h"
#include "nano/nano_message.h"

namespace {

using corvane::FinapresNanoDriver;
using corvane::NanoMessage;
using corvane::ReceiveBuffer;

// Time passes by a millisecond each time the link looks at the clock, and by
// the length of each sleep, so that deadlines come without a run ever waiting.
class StepClock final : public corvane::LinkClock {
 public:
  int64_t NowMs() const override { return mNow++; }
  void SleepMs(uint32_t ms) const override { mNow += ms; }

 private:
  mutable int64_t mNow = 1'000'000;
};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckBuffer(const ReceiveBuffer& buffer) {
  Check(buffer.mFill <= ReceiveBuffer::kCapacity);
  for (size_t i = buffer.mFill; i < ReceiveBuffer::kCapacity; ++i) Check(buffer.mBytes[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = size_t{data[0]} + 1;
  const uint8_t* next = data + 1;
  const uint8_t* const end = data + size;

  StepClock clock;
  FinapresNanoDriver driver({}, clock);
  ReceiveBuffer buffer([&](uint8_t* target, size_t capacity) {
    const size_t n = std::min({capacity, chunk, static_cast<size_t>(end - next)});
    std::memcpy(target, next, n);
    next += n;
    return n;
  });

  size_t data_frames = 0;
  uint16_t last_counter = 0;
  size_t beat_frames = 0;
  size_t status_frames = 0;
  bool progress = true;
  for (int turn = 0; progress && turn < 100000; ++turn) {
    const uint8_t* const before = next;
    const size_t fill_before = buffer.mFill;
    NanoMessage message;
    // Poll reads with no time-out, a reply wait with the time left.
    const uint32_t timeout = (turn & 1) != 0 ? 0 : FinapresNanoDriver::kReplyTimeoutMs;
    const bool received = corvane::ReadMessage(buffer, message, timeout, clock);
    CheckBuffer(buffer);
    if (received) {
      Check(message.IsValid());
      Check(message.FrameSize() <= corvane::kMaxFrame);
      if (!message.IsNack()) {
        switch (message.Type()) {
          case corvane::nano::kData: {
            // A frame with the counter of the data frame before it is that
            // sample again, which the driver does not store twice.
            const uint16_t counter = corvane::nano::DecodeData(message).counter;
            if (data_frames == 0 || counter != last_counter) ++data_frames;
            last_counter = counter;
            break;
          }
          case corvane::nano::kBeat:
            ++beat_frames;
            break;
          case corvane::nano::kStatus:
            ++status_frames;
            break;
          case corvane::nano::kVersion:
            corvane::nano::SerialNumberOf(corvane::nano::DecodeVersion(message).record);
            break;
          default:
            break;
        }
      }
      driver.HandleMessage(message);
    }
    progress = received || next != before || buffer.mFill != fill_before;
  }

  Check(driver.DMS_GetPressureNbrSamples() ==
        std::min(data_frames, FinapresNanoDriver::kPressureRingSize));
  Check(driver.DMS_GetBeatToBeatNbrSamples() ==
        std::min(beat_frames, FinapresNanoDriver::kBeatRingSize));
  Check(driver.DMS_GetHeightAndStatusNbrSamples() ==
        std::min(status_frames, FinapresNanoDriver::kHeightRingSize));

  // What the engine then reads from the driver.
  corvane::DMSStatus status{};
  driver.DMS_GetStatus(&status);
  std::vector<corvane::PressureSample> pressure(FinapresNanoDriver::kPressureRingSize);
  auto count = static_cast<uint16_t>(pressure.size());
  driver.DMS_GetPressureSamples(&count, pressure.data());
  std::array<corvane::BeatToBeatSample, FinapresNanoDriver::kBeatRingSize> beats{};
  count = static_cast<uint16_t>(beats.size());
  driver.DMS_GetBeatToBeatSamples(&count, beats.data());
  std::array<char, 256> version{};
  auto length = static_cast<uint16_t>(version.size());
  driver.DMS_GetVersion(0, version.data(), &length);
  Check(length < version.size());
  return 0;
}
