// Data lines from scripted device records: conversion, the 5 ms grid, line
// cutting, flushing, and the guards against bad time stamps.
#include "engine/sample_collector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/dms_wrapper.h"
#include "engine/error_catalogue.h"
#include "fake_back_end.h"
#include "support/debug_trace.h"

namespace corvane {
namespace {

using testing::FakeBackEnd;

constexpr uint64_t kT0 = 133000000000000000;  // a FILETIME in 2022
constexpr uint64_t kTick = kSamplePeriodTicks;
constexpr uint64_t kMs = 10000;

PressureSample Pressure(uint64_t t, uint16_t mmHg) { return {t, mmHg, 0}; }
HeightAndStatusSample Height(uint64_t t, int16_t mmHg, DMSStatus status = {}) {
  return {t, mmHg, 0, status};
}
BeatToBeatSample Beat(uint64_t t, uint16_t sys, uint16_t mean, uint16_t dia, uint16_t hr,
                      uint16_t ibi) {
  return {t, sys, mean, dia, hr, ibi, 0};
}

// Values of all lines of `channel`, joined across cuts.
std::string Values(const std::vector<std::string>& lines, int channel) {
  const std::string head = "+" + std::to_string(channel);
  std::string values;
  for (const auto& line : lines) {
    if (line.substr(0, line.find(',')) == head) values += line.substr(head.size());
  }
  return values;
}

std::string Repeat(const std::string& field, size_t n) {
  std::string s;
  while (n-- > 0) s += field;
  return s;
}

class SampleCollectorTest : public ::testing::Test {
 protected:
  SampleCollectorTest() {
    MVX::SetTraceSinkForTesting([this](const std::string& line) { trace.push_back(line); });
  }
  ~SampleCollectorTest() override { MVX::SetTraceSinkForTesting(nullptr); }

  std::vector<std::string> Cycle(int64_t countdownMs = 0, int32_t* count = nullptr) {
    collector.CollectSamples(engine, count, countdownMs);
    std::vector<std::string> lines;
    std::array<char, 4096> buffer{};
    while (engine.ReplyRing().ReadLine(buffer.data(), buffer.size()) != 0) {
      lines.emplace_back(buffer.data());
    }
    return lines;
  }
  size_t TraceCount(const std::string& text) const {
    return static_cast<size_t>(std::count_if(trace.begin(), trace.end(), [&](const auto& line) {
      return line.find(text) != std::string::npos;
    }));
  }

  std::vector<std::string> trace;
  // Inert (no worker): it only sends the lines, so the test drives every cycle.
  DMSWrapper engine{[] {
    auto inert = std::make_unique<FakeBackEnd>();
    inert->loadedOk = false;
    return std::unique_ptr<FinapresAPI_I>(std::move(inert));
  }};
  std::shared_ptr<FakeBackEnd> device = std::make_shared<FakeBackEnd>();
  SampleCollector collector{device};
};

TEST_F(SampleCollectorTest, PressureLineAndCountAtMost32PerCycle) {
  device->pressure = {Pressure(kT0, 100), Pressure(kT0 + kTick, 101),
                      Pressure(kT0 + 2 * kTick, 102), Pressure(kT0 + 3 * kTick, 103)};
  device->markers.resize(3);
  int32_t count = -1;
  EXPECT_EQ(Cycle(0, &count), std::vector<std::string>{"+1,8000,8080,8160,8240"});
  EXPECT_EQ(count, 4);

  for (uint64_t i = 0; i < 40; ++i) device->pressure.push_back(Pressure(kT0 + (4 + i) * kTick, 1));
  EXPECT_EQ(Cycle(0, &count), std::vector<std::string>{"+1" + Repeat(",80", 32)});
  EXPECT_EQ(count, 32);
  Cycle(0, &count);
  EXPECT_EQ(count, 8);
  EXPECT_TRUE(device->markers.empty());
}

TEST_F(SampleCollectorTest, LostPressureSamplesHoldTheirTicks) {
  struct Step {
    std::vector<uint64_t> ticks;  // record times, in periods from kT0 (x10: tenths)
    std::string values;           // channel 1 of the cycle
  };
  // Values: 1 mmHg (80) per record, counting up.
  const std::vector<Step> steps = {
      {{0, 10, 30}, ",80,160,160,240"},  // counter 2 lost: its tick holds counter 1's value
      {{42}, ",320"},                    // 1.2 periods later: jitter, nothing lost
      {{70}, ",320,320,400"},            // 2.8 periods: two lost, across cycles
      {{70, 60}, ",480,560"},            // at or before the last time: kept, nothing held
      {{80, 95}, ",560,640,720"},        // 2 periods from the earlier time; then 1.5: none
      {{95 + 120020}, ",800"},           // over 60 s on: a clock jump, not filled
  };
  uint16_t mmHg = 1;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.values);
    for (const uint64_t t : step.ticks)
      device->pressure.push_back(Pressure(kT0 + t * kTick / 10, mmHg++));
    EXPECT_EQ(Values(Cycle(), 1), step.values);
  }
  EXPECT_EQ(TraceCount("!!! Pressure time jumped ahead by 60010 ms"), 1u);

