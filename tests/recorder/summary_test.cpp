// The end-of-recording summary: beats and their spread, channels that fell
// short, the wrist unit's lost frames as the module log tells them, and the
// terminal's progress bar.
#include <gtest/gtest.h>

#include <string>

#include "console.h"
#include "device_events.h"
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

  // The end of an abort: the last rows completed with held values; a failed
  // write: what each file holds, not what was received; no rows: no EDF+.
  OutputReport held;
  held.heldRows = 150;
  held.heldChannels = "ch3-ch7 from 4.250 s";
  EXPECT_NE(FormatSummary(rows, beats, 1000, {}, held)
                .find("duration            5.00 s (1000 rows: 850 complete, 150 completed "
                      "with held values: ch3-ch7 from 4.250 s)\n"),
            std::string::npos);
  OutputReport failed;
  failed.writeFailure = "writing r.csv failed: File too large";
  failed.csvName = "r.csv";
  failed.edfName = "r.edf";
  failed.csvRows = 834;
  failed.edfRows = 800;
  EXPECT_NE(FormatSummary(rows, beats, 4000, {}, failed)
                .find("duration            4.17 s in r.csv (834 rows), 4.00 s in r.edf (800 "
                      "rows): writing r.csv failed: File too large\n"),
            std::string::npos);
  OutputReport none;
  none.noEdf = true;
  const std::string empty = FormatSummary(RowAssembler{}, BeatStatistics{}, 0, {}, none);
  EXPECT_NE(empty.find("EDF+ file           none: no rows were recorded"), std::string::npos)
      << empty;
  EXPECT_NE(empty.find("gaps                none"), std::string::npos) << empty;
  EXPECT_NE(empty.find("heart rate          no beats"), std::string::npos) << empty;
}

TEST(RecorderProgressBar, FillsItsCellsInProportion) {
  EXPECT_EQ(ProgressBar(0, "", 10), "[          ]   0%");
  EXPECT_EQ(ProgressBar(45, "Writing firmware", 10), "[####      ]  45%  Writing firmware");
  EXPECT_EQ(ProgressBar(130, "", 4), "[####] 100%");
  EXPECT_EQ(ProgressBar(-3, "", 4), "[    ]   0%");
}

TEST(RecorderProgressBar, NamesTheWindowAndEstimatesTheTimeLeftFromThePhasesPace) {
  const struct {
    int percent;
    double elapsed;
    PhasePace pace;
    const char* tail;  // after the bar
  } cases[] = {
      {0, 1.2, {0, 1.2}, "  0:01  Erasing"},  // no pace yet, no estimate
      {25, 10.0, {25, 10.0}, "  0:10, about 0:30 left  Erasing"},
      {50, 61.0, {50, 61.0}, "  1:01, about 1:01 left  Erasing"},
      {99, 99.0, {99, 99.0}, "  1:39, about 0:01 left  Erasing"},
      {100, 130.0, {100, 130.0}, "  2:10, done  Erasing"},
      // A slow first phase says nothing of the next: 10% after 4 s, of which
      // the current phase made 5 points in 0.5 s.
      {10, 4.0, {5, 0.5}, "  0:04, about 0:09 left  Erasing"},
      // The phase has just begun or not moved yet: no estimate.
      {10, 4.0, {0, 2.0}, "  0:04  Erasing"},
      {10, 4.0, {3, 0.2}, "  0:04  Erasing"},
  };
  for (const auto& c : cases) {
    const std::string line = ProgressLine("Updating", c.percent, "Erasing", c.elapsed, c.pace);
    EXPECT_EQ(line, "Updating " + ProgressBar(c.percent, "", kProgressLineBar) + c.tail)
        << c.percent << " " << c.pace.percent;
  }
  EXPECT_EQ(ProgressLine("", 10, "", 1, {10, 1}),
            ProgressBar(10, "", kProgressLineBar) + "  0:01, about 0:09 left");
}

