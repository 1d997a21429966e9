#include "edf_writer.h"

#include <algorithm>
#include <cmath>

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
  mOpen = OpenFile(path, header, error);
  return mOpen;
}

void EdfWriter::Write(const Row& row) {
  if (!mOpen) return;
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
  if (mFailed && error.empty()) error = "a data record could not be written";
  return closed && !mFailed;
}

}  // namespace corvane::recorder
