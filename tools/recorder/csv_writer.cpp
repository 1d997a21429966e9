#include "csv_writer.h"

#include <charconv>

#include "recorder_platform.h"

namespace corvane::recorder {

std::string FormatNumber(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool CsvWriter::Open(const std::string& path) {
  mFile = OpenFile(path, "w");
  if (mFile == nullptr) return false;
  std::string header = "time_s";
  for (const ChannelInfo& channel : Channels()) header += "," + std::string(channel.csvName);
  header += "\n";
  mFailed = std::fputs(header.c_str(), mFile) < 0;
  return !mFailed;
}

void CsvWriter::Write(const Row& row) {
  if (mFile == nullptr) return;
  std::string line = FormatNumber(row.Seconds());
  for (int i = 0; i < kChannelCount; ++i) {
    line += ',';
    if (row.hasBeats || !IsBeatChannel(i)) {
      line += FormatNumber(ToPhysical(i, row.values[static_cast<size_t>(i)]));
    }
  }
  line += '\n';
  if (std::fputs(line.c_str(), mFile) < 0) mFailed = true;
  // A second at a time reaches the disk, so little is lost if the process dies.
  if (++mUnflushed >= kSampleRate) {
    std::fflush(mFile);
    mUnflushed = 0;
  }
}

bool CsvWriter::Close() {
  if (mFile == nullptr) return !mFailed;
  if (std::fclose(mFile) != 0) mFailed = true;
  mFile = nullptr;
  return !mFailed;
}

}  // namespace corvane::recorder
