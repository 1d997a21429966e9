#include "csv_writer.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "platform/fs_path.h"
#include "recorder_platform.h"
#include "support/utf8.h"

namespace corvane::recorder {

std::string FormatNumber(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool CsvWriter::Open(const std::string& path) {
  mPath = path;
  mFile = OpenFile(path, "w");
  if (mFile == nullptr) return false;
  std::string header = "time_s";
  for (const ChannelInfo& channel : Channels()) header += "," + std::string(channel.csvName);
  header += ",marker\n";
  if (std::fputs(header.c_str(), mFile) < 0) Fail();
  mBytes = header.size();
  return !mFailed;
}

void CsvWriter::Fail() {
  if (!mFailed) mError = std::strerror(errno);
  mFailed = true;
}

namespace {

// A cell as the CSV's readers take it: quoted where it holds a comma, a
// quote or a line end, its quotes doubled.
std::string CsvCell(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string cell = "\"";
  for (const char c : text) cell += c == '"' ? std::string("\"\"") : std::string(1, c);
  return cell + "\"";
}

}  // namespace

void CsvWriter::Write(const Row& row, std::string_view marker) {
  if (mFile == nullptr || mFailed) return;
  std::string line = FormatNumber(row.Seconds());
  for (int i = 0; i < kChannelCount; ++i) {
    line += ',';
    if (row.Has(i)) line += FormatNumber(ToPhysical(i, row.values[static_cast<size_t>(i)]));
  }
  line += ',' + CsvCell(marker) + '\n';
  if (std::fputs(line.c_str(), mFile) < 0) {
    Fail();
    return;
  }
  mBytes += line.size();
  mRowEnds.push_back(mBytes);
  ++mRows;
  // A second at a time reaches the disk, so little is lost if the process dies.
  if (mRowEnds.size() >= kSampleRate) Flush();
}

bool CsvWriter::Flush() {
  if (mFile == nullptr || mFailed) return !mFailed;
  errno = 0;
  if (std::fflush(mFile) != 0 || std::ferror(mFile) != 0) {
    Fail();
    return false;
  }
  mFlushedBytes = mBytes;
  mFlushedRows = mRows;
  mRowEnds.clear();
  return true;
}

bool CsvWriter::Close() {
  if (mFile == nullptr) return !mFailed;
  Flush();
  if (std::fclose(mFile) != 0 && !mFailed) Fail();
  mFile = nullptr;
  if (!mFailed) return true;
  // Whatever reached the file beyond the last good flush: its whole rows
  // stay, a cut last line goes.
  std::error_code error;
  const auto path = platform::ToFsPath(MVX::Utf8ToWide(mPath));
  const uint64_t size = std::filesystem::file_size(path, error);
  uint64_t keep = mFlushedBytes;
  mRows = mFlushedRows;
  for (const uint64_t end : mRowEnds) {
    if (error || end > size) break;
    keep = end;
    ++mRows;
  }
  if (!error && size > keep) std::filesystem::resize_file(path, keep, error);
  mRowEnds.clear();
  return false;
}

}  // namespace corvane::recorder
