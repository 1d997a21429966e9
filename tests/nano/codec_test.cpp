// Frames, the scanner and the message catalogue, on scripted byte sources.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "log_capture.h"
#include "nano/nano_catalogue.h"
#include "nano/nano_message.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FrameBytes(const NanoMessage& m) { return Bytes(m.Frame(), m.Frame() + m.FrameSize()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Time that moves by the scanner's sleeps and by 1 ms per look at the clock,
// so that a loop that never sleeps still reaches its deadline.
class StepClock final : public LinkClock {
 public:
  int64_t NowMs() const override { return mNow++; }
  void SleepMs(uint32_t ms) const override {
    mNow += ms;
    ++mSleeps;
  }
  mutable int64_t mNow = 1000;
  mutable int mSleeps = 0;
};

// A port that delivers one scripted chunk per read.
struct ScriptedPort {
  std::deque<Bytes> chunks;
  int reads = 0;
  size_t Read(uint8_t* out, size_t capacity) {
    ++reads;
    if (chunks.empty()) return 0;
    Bytes& front = chunks.front();
    const size_t n = std::min(capacity, front.size());
    std::copy(front.begin(), front.begin() + static_cast<long>(n), out);
    front.erase(front.begin(), front.begin() + static_cast<long>(n));
    if (front.empty()) chunks.pop_front();
    return n;
  }
};

TEST(NanoCodec, BuildsGoldenFrames) {
  const std::string digits = "123456789";
  EXPECT_EQ(NanoCrc8(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xA1);
  const Bytes longPayload(300, 0x55);

  struct Case {
    const char* name;
    NanoMessage message;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"status request", nano::MakeStatusRequest(), {0xD4, 0x01, 0x01, 0xD4, 0x73, 0x1A}},
      {"keep-alive", nano::MakeKeepAlive(), {0xD4, 0x01, 0x01, 0xD4, 0x61, 0x3B}},
      {"version 0x0A", nano::MakeVersionRequest(0x0A), {0xD4, 0x02, 0x02, 0xD4, 0x76, 0x0A, 0x62}},
  };
  for (const Case& c : cases) EXPECT_EQ(FrameBytes(c.message), c.expected) << c.name;

  // Payload checks of builders whose checksum follows from the CRC above.
  struct PayloadCase {
    const char* name;
    NanoMessage message;
    char letter;
    Bytes payload;
  };
  const std::vector<PayloadCase> payloads = {
      {"cuff -1 is sent as 1", nano::MakeCuffSelect(-1), 'c', {1}},
      {"cuff -2 is sent as 2", nano::MakeCuffSelect(-2), 'c', {2}},
      {"square wave at 3 Hz",
       nano::MakeTestStart(2, 1, 120, nano::SquareWavePeriodMs(3.0)),
       't',
       {1, 2, 1, 0, 0, 0, 120, 0, 0, 0, 0x4D, 0x01, 0, 0}},
      {"steady 350 on cuff 2",
       nano::MakeTestStart(1, 2, 350, 0),
       't',
       {1, 1, 2, 0, 0, 0, 0x5E, 0x01, 0, 0, 0, 0, 0, 0}},
      {"test stop", nano::MakeTestStop(), 't', {2}},
      {"clear error", nano::MakeEvent(6), 'e', {6}},
      {"physiocal off", nano::MakePhysioCal(0), 'h', {0}},
      {"update mode", nano::MakeUpdateRequest(), 'u', {0}},
      {"zero HCU", nano::MakeZeroHcu(), 'z', {}},
      {"mode query", nano::MakeModeQuery(), 'm', {}},
      {"longest payload", NanoMessage('x', Bytes(254, 0x55)), 'x', Bytes(254, 0x55)},
      {"longer payloads are cut", NanoMessage('x', longPayload), 'x', Bytes(254, 0x55)},
  };
  for (const PayloadCase& c : payloads) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.message.IsValid());
    EXPECT_EQ(c.message.Letter(), c.letter);
    EXPECT_EQ(c.message.LengthByte(), c.payload.size() + 1);
    EXPECT_EQ(Bytes(c.message.Payload(), c.message.Payload() + c.message.PayloadLength()),
              c.payload);
  }
  EXPECT_EQ(nano::SquareWavePeriodMs(4.0), 250u);
  EXPECT_EQ(nano::SquareWavePeriodMs(100.0), 10u);

  const NanoMessage empty;
  EXPECT_FALSE(empty.IsValid());
  EXPECT_EQ(FrameBytes(empty), (Bytes{0xD4, 0x00, 0x01, 0xD4, 0x00}));
}