  // A start begins afresh: no hold from the last recording's time.
  collector.FlushSamples();
  device->pressure = {Pressure(kT0 + 200000 * kTick, 5)};
  EXPECT_EQ(Values(Cycle(), 1), ",400");
}

TEST_F(SampleCollectorTest, ConversionOfEveryHeightAndStatusChannel) {
  device->pressure = {Pressure(kT0, 0)};
  DMSStatus status{};
  status.mChannel8 = 0x0001FFFF;   // low half -1
  status.mChannel10 = 100000;      // the product wraps in 32 bits
  status.mChannel11 = 0x00018000;  // low half -32768
  device->heightAndStatus = {Height(kT0 + kTick, -5, status)};
  const auto lines = Cycle();
  EXPECT_EQ(lines, (std::vector<std::string>{"+1,0", "+2,-400", "+8,-8000", "+9,0",
                                             "+10,-109496729", "+11,-2621440"}));
}

TEST_F(SampleCollectorTest, HeightAndStatusRecordsFillTheTicksUpToTheirTime) {
  device->pressure = {Pressure(kT0, 0)};
  device->heightAndStatus = {Height(kT0, 1)};  // at the origin: nothing to fill
  EXPECT_EQ(Cycle(), (std::vector<std::string>{"+1,0", "+2", "+8", "+9", "+10", "+11"}));

  device->heightAndStatus = {Height(kT0 + 5 * kTick, 1), Height(kT0 + 10 * kTick, 2)};
  EXPECT_EQ(Values(Cycle(), 2), Repeat(",80", 5) + Repeat(",160", 5));

  // Off the grid: 12 ms fill three ticks, the next 3 ms one; the position
  // carries over to the next cycle.
  device->heightAndStatus = {Height(kT0 + 10 * kTick + 12 * kMs, 3)};
  EXPECT_EQ(Values(Cycle(), 2), ",240,240,240");
  DMSStatus failed{};
  failed.mError = dmsError_CuffCable;
  device->heightAndStatus = {Height(kT0 + 10 * kTick + 15 * kMs, 4, failed)};
  EXPECT_EQ(Values(Cycle(), 2), ",320");
  EXPECT_EQ(collector.LastHeightAndStatus().mStatus.mError, dmsError_CuffCable);
}

TEST_F(SampleCollectorTest, CuffSwitchChannelCarriesTheCountdown) {
  device->pressure = {Pressure(kT0, 0)};
  device->heightAndStatus = {Height(kT0 + 2 * kTick, 0)};
  EXPECT_EQ(Values(Cycle(600999), 9), ",4800,4800");
  engine.SetFlag(kFlagEnableCuffSwitching, false);
  device->heightAndStatus = {Height(kT0 + 3 * kTick, 0)};
  EXPECT_EQ(Values(Cycle(600000), 9), ",8");

  EXPECT_EQ(CuffSwitchChannelValue(true, false, 999), 0);
  EXPECT_EQ(CuffSwitchChannelValue(true, true, 600000), 8);
  EXPECT_EQ(CuffSwitchChannelValue(false, false, 600000), 8);
}

