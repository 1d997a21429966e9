// The wrist-unit link's hot path: frames found by ReadMessage, and data frames
// handled into the pressure ring, with the heap allocations they cost.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "nano/finapres_nano_driver.h"
#include "nano/nano_message.h"

namespace {

std::atomic<uint64_t> gAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
  ++gAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace corvane {
namespace {

std::vector<uint8_t> DataFrames(size_t count) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < count; ++i) {
    const auto c = static_cast<uint8_t>(i);
    const uint8_t payload[9] = {c, static_cast<uint8_t>(i >> 8), 0xD2, 0x04, 0x2C, 0x01, 0, 0, 0};
    const NanoMessage m('d', payload);
    bytes.insert(bytes.end(), m.Frame(), m.Frame() + m.FrameSize());
  }
  return bytes;
}

class NoSleepClock final : public LinkClock {
 public:
  int64_t NowMs() const override { return 0; }
  void SleepMs(uint32_t) const override {}
};

// Frames per second that ReadMessage finds in a stream of 'd' frames arriving
// in reads of 512 bytes.
void BM_ReadMessage(benchmark::State& state) {
  const std::vector<uint8_t> stream = DataFrames(4096);
  size_t at = 0;
  ReceiveBuffer buffer([&](uint8_t* out, size_t capacity) {
    const size_t n = std::min(capacity, stream.size() - at);
    std::copy_n(stream.begin() + static_cast<long>(at), n, out);
    at = (at + n) % stream.size();
    return n;
  });
  NoSleepClock clock;
  NanoMessage message;
  int64_t frames = 0;
  for (auto _ : state) {
    if (ReadMessage(buffer, message, 0, clock)) ++frames;
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadMessage);

// One data frame handled into the pressure ring and fetched as the engine
// fetches, in steady state; reports heap allocations per frame.
void BM_HandleDataFrame(benchmark::State& state) {
  FinapresNanoDriver driver({});
  PressureSample records[33];
  uint16_t counter = 0;
  auto next = [&counter] {
    ++counter;
    const uint8_t payload[9] = {static_cast<uint8_t>(counter),
                                static_cast<uint8_t>(counter >> 8),
                                0xD2,
                                0x04,
                                0x2C,
                                0x01,
                                0,
                                0,
                                0};
    return NanoMessage('d', payload);
  };
  for (int warm = 0; warm < 128; ++warm) driver.HandleMessage(next());
  const uint64_t before = gAllocations.load();
  int64_t handled = 0;
  for (auto _ : state) {
    driver.HandleMessage(next());
    if (++handled % 32 == 0) {
      uint16_t count = 32;
      driver.DMS_GetPressureSamples(&count, records);
    }
  }
  state.counters["allocs/frame"] =
      static_cast<double>(gAllocations.load() - before) / static_cast<double>(handled);
}
BENCHMARK(BM_HandleDataFrame);

}  // namespace
}  // namespace corvane

BENCHMARK_MAIN();