TEST(NanoCodec, ScannerFindsFramesInTheByteStream) {
  const Bytes status = FrameBytes(nano::MakeStatusRequest());
  const Bytes version = FrameBytes(nano::MakeVersionRequest(0x0A));
  Bytes badChecksum = version;
  badChecksum.back() ^= 0xFF;
  // A frame hidden inside a bad one's payload is still found.
  Bytes hiding = FrameBytes(NanoMessage('q', Cat({{1}, status})));
  hiding.back() ^= 0x01;
  Bytes falseHeaders;
  for (int i = 0; i < 125; ++i) falseHeaders.insert(falseHeaders.end(), {0xD4, 0x03, 0x03, 0xD4});

  struct Case {
    const char* name;
    std::vector<Bytes> chunks;
    uint32_t timeoutMs;
    std::string expected;  // letters of the frames found
    size_t badLines;
  };
  const std::vector<Case> cases = {
      {"split over three reads",
       {Bytes(version.begin(), version.begin() + 2),
        Bytes(version.begin() + 2, version.begin() + 5), Bytes(version.begin() + 5, version.end())},
       100,
       "v",
       0},
      {"two frames in one read", {Cat({version, status})}, 0, "vs", 0},
      {"garbage then a good frame", {Cat({{0x00, 0xD4, 0x13, 0xFF}, status})}, 100, "s", 0},
      {"zero length is never a frame", {Cat({{0xD4, 0x00, 0x00, 0xD4}, status})}, 100, "s", 0},
      {"length copy differs", {Cat({{0xD4, 0x01, 0x02, 0xD4, 0x73, 0x1A}, status})}, 100, "s", 0},
      {"bad checksum then a good frame", {Cat({badChecksum, status})}, 100, "s", 1},
      {"frame inside a bad frame", {hiding}, 100, "s", 1},
      {"long garbage run needs compaction", {Bytes(600, 0x11), version}, 100, "v", 0},
      {"headers of bad frames fill the buffer", {Cat({falseHeaders, version})}, 100, "v", 125},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::LogCapture capture;
    ScriptedPort port{std::deque<Bytes>(c.chunks.begin(), c.chunks.end())};
    ReceiveBuffer buffer([&](uint8_t* out, size_t n) { return port.Read(out, n); });
    StepClock clock;
    // ReadMessage gives up at the compaction limit, so a long garbage run
    // takes several calls; the frames must still all come, in order.
    std::string got;
    for (int i = 0; i < 8; ++i) {
      NanoMessage message;
      if (ReadMessage(buffer, message, c.timeoutMs, clock)) got += message.Letter();
    }
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(capture.LogCount(L"... Nano Driver: Bad message: "), c.badLines);
    // Consumed bytes are gone and the rest of the array is zero.
    EXPECT_LT(buffer.mFill, kFrameOverhead);
    EXPECT_EQ(
        std::count(buffer.mBytes.begin() + static_cast<long>(buffer.mFill), buffer.mBytes.end(), 0),
        static_cast<long>(512 - buffer.mFill));
  }
}

TEST(NanoCodec, EmptyPortAndNack) {
  testing::LogCapture capture;
  ScriptedPort port;
  ReceiveBuffer buffer([&](uint8_t* out, size_t n) { return port.Read(out, n); });
  StepClock clock;
  NanoMessage message;
  EXPECT_FALSE(ReadMessage(buffer, message, 0, clock));
  EXPECT_EQ(port.reads, 1);
  EXPECT_EQ(clock.mSleeps, 1);
  EXPECT_FALSE(message.IsValid());

  // Time-out 0 makes one step: the first call only reads what has arrived.
  port.chunks.push_back(FrameBytes(NanoMessage(0xE3, Bytes{5})));
  EXPECT_FALSE(ReadMessage(buffer, message, 0, clock));
  ASSERT_TRUE(ReadMessage(buffer, message, 0, clock));
  EXPECT_EQ(message.Type(), 0xE3);
  EXPECT_TRUE(message.IsNack());
  EXPECT_EQ(message.NackError(), 5);
  EXPECT_EQ(capture.LogCount(L"!!! Nano driver: Nack: Type 'c', len 7 OK (Nack: error 5)"), 1u);
  EXPECT_EQ(capture.TraceCount("!!! Nack: Type 'c', len 7 OK (Nack: error 5)"), 1u);
}

TEST(NanoCodec, TraceText) {
  NanoMessage bad = nano::MakeVersionRequest(0x0A);
  Bytes raw = FrameBytes(bad);
  raw.back() = 0;
  bad.AssignFrame(raw.data(), raw.size());
  struct Case {
    NanoMessage message;
    std::wstring trace;
    bool leavesLine;
  };
  const std::vector<Case> cases = {
      {nano::MakeVersionRequest(0x0A), L"<<< Type 'v', len 7 OK: 0xa", true},
      {bad, L"<<< Type 'v', len 7 Bad: 0xa", true},
      {NanoMessage(0xE3, Bytes{5, 0xFF}), L"<<< Type 'c', len 8 OK (Nack: error 5): 0x5 0xff",
       true},
      {nano::MakeStatusRequest(), L"<<< Type 's', len 6 OK", false},
      {NanoMessage('d', Bytes(9, 1)),
       L"<<< Type 'd', len 15 OK: 0x1 0x1 0x1 0x1 0x1 0x1 0x1 0x1 0x1", false},
      {NanoMessage('b', Bytes{1}), L"<<< Type 'b', len 7 OK: 0x1", false},
      {NanoMessage('s', Bytes{1}), L"<<< Type 's', len 7 OK: 0x1", false},
      {nano::MakeCuffSelect(-2), L"<<< Type 'c', len 7 OK: 0x2", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatMessageTrace(L"<<<", c.message), c.trace);
    EXPECT_EQ(LeavesTraceLine(c.message), c.leavesLine) << FormatMessageShort(c.message);
  }
}

