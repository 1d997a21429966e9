// Fetches the device's records, brings them onto the 5 ms grid of the finger
// pressure and sends one data line per channel and fetch cycle.
#include "engine/sample_collector.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "engine/dms_wrapper.h"
#include "engine/error_catalogue.h"
#include "support/debug_trace.h"

namespace corvane {
namespace {

constexpr int32_t kFullScale = 32000;
constexpr size_t kLineCutLength = 1024;

// Divisors: the source value that maps onto the full scale.
constexpr int32_t kPressureRange = 400;   // mmHg, channels 1 to 5
constexpr int32_t kHeartRateRange = 400;  // beats per minute, channel 6
constexpr int32_t kIntervalRange = 2000;  // ms, channel 7
constexpr int32_t kChannel8Range = 4;
constexpr int32_t kCuffSwitchRange = 4000;  // s, channel 9
constexpr int32_t kChannel10Range = 10;
constexpr int32_t kChannel11Range = 400;
constexpr int32_t kCuffSwitchFixed = 8;  // one second on channel 9's scale

// Far more ticks than any real pause between two records (60 s). A time stamp
// further ahead is a clock jump: filling it would stall the worker and flood
// the host's ring, so the position jumps instead.
constexpr uint64_t kMaxFillTicks = 12000;

constexpr std::array<int32_t, 5> kHeightAndStatusChannels{2, 8, 9, 10, 11};
constexpr int32_t kFirstBeatChannel = 3;
constexpr std::array<int32_t, 5> kBeatRanges{kPressureRange, kPressureRange, kPressureRange,
                                             kHeartRateRange, kIntervalRange};

// v × 32000 / range in 32-bit arithmetic. Only channel 10 can leave 32 bits
// (|v| > 67108); its product then wraps, defined here instead of being
// signed overflow. The division truncates towards zero.
int32_t Scale(int32_t v, int32_t range) {
  const auto product =
      static_cast<int32_t>(static_cast<uint32_t>(v) * static_cast<uint32_t>(kFullScale));
  return product / range;
}

// The device packs channels 8 and 11 into the low 16 bits of a status field.
int32_t LowHalf(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF)); }

// The converted value of one of the height-and-status channels 2, 8, 9, 10, 11.
int32_t HeightAndStatusValue(int32_t channel, const HeightAndStatusSample& record,
                             int32_t cuffSwitchValue) {
  if (channel == 2) return Scale(record.mHeight, kPressureRange);
  if (channel == 8) return Scale(LowHalf(record.mStatus.mChannel8), kChannel8Range);
  if (channel == 10) return Scale(record.mStatus.mChannel10, kChannel10Range);
  if (channel == 11) return Scale(LowHalf(record.mStatus.mChannel11), kChannel11Range);
  return cuffSwitchValue;
}

// Ticks that a record at `time` fills from `position`: one per 5 ms up to and
// including its own time. A clock jump past kMaxFillTicks fills only the
// record's own tick.
uint64_t TicksToFill(uint64_t position, uint64_t time, const wchar_t* kind) {
  if (time <= position) return 0;
  const uint64_t ticks = (time - position - 1) / kSamplePeriodTicks + 1;
  if (ticks <= kMaxFillTicks) return ticks;
  MVX_TRACE(MVX::kUnitDMSWrapper, L"!!! " + std::wstring(kind) + L" time jumped ahead by " +
                                      std::to_wstring((time - position) / 10000) +
                                      L" ms; the gap is not filled");
  return 1;
}

// A pressure record further than one and a half sample periods after the
// one before follows lost samples.
constexpr uint64_t kMinPressureGap = kSamplePeriodTicks * 3 / 2;

// The ticks lost between two pressure records, to the nearest whole period
// (a back-end's stamps may jitter). A clock jump past kMaxFillTicks loses
// none: filling it would stall the worker, as for the other channels.
uint64_t MissingPressureTicks(uint64_t previous, uint64_t time) {
  const uint64_t missing = (time - previous + kSamplePeriodTicks / 2) / kSamplePeriodTicks - 1;
  if (missing <= kMaxFillTicks) return missing;
  MVX_TRACE(MVX::kUnitDMSWrapper, L"!!! Pressure time jumped ahead by " +
                                      std::to_wstring((time - previous) / 10000) +
                                      L" ms; the gap is not filled");
  return 0;
}

