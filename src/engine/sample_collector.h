// Turns the device's records into the host's 11 data channels at 200 per
// second, on a full scale of 32000, one text line per channel and fetch cycle.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/finapres_api_i.h"
#include "support/mvx_string.h"

namespace corvane {

class DMSWrapper;

class SampleCollector {
 public:
  static constexpr uint16_t kFetchCapacity = 32;  // records asked for per fetch
  static constexpr size_t kBufferRecords = 33;    // room provided per fetch

  explicit SampleCollector(std::shared_ptr<FinapresAPI_I> device);

  // Empties the device's queues and puts the grid back to "no time yet".
  void FlushSamples();

  // One fetch cycle over all record kinds; sends the channels' lines through
  // `engine`. `count` (optional) receives the pressure records fetched;
  // `countdownMs` is the time left to the next cuff switch, 0 or more.
  void CollectSamples(DMSWrapper& engine, int32_t* count, int64_t countdownMs);

  // The newest height-and-status record handled (its status carries the
  // device's error at that time).
  const HeightAndStatusSample& LastHeightAndStatus() const { return mLastHeightAndStatus; }
  // The error in the newest record's status, cleared so it is taken once.
  int32_t TakeLastRecordError() { return std::exchange(mLastHeightAndStatus.mStatus.mError, 0); }

 private:
  // Gives the grid its origin from the first record of whichever kind comes
  // first after a flush, so no tick loop starts from time 0.
  void StartGridIfNone(uint64_t firstTime);
  // Each step puts its channels' lines into mCycleLines.
  void SendPressure(size_t n);
  void SendHeightAndStatus(size_t n, int32_t cuffSwitchValue);
  void SendBeats(size_t n);

  std::shared_ptr<FinapresAPI_I> mDevice;
  std::vector<HeightAndStatusSample> mHeightAndStatusBuffer;
  std::vector<BeatToBeatSample> mBeatBuffer;
  std::vector<PressureSample> mPressureBuffer;
  std::vector<MarkerSample> mMarkerBuffer;
  HeightAndStatusSample mLastHeightAndStatus{};
  uint64_t mGridTime = 0;                     // where the beat channels stand; 0 = none
  uint64_t mLastPressureTime = 0;             // of the newest pressure record; 0 = none
  int32_t mHeldPressure = 0;                  // its channel 1 value, held over lost ticks
  std::vector<MVX::MVXString> mCycleLines;    // the lines of the fetch cycle under way
  std::array<uint16_t, 5> mHeldBeatValues{};  // systolic, mean, diastolic, rate, interval
};

// The channel 9 value of one fetch cycle: the time left to the next cuff
// switch on a 4000 s full scale, or one second's worth (8) when the cuffs do
// not switch or a test mode runs.
int32_t CuffSwitchChannelValue(bool cuffSwitching, bool testEnabled, int64_t countdownMs);

}  // namespace corvane