TEST_F(SampleCollectorTest, BeatChannelsHoldTheLastBeatUntilTheNext) {
  device->pressure = {Pressure(kT0, 0)};
  device->beats = {Beat(kT0 + 8 * kMs, 120, 90, 80, 60, 1000)};
  auto lines = Cycle();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "+3,0,0");  // ticks before the first beat: nothing held yet

  // 12 ms after the previous beat: three ticks of its values.
  device->beats = {Beat(kT0 + 20 * kMs, 200, 100, 60, 120, 500)};
  EXPECT_EQ(Cycle(),
            (std::vector<std::string>{"+3,9600,9600,9600", "+4,7200,7200,7200", "+5,6400,6400,6400",
                                      "+6,4800,4800,4800", "+7,16000,16000,16000"}));
  // A beat at the grid time fills nothing but its values replace the held ones.
  device->beats = {Beat(kT0 + 20 * kMs, 1, 1, 1, 1, 2000), Beat(kT0 + 25 * kMs, 1, 1, 1, 1, 1)};
  EXPECT_EQ(Values(Cycle(), 7), ",32000");

  device->beats = {Beat(kT0 + 25 * kMs, 1, 1, 1, 1, 1)};
  EXPECT_EQ(Cycle(), (std::vector<std::string>{"+3", "+4", "+5", "+6", "+7"}));
  device->pressure = {Pressure(kT0 + kTick, 0)};
  EXPECT_EQ(Cycle(), std::vector<std::string>{"+1,0"});  // no beat fetched: no beat lines
}

TEST_F(SampleCollectorTest, LongLinesAreCutBeforeAComma) {
  device->pressure = {Pressure(kT0, 0)};
  DMSStatus status{};
  status.mChannel10 = -1;  // ",-3200": "+10" and 170 of them make 1023 characters
  device->heightAndStatus = {Height(kT0 + 400 * kTick, 0, status)};
  const auto lines = Cycle();
  std::vector<size_t> pieces;
  for (const auto& line : lines) {
    if (line.rfind("+10,", 0) == 0) pieces.push_back(line.size());
  }
  // 1023 is still short of the cut; the next value takes the line to 1029.
  EXPECT_EQ(pieces, (std::vector<size_t>{1029, 1029, 3 + 58 * 6}));
  EXPECT_EQ(Values(lines, 10), Repeat(",-3200", 400));
}

TEST_F(SampleCollectorTest, FlushDiscardsQueuesAndRestartsTheGrid) {
  device->pressure = {Pressure(kT0, 0)};
  DMSStatus failed{};
  failed.mError = dmsError_AirSupply;
  device->heightAndStatus = {Height(kT0 + kTick, 0, failed)};
  device->beats = {Beat(kT0 + kTick, 100, 100, 100, 100, 100)};
  Cycle();
  device->pressure = {Pressure(kT0 + kTick, 0)};
  device->markers.resize(3);
  trace.clear();
  collector.FlushSamples();

  EXPECT_TRUE(device->pressure.empty() && device->markers.empty());
  EXPECT_EQ(device->Calls(),
            (std::vector<std::string>{
                "DMS_GetPressureSamples(discard)", "DMS_GetHeightAndStatusSamples(discard)",
                "DMS_GetBeatToBeatSamples(discard)", "DMS_GetMarkerSamples(discard)"}));
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_NE(trace[0].find("DMSWrapper"), std::string::npos);
  EXPECT_NE(trace[0].find("): FlushSamples() starting flush\r\n"), std::string::npos);
  EXPECT_NE(trace[1].find("): FlushSamples() done.\r\n"), std::string::npos);
  EXPECT_EQ(collector.LastHeightAndStatus().mStatus.mError, dmsError_AirSupply);

  // 10 s later: the old position would fill 2000 ticks, the new origin one;
  // the held beat values start again from 0.
  const uint64_t t1 = kT0 + 10000 * kMs;
  device->pressure = {Pressure(t1, 0)};
  device->heightAndStatus = {Height(t1 + kTick, 0)};
  device->beats = {Beat(t1 + kTick, 1, 1, 1, 1, 1)};
  const auto lines = Cycle();
  EXPECT_EQ(Values(lines, 2), ",0");
  EXPECT_EQ(Values(lines, 3), ",0");
}