// One channel's data line: "+N" and ",value" fields, cut and sent once it
// holds kLineCutLength characters so that no reply grows without bound.
// "Sent" lines go into the fetch cycle's batch, which leaves as a whole.
class ChannelLine {
 public:
  ChannelLine(std::vector<MVX::MVXString>& batch, int32_t channel)
      : mBatch(batch), mChannel(channel) {
    mText.reserve(kLineCutLength + 16);
    AppendField(L"", false);
  }

  // Only a field that may flush can start a new line, so callers pass true for
  // the comma alone: a value then never parts from its comma.
  void AppendField(std::wstring_view text, bool mayFlush) {
    if (mayFlush && !mText.empty() && mText.size() + text.size() > kLineCutLength) Send();
    if (mText.empty()) {
      mText += L'+';
      AppendNumber(mChannel);
    }
    mText += text;
  }

  void AppendNumber(int32_t v) {
    std::array<char, 12> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), v).ptr;
    std::array<wchar_t, 12> wide{};
    size_t length = 0;
    for (const char* p = digits.data(); p != end; ++p) wide[length++] = static_cast<wchar_t>(*p);
    AppendField(std::wstring_view(wide.data(), length), false);
  }

  void AppendValue(int32_t v) {
    AppendField(L",", true);
    AppendNumber(v);
  }

  void Send() {
    mBatch.push_back(mText);
    mText.clear();
  }

 private:
  std::vector<MVX::MVXString>& mBatch;
  int32_t mChannel;
  MVX::MVXString mText;
};

// One fetch of up to kFetchCapacity records into `buffer`; returns how many
// came back. A failed fetch is traced, and whatever it returned is still used.
template <typename Record>
size_t Fetch(FinapresAPI_I& device, int32_t (FinapresAPI_I::*fetch)(uint16_t*, Record*),
             std::vector<Record>& buffer) {
  uint16_t count = SampleCollector::kFetchCapacity;
  const int32_t result = (device.*fetch)(&count, buffer.data());
  if (result != dmsError_NoError) {
    MVX_TRACE(MVX::kUnitDMSWrapper, kFailedCallTracePrefix + DescribeDmsError(result));
  }
  // A back-end that reports more than it had room for must not make us read
  // past the buffer.
  return std::min<size_t>(count, buffer.size());
}

}  // namespace

int32_t CuffSwitchChannelValue(bool cuffSwitching, bool testEnabled, int64_t countdownMs) {
  if (!cuffSwitching || testEnabled) return kCuffSwitchFixed;
  const int64_t seconds = std::max<int64_t>(countdownMs, 0) / 1000;
  return Scale(static_cast<int32_t>(seconds), kCuffSwitchRange);
}

SampleCollector::SampleCollector(std::shared_ptr<FinapresAPI_I> device)
    : mDevice(std::move(device)),
      mHeightAndStatusBuffer(kBufferRecords),
      mBeatBuffer(kBufferRecords),
      mPressureBuffer(kBufferRecords),
      mMarkerBuffer(kBufferRecords) {}

void SampleCollector::FlushSamples() {
  MVX_TRACE(MVX::kUnitDMSWrapper, L"FlushSamples() starting flush");
  if (mDevice != nullptr) {
    mDevice->DMS_GetPressureSamples(nullptr, nullptr);
    mDevice->DMS_GetHeightAndStatusSamples(nullptr, nullptr);
    mDevice->DMS_GetBeatToBeatSamples(nullptr, nullptr);
    mDevice->DMS_GetMarkerSamples(nullptr, nullptr);
  }
  // The status stays: the error check reads and clears its error field even
  // across a start or stop.
  mLastHeightAndStatus.mTime = 0;
  mGridTime = 0;
  mLastPressureTime = 0;
  mHeldPressure = 0;
  mHeldBeatValues = {};
  MVX_TRACE(MVX::kUnitDMSWrapper, L"FlushSamples() done.");
}

