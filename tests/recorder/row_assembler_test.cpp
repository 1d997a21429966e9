// Data lines back into rows: channels that arrive at different moments, beat
// channels that trail, bare lines, and lines cut at their length limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reply_lines.h"
#include "row_assembler.h"

namespace corvane::recorder {
namespace {

// "+N,v,v,..." as the module writes it.
std::string Line(int channel, const std::vector<int32_t>& values) {
  std::string line = "+" + std::to_string(channel);
  for (const int32_t v : values) line += "," + std::to_string(v);
  return line;
}

// The module's way of sending many values: a line is sent when its comma
// would take it past 1024 characters (the number after the comma may still
// go beyond), and the rest follows in a new line that starts with "+" and
// the channel number again.
std::vector<std::string> CutLines(int channel, const std::vector<int32_t>& values) {
  std::vector<std::string> lines;
  std::string line = "+" + std::to_string(channel);
  for (const int32_t v : values) {
    if (line.size() + 1 > 1024) {
      lines.push_back(line);
      line = "+" + std::to_string(channel);
    }
    line += "," + std::to_string(v);
  }
  lines.push_back(line);
  return lines;
}

// One fetch cycle of the status channels (2, 8, 9, 10, 11).
void AddStatus(RowAssembler& rows, int count, int32_t base) {
  for (const int channel : {2, 8, 9, 10, 11}) {
    std::vector<int32_t> values;
    for (int i = 0; i < count; ++i) values.push_back(base + channel);
    ASSERT_TRUE(rows.AddLine(Line(channel, values)));
  }
}

void AddBeats(RowAssembler& rows, int count, int32_t base) {
  for (int channel = 3; channel <= 7; ++channel) {
    ASSERT_TRUE(rows.AddLine(Line(channel, std::vector<int32_t>(static_cast<size_t>(count),
                                                                base + channel))));
  }
}

TEST(RecorderReplyLines, AreToldApartByTheirFirstCharacters) {
  EXPECT_EQ(Classify("<OK"), LineKind::Ok);
  EXPECT_EQ(Classify("<Fail"), LineKind::Fail);
  EXPECT_EQ(Classify("=1"), LineKind::Answer);
  EXPECT_EQ(Classify("^Invalid command"), LineKind::Error);
  EXPECT_EQ(Classify("+1,9600"), LineKind::Data);
  EXPECT_EQ(Classify("+11"), LineKind::Data);
  EXPECT_EQ(Classify("&UHCU not zeroed"), LineKind::Comment);
  EXPECT_EQ(Classify("#abort dmsError_FingerTooThin - try smaller cuff"), LineKind::Abort);
  EXPECT_EQ(Classify("dmsError_NotAllowed - current function not allowed"), LineKind::Other);
  EXPECT_EQ(Classify("+"), LineKind::Other);
  EXPECT_EQ(Classify(""), LineKind::Other);

  EXPECT_EQ(LineText(LineKind::Comment, "&U Corvane Controller Error 13: x"),
            "Corvane Controller Error 13: x");
  EXPECT_EQ(LineText(LineKind::Abort, "#abort Corvane Controller communication error!"),
            "Corvane Controller communication error!");
  EXPECT_EQ(LineText(LineKind::Answer, "=CV1234567"), "CV1234567");
}

TEST(RecorderDataLines, ParseChannelAndValues) {
  const auto line = ParseDataLine("+2,-400,0,32000");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->channel, 2);
  EXPECT_EQ(line->values, (std::vector<int32_t>{-400, 0, 32000}));

  const auto bare = ParseDataLine("+9");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->channel, 9);
  EXPECT_TRUE(bare->values.empty());

  for (const char* bad : {"+0,1", "+12,1", "+1,", "+1,,2", "+1,5x", "+1;5", "1,5", "+a,1",
                          "+1,99999999999"}) {
    EXPECT_FALSE(ParseDataLine(bad)) << bad;
  }
}

TEST(RecorderRowAssembler, RowsWaitForTheTrailingBeatChannels) {
  RowAssembler rows;
  ASSERT_TRUE(rows.AddLine(Line(1, {8000, 8080, 8160, 8240})));
  AddStatus(rows, 4, 100);
  Row row;
  EXPECT_FALSE(rows.PopRow(row));  // no beat values yet
  EXPECT_EQ(rows.RowsWithoutBeats(), 4u);
  EXPECT_EQ(rows.CompleteRows(), 0u);

  AddBeats(rows, 3, 200);  // the beat channels catch up only partly
  for (uint64_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(rows.PopRow(row));
    EXPECT_EQ(row.index, i);
    EXPECT_TRUE(row.hasBeats);
    EXPECT_EQ(row.values[0], 8000 + 80 * static_cast<int32_t>(i));
    EXPECT_EQ(row.values[1], 102);   // channel 2
    EXPECT_EQ(row.values[2], 203);   // channel 3
    EXPECT_EQ(row.values[6], 207);   // channel 7
    EXPECT_EQ(row.values[10], 111);  // channel 11
  }
  EXPECT_FALSE(rows.PopRow(row));

  AddBeats(rows, 1, 300);
  ASSERT_TRUE(rows.PopRow(row));
  EXPECT_EQ(row.index, 3u);
  EXPECT_DOUBLE_EQ(row.Seconds(), 0.015);
  EXPECT_EQ(row.values[0], 8240);
  EXPECT_EQ(row.values[4], 305);
  EXPECT_EQ(rows.Received(0), 4u);
  EXPECT_EQ(rows.Received(2), 4u);
}

