#include "edf_writer.h"

#include <algorithm>
#include <cmath>

namespace corvane::recorder {

bool EdfWriter::Open(const std::string& path, const EdfHeader& header, std::string& error) {
  mOpen = OpenFile(path, header, error);
  return mOpen;
}

void EdfWriter::Write(const Row& row) {
  if (!mOpen) return;
  for (size_t i = 0; i < kChannelCount; ++i) {
    mRecord[i][static_cast<size_t>(mFill)] =
        std::clamp(row.values[i], -kDigitalFullScale, kDigitalFullScale);
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
  if (mFailed && error.empty()) error = "a data record could not be written";
  return closed && !mFailed;
}

}  // namespace corvane::recorder