void SampleCollector::CollectSamples(DMSWrapper& engine, int32_t* count, int64_t countdownMs) {
  if (count != nullptr) *count = 0;
  if (mDevice == nullptr) return;
  FinapresAPI_I& device = *mDevice;
  mCycleLines.clear();

  const size_t pressure = Fetch(device, &FinapresAPI_I::DMS_GetPressureSamples, mPressureBuffer);
  if (pressure != 0) SendPressure(pressure);

  const size_t heightAndStatus =
      Fetch(device, &FinapresAPI_I::DMS_GetHeightAndStatusSamples, mHeightAndStatusBuffer);
  if (heightAndStatus != 0) {
    const int32_t cuffSwitchValue = CuffSwitchChannelValue(engine.Flag(kFlagEnableCuffSwitching),
                                                           engine.TestEnabled(), countdownMs);
    SendHeightAndStatus(heightAndStatus, cuffSwitchValue);
  }

  const size_t beats = Fetch(device, &FinapresAPI_I::DMS_GetBeatToBeatSamples, mBeatBuffer);
  if (beats != 0) SendBeats(beats);

  Fetch(device, &FinapresAPI_I::DMS_GetMarkerSamples, mMarkerBuffer);
  // All channels of a cycle reach the host, or none: on a full reply ring
  // they then all lose the same ticks and stay in step.
  engine.SendReplies(mCycleLines);

  if (count != nullptr) *count = static_cast<int32_t>(pressure);
}

void SampleCollector::StartGridIfNone(uint64_t firstTime) {
  if (mGridTime != 0) return;
  mGridTime = firstTime;
  mLastHeightAndStatus.mTime = firstTime;
}

void SampleCollector::SendPressure(size_t n) {
  StartGridIfNone(mPressureBuffer[0].mTime);
  ChannelLine line(mCycleLines, 1);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t time = mPressureBuffer[i].mTime;
    // A lost sample leaves a jump in time: the previous value holds its
    // ticks, so that channel 1 stays on the grid of the other channels.
    if (mLastPressureTime != 0 && time > mLastPressureTime + kMinPressureGap) {
      const uint64_t missing = MissingPressureTicks(mLastPressureTime, time);
      for (uint64_t k = 0; k < missing; ++k) line.AppendValue(mHeldPressure);
    }
    mHeldPressure = Scale(mPressureBuffer[i].mPressure, kPressureRange);
    line.AppendValue(mHeldPressure);
    mLastPressureTime = time;
  }
  line.Send();
}

void SampleCollector::SendHeightAndStatus(size_t n, int32_t cuffSwitchValue) {
  StartGridIfNone(mHeightAndStatusBuffer[0].mTime);
  // All five channels fill the same ticks from the same position; counting
  // them once also traces a clock jump once.
  std::array<uint64_t, kBufferRecords> ticks{};
  uint64_t position = mLastHeightAndStatus.mTime;
  for (size_t i = 0; i < n; ++i) {
    ticks[i] = TicksToFill(position, mHeightAndStatusBuffer[i].mTime, L"Height-and-status");
    position = mHeightAndStatusBuffer[i].mTime;
  }

  for (const int32_t channel : kHeightAndStatusChannels) {
    ChannelLine line(mCycleLines, channel);
    for (size_t i = 0; i < n; ++i) {
      const int32_t value =
          HeightAndStatusValue(channel, mHeightAndStatusBuffer[i], cuffSwitchValue);
      for (uint64_t k = 0; k < ticks[i]; ++k) line.AppendValue(value);
    }
    line.Send();
  }
  mLastHeightAndStatus = mHeightAndStatusBuffer[n - 1];
}

void SampleCollector::SendBeats(size_t n) {
  StartGridIfNone(mBeatBuffer[0].mTime);
  std::array<ChannelLine, 5> lines{ChannelLine(mCycleLines, kFirstBeatChannel),
                                   ChannelLine(mCycleLines, kFirstBeatChannel + 1),
                                   ChannelLine(mCycleLines, kFirstBeatChannel + 2),
                                   ChannelLine(mCycleLines, kFirstBeatChannel + 3),
                                   ChannelLine(mCycleLines, kFirstBeatChannel + 4)};
  for (size_t i = 0; i < n; ++i) {
    const BeatToBeatSample& beat = mBeatBuffer[i];
    // A beat's values show only from the ticks after it: the ticks up to it
    // carry the previous beat's.
    const uint64_t ticks = TicksToFill(mGridTime, beat.mTime, L"Beat");
    std::array<int32_t, 5> held{};
    for (size_t c = 0; c < held.size(); ++c) held[c] = Scale(mHeldBeatValues[c], kBeatRanges[c]);
    for (uint64_t k = 0; k < ticks; ++k) {
      for (size_t c = 0; c < lines.size(); ++c) lines[c].AppendValue(held[c]);
    }
    mHeldBeatValues = {beat.mSystolic, beat.mMean, beat.mDiastolic, beat.mHeartRate,
                       beat.mInterbeatInterval};
    mGridTime = beat.mTime;
  }
  for (ChannelLine& line : lines) line.Send();
}

}  // namespace corvane
