#include "edf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/fs_path.h"
#include "recorder_platform.h"
#include "support/utf8.h"

namespace corvane::recorder {

EdfScale ChannelScale(int index) {
  const ChannelInfo& channel = Channels()[static_cast<size_t>(index)];
  const auto rawPerUnit = static_cast<int32_t>(kDigitalFullScale / channel.fullScale);
  // Height and the status fields are signed; pressures, beat values and the
  // cuff-switch countdown are not.
  const bool isSigned = index == 1 || index == 7 || index == 9 || index == 10;
  return {rawPerUnit, isSigned ? -32768 : 0};
}

int EdfDigital(int index, int32_t raw, bool& exact) {
  const EdfScale scale = ChannelScale(index);
  const int64_t unit = std::llround(static_cast<double>(raw) / scale.rawPerUnit);
  const int64_t digital = unit - scale.firstUnit + kEdfDigitalMin;
  const int64_t stored = std::clamp<int64_t>(digital, kEdfDigitalMin, kEdfDigitalMax);
  exact = stored == digital && unit * scale.rawPerUnit == raw;
  return static_cast<int>(stored);
}

bool EdfWriter::Open(const std::string& path, const EdfHeader& header, std::string& error) {
  mPath = path;
  mOpen = OpenFile(path, header, error);
  return mOpen;
}

void EdfWriter::Write(const Row& row) {
  if (!mOpen || mFailed) return;
  for (size_t i = 0; i < kChannelCount; ++i) {
    bool exact = true;
    mRecord[i][static_cast<size_t>(mFill)] = EdfDigital(static_cast<int>(i), row.values[i], exact);
    if (!exact) ++mInexact;
  }
  ++mRows;
  if (++mFill == kSampleRate) {
    if (!WriteRecord(mRecord)) mFailed = true;
    ++mRecords;
    mFill = 0;
  }
}

std::vector<std::string> SplitAnnotation(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = text.find_first_not_of(' ');
  while (start != std::string::npos) {
    size_t end = start + kMaxAnnotationChars;
    if (end >= text.size()) {
      end = text.size();
    } else if (text[end] != ' ') {
      const size_t blank = text.rfind(' ', end);
      if (blank != std::string::npos && blank > start) end = blank;
    }
    const size_t last = text.find_last_not_of(' ', end - 1);
    parts.push_back(text.substr(start, last - start + 1));
    start = text.find_first_not_of(' ', end);
  }
  return parts;
}

void EdfWriter::Annotate(double seconds, const std::string& text) {
  if (!mOpen) return;
  const long long onset = std::llround(std::max(0.0, seconds) * 10000.0);
  for (const std::string& part : SplitAnnotation(text)) WriteAnnotation(onset, part);
}

bool EdfWriter::Close(std::string& error) {
  if (!mOpen) return true;
  if (mRows > 0) Annotate(static_cast<double>(mRows) / kSampleRate, "recording end");
  mOpen = false;
  if (mFill > 0) {
    for (auto& signal : mRecord) {
      std::fill(signal.begin() + mFill, signal.end(), signal[static_cast<size_t>(mFill - 1)]);
    }
    if (!WriteRecord(mRecord)) mFailed = true;
    ++mRecords;
    mFill = 0;
  }
  const bool closed = CloseFile(error);
  const auto path = platform::ToFsPath(MVX::Utf8ToWide(mPath));
  if (mRows == 0) {
    std::error_code removeError;
    mRemoved = std::filesystem::remove(path, removeError);
    return closed || mRemoved;
  }
  // A write that failed may show only when the file is closed: the file
  // itself says how many records reached it.
  const long long records = TrimEdfToWholeRecords(mPath);
  if (records >= 0 && static_cast<uint64_t>(records) < mRecords) {
    mFailed = true;
    error = "only " + std::to_string(records) + " of " + std::to_string(mRecords) +
            " data records could be written";
  }
  mRowsInFile =
      records < 0 ? 0 : std::min<uint64_t>(mRows, static_cast<uint64_t>(records) * kSampleRate);
  if (mFailed && error.empty()) error = "a data record could not be written";
  return closed && !mFailed;
}

long long TrimEdfToWholeRecords(const std::string& path) {
  std::FILE* file = OpenFile(path, "r+b");
  if (file == nullptr) return -1;
  // The header's size, its signal count, and each signal's samples per
  // record (two bytes each) give the record's size.
  const auto field = [&](long offset, size_t width) -> long long {
    std::string text(width, '\0');
    if (std::fseek(file, offset, SEEK_SET) != 0 ||
        std::fread(text.data(), 1, width, file) != width) {
      return -1;
    }
    try {
      return std::stoll(text);
    } catch (const std::exception&) {
      return -1;
    }
  };
  const long long headerBytes = field(184, 8);
  const long long signals = field(252, 4);
  long long recordBytes = 0;
  for (long long i = 0; i < signals && headerBytes > 0; ++i) {
    const long long samples = field(static_cast<long>(256 + signals * 216 + i * 8), 8);
    if (samples <= 0) {
      recordBytes = 0;
      break;
    }
    recordBytes += 2 * samples;
  }
  std::error_code error;
  const auto fsPath = platform::ToFsPath(MVX::Utf8ToWide(path));
  const auto size = static_cast<long long>(std::filesystem::file_size(fsPath, error));
  if (recordBytes <= 0 || error || size < headerBytes) {
    std::fclose(file);
    return -1;
  }
  const long long records = (size - headerBytes) / recordBytes;
  std::string count = std::to_string(records);
  count.resize(8, ' ');
  const bool written = std::fseek(file, 236, SEEK_SET) == 0 &&
                       std::fwrite(count.data(), 1, count.size(), file) == count.size();
  const bool closed = std::fclose(file) == 0;
  std::filesystem::resize_file(fsPath, static_cast<uintmax_t>(headerBytes + records * recordBytes),
                               error);
  return written && closed ? records : -1;
}

}  // namespace corvane::recorder