TEST_F(SampleCollectorTest, FailedFetchIsTracedAndItsRecordsUsed) {
  struct OverReporting : FakeBackEnd {
    int32_t DMS_GetPressureSamples(uint16_t* count, PressureSample* records) override {
      *count = SampleCollector::kBufferRecords;  // uses the spare record
      FakeBackEnd::DMS_GetPressureSamples(count, records);
      *count = 500;  // and reports more than there was room for
      return dmsError_CpuOverload;
    }
  };
  auto faulty = std::make_shared<OverReporting>();
  SampleCollector faultyCollector(faulty);
  faulty->pressure.assign(40, Pressure(kT0, 1));
  faultyCollector.CollectSamples(engine, nullptr, 0);
  std::array<char, 4096> buffer{};
  ASSERT_NE(engine.ReplyRing().ReadLine(buffer.data(), buffer.size()), 0u);
  EXPECT_EQ(std::string(buffer.data()), "+1" + Repeat(",80", SampleCollector::kBufferRecords));
  EXPECT_EQ(TraceCount("!!! err == " + DescribeDmsError(dmsError_CpuOverload).ToUtf8()), 1u);
}

TEST_F(SampleCollectorTest, FirstRecordOfAnyKindStartsTheGrid) {
  // Without pressure the grid would start at time 0 and fill since 1601.
  device->heightAndStatus = {Height(kT0, 1)};
  EXPECT_EQ(Cycle(), (std::vector<std::string>{"+2", "+8", "+9", "+10", "+11"}));
  device->beats = {Beat(kT0 + 2 * kTick, 1, 1, 1, 1, 1)};
  EXPECT_EQ(Values(Cycle(), 3), ",0,0");

  collector.FlushSamples();
  device->beats = {Beat(kT0, 1, 1, 1, 1, 1)};
  EXPECT_EQ(Cycle(), (std::vector<std::string>{"+3", "+4", "+5", "+6", "+7"}));
  device->heightAndStatus = {Height(kT0 + 2 * kTick, 1)};
  EXPECT_EQ(Values(Cycle(), 2), ",80,80");
  EXPECT_EQ(TraceCount("!!! "), 0u);
}

TEST_F(SampleCollectorTest, ClockJumpFillsOnlyTheRecordsOwnTick) {
  device->pressure = {Pressure(kT0, 0)};
  device->heightAndStatus = {Height(kT0 + 10000 * kMs, 0)};  // 10 s: a real gap, filled
  auto lines = Cycle();
  EXPECT_EQ(Values(lines, 8), Repeat(",0", 2000));
  EXPECT_EQ(TraceCount("!!! "), 0u);

  const uint64_t jumped = kT0 + 71000 * kMs;
  device->heightAndStatus = {Height(jumped, 1), Height(jumped + kTick, 2)};
  device->beats = {Beat(jumped, 1, 1, 1, 1, 1)};
  lines = Cycle();
  EXPECT_EQ(Values(lines, 2), ",80,160");
  EXPECT_EQ(Values(lines, 3), ",0");
  EXPECT_EQ(TraceCount("!!! Height-and-status time jumped ahead by 61000 ms"), 1u);
  EXPECT_EQ(TraceCount("!!! Beat time jumped ahead by 71000 ms"), 1u);
}

}  // namespace
}  // namespace corvane