TEST(RecorderRowAssembler, BareLinesCarryNothingAndChannelsMayComeInAnyOrder) {
  RowAssembler rows;
  for (int channel = 1; channel <= 11; ++channel) ASSERT_TRUE(rows.AddLine("+" + std::to_string(channel)));
  EXPECT_EQ(rows.MostReceived(), 0u);

  // Channel 11 first, channel 1 last.
  for (int channel = 11; channel >= 1; --channel) {
    Row row;
    EXPECT_FALSE(rows.PopRow(row));
    ASSERT_TRUE(rows.AddLine(Line(channel, {channel * 10, channel * 10 + 1})));
  }
  Row row;
  ASSERT_TRUE(rows.PopRow(row));
  for (size_t i = 0; i < 11; ++i) EXPECT_EQ(row.values[i], static_cast<int32_t>(i + 1) * 10);
  ASSERT_TRUE(rows.PopRow(row));
  EXPECT_EQ(row.values[10], 111);
  EXPECT_FALSE(rows.PopRow(row));
}

TEST(RecorderRowAssembler, ALineCutAtItsLengthLimitContinuesInTheNextLine) {
  std::vector<int32_t> values;
  for (int32_t i = 0; i < 300; ++i) values.push_back(10000 + i);  // 6 characters each
  const std::vector<std::string> lines = CutLines(1, values);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_GT(lines[0].size(), 1018u);
  EXPECT_LE(lines[0].size(), 1030u);
  EXPECT_EQ(lines[1].substr(0, 3), "+1,");

  RowAssembler rows;
  for (const std::string& line : lines) ASSERT_TRUE(rows.AddLine(line));
  for (int channel = 2; channel <= 11; ++channel) {
    for (const std::string& line : CutLines(channel, std::vector<int32_t>(300, channel))) {
      ASSERT_TRUE(rows.AddLine(line));
    }
  }
  Row row;
  for (int32_t i = 0; i < 300; ++i) {
    ASSERT_TRUE(rows.PopRow(row));
    ASSERT_EQ(row.values[0], 10000 + i) << "row " << i;
  }
  EXPECT_FALSE(rows.PopRow(row));
}

TEST(RecorderRowAssembler, MalformedLinesAddNothing) {
  RowAssembler rows;
  EXPECT_FALSE(rows.AddLine("+1,5,x,7"));
  EXPECT_FALSE(rows.AddLine("+13,5"));
  EXPECT_EQ(rows.Received(0), 0u);
  EXPECT_EQ(rows.MalformedLines(), 2u);
}

TEST(RecorderRowAssembler, WithoutAnyBeatTheOtherChannelsMakeRowsAtTheEnd) {
  RowAssembler rows;
  ASSERT_TRUE(rows.AddLine(Line(1, {4800, 4800, 9600})));
  AddStatus(rows, 2, 0);
  Row row;
  EXPECT_FALSE(rows.PopRow(row));
  ASSERT_TRUE(rows.PopRowWithoutBeats(row));
  EXPECT_FALSE(row.hasBeats);
  EXPECT_EQ(row.values[0], 4800);
  EXPECT_EQ(row.values[2], 0);
  ASSERT_TRUE(rows.PopRowWithoutBeats(row));
  EXPECT_EQ(row.index, 1u);
  EXPECT_FALSE(rows.PopRowWithoutBeats(row));  // channel 2 has only two samples

  RowAssembler withBeats;
  ASSERT_TRUE(withBeats.AddLine(Line(1, {1, 2})));
  AddStatus(withBeats, 2, 0);
  ASSERT_TRUE(withBeats.AddLine(Line(3, {5})));
  EXPECT_FALSE(withBeats.PopRowWithoutBeats(row));  // beats came: rows must be complete

  // At the end every finger-pressure value becomes a row; the channels that
  // have not reached it hold their last value (zero before their first),
  // marked as held.
  ASSERT_TRUE(withBeats.AddLine(Line(1, {3, 4})));
  for (int32_t finger = 1; finger <= 4; ++finger) {
    ASSERT_TRUE(withBeats.PopRowHeld(row)) << finger;
    EXPECT_EQ(row.values[0], finger);
    EXPECT_TRUE(row.Has(0));
    EXPECT_EQ(row.Has(1), finger <= 2);  // the status channels have two samples
    EXPECT_EQ(row.Has(2), finger == 1);  // channel 3 one
    EXPECT_EQ(row.values[2], 5);
    EXPECT_FALSE(row.Has(3));
    EXPECT_EQ(row.values[3], 0);
  }
  EXPECT_FALSE(withBeats.PopRowHeld(row));
}

}  // namespace
}  // namespace corvane::recorder
