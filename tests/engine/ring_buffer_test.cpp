// Line framing of the command and reply rings.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "engine/ring_buffer.h"

using corvane::RingBuffer;

namespace {

std::string ReadOne(RingBuffer& ring, uint32_t size = 4096) {
  std::string buffer(size, '\0');
  const uint32_t taken = ring.ReadLine(buffer.data(), size);
  if (taken == 0) return "<none>";
  return buffer.c_str();
}

void Put(RingBuffer& ring, const std::string& text) {
  ASSERT_EQ(ring.Write(text.data(), static_cast<uint32_t>(text.size())), text.size());
}

}  // namespace

TEST(RingBuffer, LineEndsAndPartialLines) {
  RingBuffer ring;
  Put(ring, "one\n\rtwo\r\nthree");
  EXPECT_EQ(ReadOne(ring), "one");         // "\n\r" is one line end
  EXPECT_EQ(ReadOne(ring), "two\r");       // "\r\n" keeps the carriage return
  EXPECT_EQ(ReadOne(ring), "<none>");      // no line feed yet: nothing taken
  EXPECT_EQ(ring.Waiting(), 5u);
  Put(ring, "\n");
  EXPECT_EQ(ReadOne(ring), "three");
  EXPECT_TRUE(ring.Empty());
}

TEST(RingBuffer, ALineMustFitTheBufferWithItsLineFeed) {
  RingBuffer ring;
  const std::string longest(2047, 'x');
  Put(ring, longest + "\n");
  EXPECT_EQ(ReadOne(ring, 2048), longest);
  Put(ring, longest + "y\n");  // 2048 bytes of text: one too many
  EXPECT_EQ(ReadOne(ring, 2048), "<none>");
  EXPECT_EQ(ring.Waiting(), 2049u);
  EXPECT_EQ(ring.DiscardLine(), 2049u);
  EXPECT_TRUE(ring.Empty());
}

TEST(RingBuffer, LinesWrapAroundTheEndOfTheArray) {
  RingBuffer ring;
  const std::string filler(RingBuffer::kSize - 10, 'f');
  Put(ring, filler + "\n");
  EXPECT_EQ(ReadOne(ring, RingBuffer::kSize), filler);
  Put(ring, "wrapped around the end\n");
  EXPECT_EQ(ReadOne(ring), "wrapped around the end");
}

TEST(RingBuffer, HoldsAtMost32767Bytes) {
  RingBuffer ring;
  const std::string big(RingBuffer::kCapacity + 100, 'b');
  EXPECT_EQ(ring.Write(big.data(), static_cast<uint32_t>(big.size())), RingBuffer::kCapacity);
  EXPECT_EQ(ring.FreeSpace(), 0u);
  EXPECT_EQ(ring.Write("x", 1), 0u);
  EXPECT_EQ(ring.DiscardAll(), RingBuffer::kCapacity);
  EXPECT_EQ(ring.FreeSpace(), RingBuffer::kCapacity);
}

// One producer and one consumer thread, as host and worker use a ring: every
// byte of every line must arrive once, in order.
TEST(RingBufferConcurrency, EveryLineArrivesWholeAndInOrder) {
  RingBuffer ring;
  constexpr int kLines = 40000;
  std::thread producer([&] {
    for (int i = 0; i < kLines; ++i) {
      const std::string line = "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 97), '.') + "\n";
      size_t sent = 0;
      while (sent < line.size()) {
        sent += ring.Write(line.data() + sent, static_cast<uint32_t>(line.size() - sent));
        if (sent < line.size()) std::this_thread::yield();
      }
    }
  });
  int next = 0;
  uint64_t bytes = 0;
  std::string buffer(256, '\0');
  while (next < kLines) {
    const uint32_t taken = ring.ReadLine(buffer.data(), 256);
    if (taken == 0) {
      std::this_thread::yield();
      continue;
    }
    const std::string expected =
        "line " + std::to_string(next) + std::string(static_cast<size_t>(next % 97), '.');
    ASSERT_EQ(std::string(buffer.c_str()), expected);
    bytes += taken;
    ++next;
  }
  producer.join();
  EXPECT_TRUE(ring.Empty());
  EXPECT_GT(bytes, 0u);
}
