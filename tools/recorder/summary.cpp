#include "summary.h"

#include <algorithm>
#include <cstdio>

namespace corvane::recorder {
namespace {

std::string Format(const char* format, double a, double b, double c) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

std::string SpreadLine(const char* name, const Spread& spread, const char* unit) {
  std::string line = std::string("  ") + name;
  line.resize(22, ' ');
  if (spread.count == 0) return line + "no beats\n";
  return line + Format("min %.1f  mean %.1f  max %.1f", spread.min, spread.Mean(), spread.max) +
         " " + unit + "\n";
}

}  // namespace

void Spread::Add(double value) {
  min = std::min(min, value);
  max = std::max(max, value);
  sum += value;
  ++count;
}

void BeatStatistics::Add(const Row& row) {
  if (!row.hasBeats) return;
  std::array<int32_t, 5> beat;
  std::copy_n(row.values.begin() + kSystolic, beat.size(), beat.begin());
  if (beat == mLast || beat == std::array<int32_t, 5>{}) return;
  mLast = beat;
  ++mBeats;
  mSystolic.Add(ToPhysical(kSystolic, beat[0]));
  mDiastolic.Add(ToPhysical(kDiastolic, beat[2]));
  mHeartRate.Add(ToPhysical(kHeartRate, beat[3]));
}

std::string ChannelRanges(uint32_t mask) {
  std::string text;
  for (int i = 0; i < kChannelCount; ++i) {
    if ((mask >> i & 1u) == 0) continue;
    int last = i;
    while (last + 1 < kChannelCount && (mask >> (last + 1) & 1u) != 0) ++last;
    text += (text.empty() ? "ch" : ", ch") + std::to_string(i + 1);
    if (last > i) text += "-ch" + std::to_string(last + 1);
    i = last;
  }
  return text;
}

std::string FormatSummary(const RowAssembler& rows, const BeatStatistics& beats,
                          uint64_t rowsWritten, const DeviceReport& device,
                          const OutputReport& output) {
  std::string text = "Summary\n";
  if (!device.generation.empty()) {
    text += "  generation          " + device.generation +
            (device.port.empty() ? "" : " on " + device.port) + "\n";
  }
  char duration[512];
  if (!output.writeFailure.empty()) {
    // The files hold what reached them, not what was received.
    const auto inFile = [](uint64_t fileRows, const std::string& name) {
      char seconds[64];
      std::snprintf(seconds, sizeof seconds, "%.2f s in ",
                    static_cast<double>(fileRows) / kSampleRate);
      return seconds + name + " (" + std::to_string(fileRows) + " rows)";
    };
    text += "  duration            " + inFile(output.csvRows, output.csvName) + ", " +
            inFile(output.edfRows, output.edfName) + ": " + output.writeFailure + "\n";
    duration[0] = '\0';
  } else if (output.heldRows > 0) {
    std::snprintf(duration, sizeof duration,
                  "  duration            %.2f s (%llu rows: %llu complete, %llu completed "
                  "with held values: %s)\n",
                  static_cast<double>(rowsWritten) / kSampleRate,
                  static_cast<unsigned long long>(rowsWritten),
                  static_cast<unsigned long long>(rowsWritten - output.heldRows),
                  static_cast<unsigned long long>(output.heldRows), output.heldChannels.c_str());
  } else {
    std::snprintf(duration, sizeof duration, "  duration            %.2f s (%llu complete rows)\n",
                  static_cast<double>(rowsWritten) / kSampleRate,
                  static_cast<unsigned long long>(rowsWritten));
  }
  text += duration;
  if (output.noEdf) text += "  EDF+ file           none: no rows were recorded\n";
  text += "  samples per channel ";
  for (int i = 0; i < kChannelCount; ++i) {
    text += (i == 0 ? "" : " ") + std::to_string(rows.Received(i));
  }
  text += "\n";
  const uint64_t most = rows.MostReceived();
  std::string gaps, trailing;
  // Without any beat (test modes make none) the beat channels are empty,
  // which is no gap either.
  const bool beatless = !rows.HasBeats();
  for (int i = 0; i < kChannelCount; ++i) {
    const uint64_t shortBy = most - rows.Received(i);
    if (shortBy == 0 || (beatless && IsBeatChannel(i))) continue;
    const std::string entry = "ch" + std::to_string(i + 1) + " " + std::to_string(shortBy);
    const bool tail = shortBy <= (IsBeatChannel(i) ? kBeatTrail : kFetchTrail);
    std::string& list = tail ? trailing : gaps;
    list += (list.empty() ? "" : ", ") + entry;
  }
  if (!trailing.empty()) text += "  short at the end    " + trailing + " samples\n";
  // The unit's lost frames, each break at its time: the rows hold the
  // frames before and after it.
  std::string breaks;
  constexpr size_t kBreaksShown = 10;
  for (size_t i = 0; i < device.gaps.size() && i < kBreaksShown; ++i) {
    char entry[96];
    std::snprintf(entry, sizeof entry, "%s%.2f s: %llu frame%s", breaks.empty() ? "" : ", ",
                  device.gaps[i].first, static_cast<unsigned long long>(device.gaps[i].second),
                  device.gaps[i].second == 1 ? "" : "s");
    breaks += entry;
  }
  if (device.gaps.size() > kBreaksShown) {
    breaks += " and " + std::to_string(device.gaps.size() - kBreaksShown) + " more";
  }
  if (!breaks.empty()) breaks += " lost";
  if (!gaps.empty()) gaps += " samples short";
  text += "  gaps                " +
          (gaps.empty() && breaks.empty()
               ? std::string("none")
               : gaps + (gaps.empty() || breaks.empty() ? "" : "; ") + breaks) +
          "\n";
  if (device.wristUnit) {
    // The unit numbers its data frames; what it sent but never arrived is
    // not among the values received.
    std::string lost = std::to_string(device.lostFrames);
    if (device.lostFrames > 0) {
      char seconds[64];
      std::snprintf(seconds, sizeof seconds, " (%.2f s) in %llu break%s",
                    static_cast<double>(device.lostFrames) / kSampleRate,
                    static_cast<unsigned long long>(device.sequenceErrors),
                    device.sequenceErrors == 1 ? "" : "s");
      lost += std::string(seconds) + " of the unit's sample counter (each under gaps)";
    }
    text += "  lost data frames    " + lost + "\n";
    if (device.repeatedFrames > 0) {
      text += "  repeated frames     " + std::to_string(device.repeatedFrames) +
              " (each stored once: no loss)\n";
    }
    if (device.reconnects > 0) {
      text += "  reconnects          " + std::to_string(device.reconnects) +
              " (the port was reopened)\n";
    }
  }
  text += "  beats               " + std::to_string(beats.Beats()) +
          (beatless && most > 0 ? " (no beat channel data: channels 3 to 7 are empty)" : "") + "\n";
  text += SpreadLine("systolic", beats.Systolic(), "mmHg");
  text += SpreadLine("diastolic", beats.Diastolic(), "mmHg");
  text += SpreadLine("heart rate", beats.HeartRate(), "bpm");
  return text;
}

}  // namespace corvane::recorder