TEST(RecorderSummary, NamesTheWristUnitAndCountsItsLostFrames) {
  RowAssembler rows;
  for (int channel = 1; channel <= 11; ++channel) {
    ASSERT_TRUE(rows.AddLine("+" + std::to_string(channel) + ",5,5"));
  }
  DeviceReport unit;
  unit.generation = "Nano (Vive Zore wrist unit)";
  unit.port = "/tmp/x/port";
  unit.wristUnit = true;
  unit.sequenceErrors = 2;
  unit.lostFrames = 300;
  unit.gaps = {{3.5, 299}, {7.25, 1}};
  unit.repeatedFrames = 4;
  unit.reconnects = 1;
  const std::string summary = FormatSummary(rows, BeatStatistics{}, 2, unit);
  EXPECT_NE(summary.find("gaps                3.50 s: 299 frames, 7.25 s: 1 frame lost\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("repeated frames     4 (each stored once: no loss)"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("generation          Nano (Vive Zore wrist unit) on "
                         "/tmp/x/port\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("lost data frames    300 (1.50 s) in 2 breaks"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("reconnects          1"), std::string::npos) << summary;

  unit = DeviceReport{};
  unit.generation = "Nano (Vive Zore wrist unit)";
  unit.wristUnit = true;
  const std::string clean = FormatSummary(rows, BeatStatistics{}, 2, unit);
  EXPECT_NE(clean.find("lost data frames    0\n"), std::string::npos) << clean;
  EXPECT_EQ(clean.find("reconnects"), std::string::npos) << clean;

  // The Controller has no frame counter to speak of.
  DeviceReport controllerReport;
  controllerReport.generation = "Controller";
  const std::string controller = FormatSummary(rows, BeatStatistics{}, 2, controllerReport);
  EXPECT_NE(controller.find("generation          Controller\n"), std::string::npos);
  EXPECT_EQ(controller.find("lost data frames"), std::string::npos) << controller;
}

TEST(RecorderDeviceEvents, ReadsTheWristUnitsStoryFromTheModuleLog) {
  DeviceEvents events;
  const char* lines[] = {
      "      0: Nano Driver: Looking for Vive Zore on /dev/ttyUSB0",
      "  0.020: Nano Driver: Looking for Vive Zore on /tmp/sim/port",
      "  2.779:  Nano Driver: transfer complete. Rebooting wrist unit",
      "  4.306:  Nano Driver: Image update complete and wrist unit rebooted",
      // The restarted unit counts afresh: no loss.
      "  4.900: !!! Nano Driver: Data sample counter sequence error. Expected 10 (0xa), got 968 "
      "(0x3c8)",
      // Three attempts, one reconnection.
      "  5.000: !!! Nano Driver trying port reconnect",
      "  5.250: !!! Nano Driver trying port reconnect",
      "  5.500: !!! Nano Driver trying port reconnect",
      "  5.501: !!! Nano Driver port reconnected",
      "   5.99: !!! Nano Driver: Data sample counter sequence error. Expected 600 (0x258), got "
      "798 (0x31e)",
      // The 16-bit counter wraps.
      "   6.50: !!! Nano Driver: Data sample counter sequence error. Expected 65530 (0xfffa), "
      "got 4 (0x4)",
      // A frame sent twice: stored once, nothing lost.
      "   6.70: !!! Nano Driver: Data sample counter sequence error. Expected 1001 (0x3e9), got "
      "1000 (0x3e8)",
      "   6.80: !!! Nano Driver: Data sample counter sequence error. garbled",
      "recorder: a line of the recorder's own",
  };
  for (const char* line : lines) events.Observe(line);
  DeviceEventCounts counts = events.Counts();
  EXPECT_EQ(counts.port, "/tmp/sim/port");
  EXPECT_EQ(counts.sequenceErrors, 2u);
  EXPECT_EQ(counts.lostFrames, 198u + 10u);
  ASSERT_EQ(counts.gaps.size(), 2u);
  EXPECT_EQ(counts.gaps[0].frames, 198u);
  EXPECT_EQ(counts.gaps[1].frames, 10u);
  EXPECT_EQ(counts.repeatedFrames, 1u);
  EXPECT_EQ(counts.reconnects, 1u);
  EXPECT_EQ(counts.updateOutcome, "Image update complete and wrist unit rebooted");
  EXPECT_FALSE(counts.updateFailed);

  const struct {
    const char* line;
    const char* outcome;
  } failures[] = {
      {"  44.1:   !!! Nano Driver: Wrist unit Reboot didn't complete successfully",
       "Wrist unit Reboot didn't complete successfully"},
      {"  1.0: !!! Nano Driver: failed to change to bootloader mode during patching",
       "failed to change to bootloader mode during patching"},
      {"  2.0:   !!! Nano Driver: packet order errors do not stop (9 so far, block 3 wanted 4 "
       "times in a row); update abandoned",
       "packet order errors do not stop (9 so far, block 3 wanted 4 times in a row); update "
       "abandoned"},
      {"  0.1: !!! Nano Driver: the wrist unit waits in its bootloader and no firmware image is "
       "installed",
       "the wrist unit waits in its bootloader and no firmware image is installed"},
  };
  for (const auto& failure : failures) {
    DeviceEvents failed;
    failed.Observe("  0.0: Nano Driver: Looking for Vive Zore on /dev/ttyUSB1");
    failed.Observe(failure.line);
    counts = failed.Counts();
    EXPECT_TRUE(counts.updateFailed) << failure.line;
    EXPECT_EQ(counts.updateOutcome, failure.outcome);
    // The search goes on to the next port; the failure is kept.
    failed.Observe("  9.0: Nano Driver: Looking for Vive Zore on /dev/ttyS0");
    counts = failed.Counts();
    EXPECT_FALSE(counts.updateFailed);
    EXPECT_EQ(counts.failedUpdatePort, "/dev/ttyUSB1");
    EXPECT_EQ(counts.failedUpdateReason, failure.outcome);
  }
}

}  // namespace
// The terminal's line on the firmware image, from the module's lines.
TEST(RecorderDeviceEvents, TellWhatBecameOfTheFirmwareImage) {
  const std::string kVersion = "MVX Nano driver v1.0 - Nano firmware v2.1.1.0, protocol v3";
  const std::string kUsing = "  0.1:   Nano Driver: Using firmware image file '/d/Devices/V.xml'";
  const struct {
    std::vector<std::string> lines;
    std::string said;
  } cases[] = {
      {{"  0.1:   Nano Driver: Using firmware image file ''"},
       "Firmware image: none in the Devices folder"},
      {{kUsing, "  3.0:  Nano Driver: Image update complete and wrist unit rebooted"},
       "Firmware image: /d/Devices/V.xml: installed"},
      {{kUsing, "  9.0:   !!! Nano Driver: Wrist unit Reboot didn't complete successfully"},
       "Firmware image: /d/Devices/V.xml: the update failed (Wrist unit Reboot didn't complete "
       "successfully)"},
      {{kUsing,
        "  0.2: !!! Nano Driver: firmware image file 'V.xml' is built for hardware 514, the "
        "wrist unit is hardware 3; it is not used"},
       "Firmware image: /d/Devices/V.xml: not used: is built for hardware 514, the wrist unit is "
       "hardware 3"},
      {{kUsing},
       "Firmware image: /d/Devices/V.xml: not needed (the unit runs 2.1.1.0, not older "
       "than the image)"},
  };
  for (const auto& c : cases) {
    DeviceEvents events;
    events.Observe("  0.0: Nano Driver: Looking for Vive Zore on /dev/ttyUSB1");
    for (const std::string& line : c.lines) events.Observe(line);
    EXPECT_EQ(FirmwareImageLine(events.Counts(), kVersion), c.said);
  }
}

}  // namespace corvane::recorder