TEST(NanoCatalogue, DecodesFramesWithNamedFields) {
  const auto data = nano::DecodeData(
      NanoMessage('d', Bytes{0x10, 0x27, 0xD2, 0x04, 0x2C, 0x01, 0x34, 0x12, 0x80}));
  EXPECT_EQ(data.counter, 10000);
  EXPECT_EQ(data.bp, 1234);
  EXPECT_EQ(data.hgt, 300);
  EXPECT_EQ(data.plet, 0x1234);
  EXPECT_EQ(data.flags, 0x80);

  const auto beat = nano::DecodeBeat(
      NanoMessage('b', Bytes{1, 0, 7, 0xB0, 0x04, 0x20, 0x03, 0x98, 0x03, 0x58, 0x02, 0xE8, 0x03}));
  EXPECT_EQ(beat.counter, 1);
  EXPECT_EQ(beat.sys, 1200);
  EXPECT_EQ(beat.dia, 800);
  EXPECT_EQ(beat.map, 920);
  EXPECT_EQ(beat.hr, 600);
  EXPECT_EQ(beat.ibi, 1000);

  const auto status = nano::DecodeStatus(
      NanoMessage('s', Bytes{5, 0, 0x31, 9, 0x20, 0, 0, 0x80, 0x80, 3, 0xC5, 77, 0, 0, 0}));
  EXPECT_EQ(status.counter, 5);
  EXPECT_EQ(status.StateNibble(), 3);
  EXPECT_EQ(status.mError, 9);
  EXPECT_EQ(status.mWarning, 0x80000020u);
  EXPECT_EQ(status.hcu, 0x80);
  EXPECT_EQ(status.channel11, 77);

  const auto mode = nano::DecodeMode(NanoMessage('m', Bytes{0x75}));
  EXPECT_EQ(mode.mode, 7);
  EXPECT_EQ(mode.eraseState, 2);
  EXPECT_EQ(mode.busy, 1);

  // A short status frame leaves the rest zero.
  const auto shortStatus = nano::DecodeStatus(NanoMessage('s', Bytes{5, 0, 0x10}));
  EXPECT_EQ(shortStatus.mWarning, 0u);
  EXPECT_EQ(shortStatus.mError, 0);
}

TEST(NanoCatalogue, VersionRecordsAndSerialNumber) {
  auto versionFrame = [](char structure, const Bytes& record) {
    Bytes payload = {3, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(structure)};
    payload.insert(payload.end(), record.begin(), record.end());
    return NanoMessage('v', payload);
  };
  Bytes firmware(120, 0xEE);
  const Bytes numbers = {0x34, 0x12, 2, 7, 0x2C, 0x01, 0x05, 0x00, 4};
  std::copy(numbers.begin(), numbers.end(), firmware.begin());
  const auto n = nano::DecodeVersion(versionFrame('N', firmware));
  EXPECT_EQ(n.typeNumber, 3);
  EXPECT_EQ(n.structure, 'N');
  const auto v = nano::DecodeVersionNumbers(n.record.data());
  EXPECT_EQ(v.hardwareId, 0x1234);
  EXPECT_EQ(v.major, 2);
  EXPECT_EQ(v.minor, 7);
  EXPECT_EQ(v.patch, 300);
  EXPECT_EQ(v.revision, 5);
  EXPECT_EQ(v.protocol, 4);
  EXPECT_EQ(n.record[119], 0xEE);
  EXPECT_EQ(n.record[120], 0);

  // Short frames fill only what they carry.
  const auto shortFrame = nano::DecodeVersion(versionFrame('N', {1, 0, 9}));
  EXPECT_EQ(shortFrame.record[2], 9);
  EXPECT_EQ(std::count(shortFrame.record.begin() + 3, shortFrame.record.end(), 0), 119);

  struct SerialCase {
    const char* name;
    Bytes text;
    std::string expected;
  };
  const std::vector<SerialCase> serials = {
      {"terminated", {'V', 'Z', '1', '2', 0, 'x'}, "VZ12"},
      {"unterminated fills its 100 bytes", Bytes(100, 'A'), std::string(100, 'A')},
      {"short frame", {'Q'}, "Q"},
  };
  for (const SerialCase& c : serials) {
    Bytes record(22, 0);
    record.insert(record.end(), c.text.begin(), c.text.end());
    // Bytes that a frame could carry after the record must never reach the text.
    if (record.size() == 122) record.insert(record.end(), {'Z', 'Z', 0});
    const auto h = nano::DecodeVersion(versionFrame('H', record));
    EXPECT_EQ(nano::SerialNumberOf(h.record), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace corvane
