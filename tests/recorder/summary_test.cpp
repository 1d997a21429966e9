// The end-of-recording summary: beats and their spread, channels that fell
// short, and the terminal's progress bar.
#include <gtest/gtest.h>

#include <string>

#include "console.h"
#include "summary.h"

namespace corvane::recorder {
namespace {

Row BeatRow(int32_t systolic, int32_t diastolic, int32_t rate) {
  Row row;
  row.values[kSystolic] = systolic * 80;
  row.values[kMean] = (systolic + diastolic) * 40;
  row.values[kDiastolic] = diastolic * 80;
  row.values[kHeartRate] = rate * 80;
  row.values[kInterbeatInterval] = 60000 / rate * 16;
  return row;
}

TEST(RecorderBeatStatistics, EachChangeOfTheBeatValuesIsABeat) {
  BeatStatistics beats;
  beats.Add(Row{});  // held values before the first beat: zero
  beats.Add(BeatRow(120, 80, 60));
  beats.Add(BeatRow(120, 80, 60));  // the same beat, repeated at every tick
  beats.Add(BeatRow(130, 70, 75));
  beats.Add(BeatRow(110, 90, 60));
  Row withoutBeats = BeatRow(200, 20, 200);
  withoutBeats.hasBeats = false;
  beats.Add(withoutBeats);

  EXPECT_EQ(beats.Beats(), 3u);
  EXPECT_DOUBLE_EQ(beats.Systolic().min, 110);
  EXPECT_DOUBLE_EQ(beats.Systolic().max, 130);
  EXPECT_DOUBLE_EQ(beats.Systolic().Mean(), 120);
  EXPECT_DOUBLE_EQ(beats.Diastolic().min, 70);
  EXPECT_DOUBLE_EQ(beats.HeartRate().max, 75);
  EXPECT_DOUBLE_EQ(beats.HeartRate().Mean(), 65);
}

TEST(RecorderSummary, TellsTheEndsTrailFromGaps) {
  RowAssembler rows;
  const auto add = [&rows](int channel, int count) {
    std::string line = "+" + std::to_string(channel);
    for (int i = 0; i < count; ++i) line += ",1";
    ASSERT_TRUE(rows.AddLine(line));
  };
  add(1, 1000);
  add(2, 999);  // the last fetch brought one sample less
  for (int channel = 3; channel <= 7; ++channel) add(channel, 850);  // after the last beat
  add(8, 1000);
  add(9, 1000);
  add(10, 1000);
  add(11, 700);  // a real gap

  BeatStatistics beats;
  beats.Add(BeatRow(120, 80, 60));
  const std::string summary = FormatSummary(rows, beats, 700);
  EXPECT_NE(summary.find("duration            3.50 s (700 complete rows)"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("samples per channel 1000 999 850 850 850 850 850 1000 1000 1000 700"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("short at the end    ch2 1, ch3 150, ch4 150, ch5 150, ch6 150, ch7 150"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("gaps                ch11 300 samples short"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("beats               1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("systolic            min 120.0  mean 120.0  max 120.0 mmHg"),
            std::string::npos)
      << summary;

  // A recording without any beat: the empty beat channels are no gap.
  RowAssembler beatless;
  for (const int channel : {1, 2, 8, 9, 10, 11}) {
    ASSERT_TRUE(beatless.AddLine("+" + std::to_string(channel) + ",5,5"));
  }
  const std::string noBeats = FormatSummary(beatless, BeatStatistics{}, 2);
  EXPECT_NE(noBeats.find("gaps                none"), std::string::npos) << noBeats;
  EXPECT_NE(noBeats.find("beats               0 (no beat channel data"), std::string::npos)
      << noBeats;

  const std::string empty = FormatSummary(RowAssembler{}, BeatStatistics{}, 0);
  EXPECT_NE(empty.find("gaps                none"), std::string::npos) << empty;
  EXPECT_NE(empty.find("heart rate          no beats"), std::string::npos) << empty;
}

TEST(RecorderProgressBar, FillsItsCellsInProportion) {
  EXPECT_EQ(ProgressBar(0, "", 10), "[          ]   0%");
  EXPECT_EQ(ProgressBar(45, "Writing firmware", 10), "[####      ]  45%  Writing firmware");
  EXPECT_EQ(ProgressBar(130, "", 4), "[####] 100%");
  EXPECT_EQ(ProgressBar(-3, "", 4), "[    ]   0%");
}

}  // namespace
}  // namespace corvane::recorder
