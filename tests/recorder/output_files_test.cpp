// The recording files read back: CSV values in the channels' units, and
// EDF+ files (from EDFlib and from the recorder's own writer) opened with
// EDFlib's reader.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "csv_writer.h"
#include "edf_writer.h"
#include "plot.h"

#ifdef RECORDER_HAS_EDFLIB
#include <edflib.h>
#endif

namespace corvane::recorder {
namespace {

std::string TempPath(const std::string& name) {
  const auto folder = std::filesystem::temp_directory_path() / "corvane_recorder_test";
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream stream(line);
  for (std::string cell; std::getline(stream, cell, ',');) cells.push_back(cell);
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

// Row i: a finger pressure ramp, beat values that change every 150 rows,
// and status values far beyond their display full scale, as the device's
// fields can carry them (channel 10: 30 on a full scale of 10; channel 11:
// 1700 and -32768 on a full scale of 400).
Row MakeRow(uint64_t i) {
  Row row;
  row.index = i;
  const auto step = static_cast<int32_t>(i % 400);
  const auto beat = static_cast<int32_t>(i / 150);
  row.values = {8000 + step * 80,
                -400 + step * 80,
                9600 + beat * 80,
                7600,
                6000,
                5600,
                13712,
                32000,
                7200 - beat * 8,
                96000,
                i % 2 == 0 ? 136000 : -32768 * 80};
  return row;
}

TEST(RecorderCsvFile, HoldsTimeEveryChannelInItsUnitAndTheMarkers) {
  const std::string path = TempPath("values.csv");
  CsvWriter csv;
  ASSERT_TRUE(csv.Open(path));
  csv.Write(MakeRow(0));
  Row withoutBeats = MakeRow(1);
  withoutBeats.hasBeats = false;
  csv.Write(withoutBeats, "Marker 1");
  csv.Write(MakeRow(2), "Marker 2: \"cold\", left hand");
  ASSERT_TRUE(csv.Close());

  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "time_s,finger_pressure_mmHg,hcu_pressure_mmHg,systolic_mmHg,mean_mmHg,"
            "diastolic_mmHg,heart_rate_bpm,interbeat_interval_ms,status8,cuff_switch_s,"
            "status10,status11,marker");
  EXPECT_EQ(Split(lines[1]), (std::vector<std::string>{"0", "100", "-5", "120", "95", "75", "70",
                                                       "857", "4", "900", "30", "1700", ""}));
  EXPECT_EQ(Split(lines[2]), (std::vector<std::string>{"0.005", "101", "-4", "", "", "", "", "",
                                                       "4", "900", "30", "-32768", "Marker 1"}));
  // A text with a comma or a quote is one quoted cell.
  EXPECT_TRUE(lines[3].ends_with(",\"Marker 2: \"\"cold\"\", left hand\"")) << lines[3];
}

TEST(RecorderCsvFile, AnUnwritablePlaceIsReported) {
  CsvWriter csv;
  EXPECT_FALSE(csv.Open(TempPath("no/such/folder/values.csv")));
}

#ifdef RECORDER_HAS_EDFLIB

struct EdfContents {
  edf_hdr_struct header{};
  std::vector<std::vector<double>> signals;
  std::vector<std::pair<double, std::string>> annotations;
};

EdfContents ReadEdf(const std::string& path) {
  EdfContents contents;
  const int result =
      edfopen_file_readonly(path.c_str(), &contents.header, EDFLIB_READ_ALL_ANNOTATIONS);
  EXPECT_EQ(result, 0) << "EDFlib error " << contents.header.filetype;
  if (result != 0) return contents;
  const int handle = contents.header.handle;
  for (int s = 0; s < contents.header.edfsignals; ++s) {
    std::vector<double> samples(static_cast<size_t>(contents.header.signalparam[s].smp_in_file));
    EXPECT_EQ(edfread_physical_samples(handle, s, static_cast<int>(samples.size()), samples.data()),
              static_cast<int>(samples.size()));
    contents.signals.push_back(std::move(samples));
  }
  for (long long n = 0; n < contents.header.annotations_in_file; ++n) {
    edf_annotation_struct annotation{};
    edf_get_annotation(handle, static_cast<int>(n), &annotation);
    contents.annotations.emplace_back(static_cast<double>(annotation.onset) / EDFLIB_TIME_DIMENSION,
                                      annotation.annotation);
  }
  edfclose_file(handle);
  return contents;
}

class EdfFile : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<EdfWriter> Writer() {
    return GetParam() ? MakePlainEdfWriter() : MakeEdfWriter();
  }
  std::string Path(const std::string& name) {
    return TempPath((GetParam() ? "plain_" : "edflib_") + name);
  }
};

TEST_P(EdfFile, ReadsBackWithItsSignalsValuesAndAnnotations) {
  const std::string path = Path("values.edf");
  auto edf = Writer();
  EdfHeader header;
  header.equipment = "Corvane CV1234567";
  header.year = 2024;
  header.month = 3;
  header.day = 9;
  header.hour = 14;
  header.minute = 5;
  header.second = 7;
  std::string error;
  ASSERT_TRUE(edf->Open(path, header, error)) << error;
  constexpr uint64_t kRows = 2 * kSampleRate + 50;  // two records and a quarter
  for (uint64_t i = 0; i < kRows; ++i) edf->Write(MakeRow(i));
  edf->Annotate(0.0, "HCU not zeroed");
  edf->Annotate(1.235, "Switch to finger cuff 2");
  edf->Annotate(2.1, "abort: Corvane Controller communication error! and more words than fit");
  EXPECT_EQ(edf->InexactValues(), 0u);
  ASSERT_TRUE(edf->Close(error)) << error;

  const EdfContents file = ReadEdf(path);
  EXPECT_EQ(file.header.filetype, EDFLIB_FILETYPE_EDFPLUS);
  ASSERT_EQ(file.header.edfsignals, kChannelCount);
  EXPECT_EQ(file.header.datarecords_in_file, 3);
  EXPECT_EQ(file.header.datarecord_duration, EDFLIB_TIME_DIMENSION);
  EXPECT_EQ(file.header.startdate_year, 2024);
  EXPECT_EQ(file.header.starttime_minute, 5);
  EXPECT_STREQ(file.header.signalparam[0].label, "Finger pressure ");
  EXPECT_STREQ(file.header.signalparam[6].physdimension, "ms      ");
  for (int s = 0; s < kChannelCount; ++s) {
    const ChannelInfo& channel = Channels()[static_cast<size_t>(s)];
    EXPECT_EQ(file.header.signalparam[s].smp_in_datarecord, kSampleRate) << s;
    // The whole range of the channel's device field, one unit per step.
    EXPECT_DOUBLE_EQ(file.header.signalparam[s].phys_max - file.header.signalparam[s].phys_min,
                     65535.0)
        << s;
    EXPECT_GE(file.header.signalparam[s].phys_max, channel.fullScale) << s;
    ASSERT_EQ(file.signals[static_cast<size_t>(s)].size(), 3u * kSampleRate) << s;
    for (uint64_t i = 0; i < 3 * kSampleRate; ++i) {
      // The last record is filled up with the last row's values.
      const Row row = MakeRow(std::min(i, kRows - 1));
      ASSERT_EQ(file.signals[static_cast<size_t>(s)][i],
                ToPhysical(s, row.values[static_cast<size_t>(s)]))
          << "signal " << s << " sample " << i;
    }
  }
  ASSERT_EQ(file.annotations.size(), 5u);
  EXPECT_EQ(file.annotations[0], std::make_pair(0.0, std::string("HCU not zeroed")));
  EXPECT_EQ(file.annotations[1], std::make_pair(1.235, std::string("Switch to finger cuff 2")));
  EXPECT_EQ(file.annotations[2],
            std::make_pair(2.1, std::string("abort: Corvane Controller communication")));
  EXPECT_EQ(file.annotations[3],
            std::make_pair(2.1, std::string("error! and more words than fit")));
  EXPECT_EQ(file.annotations[4], std::make_pair(2.25, std::string("recording end")));
}

TEST_P(EdfFile, ManyLateAnnotationsStillFitInAShortFile) {
  const std::string path = Path("notes.edf");
  auto edf = Writer();
  std::string error;
  ASSERT_TRUE(edf->Open(path, EdfHeader{}, error)) << error;
  for (uint64_t i = 0; i < kSampleRate; ++i) edf->Write(MakeRow(i));
  for (int n = 0; n < kAnnotationSignals - 1; ++n) edf->Annotate(0.5, "note " + std::to_string(n));
  ASSERT_TRUE(edf->Close(error)) << error;
  const EdfContents file = ReadEdf(path);
  EXPECT_EQ(file.header.datarecords_in_file, 1);
  ASSERT_EQ(file.annotations.size(), static_cast<size_t>(kAnnotationSignals));
  EXPECT_EQ(file.annotations.back().second, "recording end");
}

INSTANTIATE_TEST_SUITE_P(RecorderWriters, EdfFile, ::testing::Values(false, true),
                         [](const auto& writer) { return writer.param ? "Plain" : "Edflib"; });

#endif  // RECORDER_HAS_EDFLIB

TEST(RecorderEdfFile, LongAnnotationsAreCutBetweenWords) {
  EXPECT_EQ(SplitAnnotation("HCU not zeroed"), std::vector<std::string>{"HCU not zeroed"});
  EXPECT_EQ(SplitAnnotation("Corvane Controller Error 12: Please restart the Corvane Controller "
                            "and Kymoview."),
            (std::vector<std::string>{"Corvane Controller Error 12: Please",
                                      "restart the Corvane Controller and", "Kymoview."}));
  const std::string word(50, 'x');
  EXPECT_EQ(SplitAnnotation(word), (std::vector<std::string>{word.substr(0, 40), word.substr(40)}));
  EXPECT_EQ(SplitAnnotation(std::string(40, 'y') + " z"),
            (std::vector<std::string>{std::string(40, 'y'), "z"}));
  EXPECT_TRUE(SplitAnnotation("   ").empty());
}

TEST(RecorderEdfFile, AnUnwritablePlaceIsReported) {
  auto edf = MakeEdfWriter();
  std::string error;
  EXPECT_FALSE(edf->Open(TempPath("no/such/folder/x.edf"), EdfHeader{}, error));
  EXPECT_FALSE(error.empty());
}

TEST(RecorderPlotAxis, TicksAreRoundNumbersInsideTheRange) {
  EXPECT_EQ(AxisTicks(0, 5, 10), (std::vector<double>{0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5}));
  EXPECT_EQ(AxisTicks(63.5, 131.2, 6), (std::vector<double>{70, 80, 90, 100, 110, 120, 130}));
  EXPECT_EQ(AxisTicks(-7, 7, 3), (std::vector<double>{-5, 0, 5}));
  EXPECT_TRUE(AxisTicks(5, 5, 4).empty());
}

}  // namespace
}  // namespace corvane::recorder
