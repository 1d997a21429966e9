// The recorder's own EDF+ writer, for builds without EDFlib. The header is
// written at the start with the number of records unknown (-1) and completed
// when the file is closed. As with EDFlib, the annotations are kept until
// then and written into the records' annotation signals in their order,
// one per signal, from the first record on.
#include <cstdio>
#include <deque>

#include "csv_writer.h"
#include "edf_writer.h"
#include "recorder_platform.h"

namespace corvane::recorder {
namespace {

// Bytes of each annotation signal per record: the time-keeping note and one
// annotation of the longest text fit.
constexpr int kAnnotationSamples = 60;
constexpr long kRecordCountOffset = 236;

const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                               "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// `text` cut or filled with blanks to `width` characters.
std::string Field(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string TwoDigits(int value) {
  return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
         static_cast<char>('0' + value % 10);
}

// Blanks separate the EDF+ identification subfields, so none may stand in one.
std::string Subfield(std::string text) {
  if (text.empty()) return "X";
  for (char& c : text) {
    if (c == ' ' || static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
      c = '_';
    }
  }
  return text;
}

// An onset in 100 us units as EDF+ time text, e.g. "+12.0345".
std::string Onset(long long units) {
  std::string text = "+" + std::to_string(units / 10000);
  if (const long long fraction = units % 10000; fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text;
}

class PlainEdfWriter final : public EdfWriter {
 public:
  ~PlainEdfWriter() override {
    if (mFile != nullptr) std::fclose(mFile);
  }

 protected:
  bool OpenFile(const std::string& path, const EdfHeader& header, std::string& error) override {
    mFile = recorder::OpenFile(path, "wb");
    if (mFile == nullptr) {
      error = "cannot create " + path;
      return false;
    }
    const int signals = kSignals;
    std::string head = Field("0", 8);
    head += Field("X X X X", 80);
    head += Field("Startdate " + TwoDigits(header.day) + "-" + kMonths[(header.month + 11) % 12] +
                      "-" + std::to_string(header.year) + " X X " + Subfield(header.equipment),
                  80);
    head += TwoDigits(header.day) + "." + TwoDigits(header.month) + "." + TwoDigits(header.year);
    head += TwoDigits(header.hour) + "." + TwoDigits(header.minute) + "." + TwoDigits(header.second);
    head += Field(std::to_string(256 * (signals + 1)), 8);
    head += Field("EDF+C", 44);
    head += Field("-1", 8);
    head += Field("1", 8);
    head += Field(std::to_string(signals), 4);
    const auto each = [&](size_t width, auto valueOf) {
      for (int i = 0; i < signals; ++i) head += Field(valueOf(i), width);
    };
    const auto channel = [](int i) -> const ChannelInfo& {
      return Channels()[static_cast<size_t>(i)];
    };
    each(16, [&](int i) {
      return i < kChannelCount ? std::string(channel(i).label) : std::string("EDF Annotations");
    });
    each(80, [](int) { return std::string(); });
    each(8, [&](int i) { return i < kChannelCount ? std::string(channel(i).unit) : std::string(); });
    each(8, [&](int i) {
      return i < kChannelCount ? FormatNumber(ChannelScale(i).PhysicalMin()) : std::string("-1");
    });
    each(8, [&](int i) {
      return i < kChannelCount ? FormatNumber(ChannelScale(i).PhysicalMax()) : std::string("1");
    });
    each(8, [](int) { return std::to_string(kEdfDigitalMin); });
    each(8, [](int) { return std::to_string(kEdfDigitalMax); });
    each(80, [](int) { return std::string(); });
    each(8, [&](int i) {
      return std::to_string(i < kChannelCount ? kSampleRate : kAnnotationSamples);
    });
    each(32, [](int) { return std::string(); });
    if (std::fwrite(head.data(), 1, head.size(), mFile) != head.size()) {
      error = "cannot write " + path;
      return false;
    }
    return true;
  }

  bool WriteRecord(const Record& record) override {
    std::string bytes;
    for (const auto& signal : record) {
      for (const int value : signal) {
        const auto word = static_cast<uint16_t>(static_cast<int16_t>(value));
        bytes += static_cast<char>(word & 0xff);
        bytes += static_cast<char>(word >> 8);
      }
    }
    for (int slot = 0; slot < kAnnotationSignals; ++slot) bytes += Slot(mRecords, slot, {});
    ++mRecords;
    return std::fwrite(bytes.data(), 1, bytes.size(), mFile) == bytes.size();
  }

  void WriteAnnotation(long long onset, const std::string& text) override {
    mPending.push_back(Onset(onset) + "\x14" + text + "\x14" + '\0');
  }

  bool CloseFile(std::string& error) override {
    bool ok = true;
    for (long long index = 0; index < mRecords && !mPending.empty() && ok; ++index) {
      std::string bytes;
      for (int slot = 0; slot < kAnnotationSignals; ++slot) {
        bytes += Slot(index, slot, mPending.empty() ? std::string() : mPending.front());
        if (!mPending.empty()) mPending.pop_front();
      }
      ok = std::fseek(mFile, kHeaderBytes + static_cast<long>(index) * kRecordBytes + kSampleBytes,
                      SEEK_SET) == 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), mFile) == bytes.size();
    }
    const std::string count = Field(std::to_string(mRecords), 8);
    ok = ok && std::fseek(mFile, kRecordCountOffset, SEEK_SET) == 0 &&
         std::fwrite(count.data(), 1, count.size(), mFile) == count.size();
    ok = std::fclose(mFile) == 0 && ok;
    mFile = nullptr;
    if (!ok) error = "cannot complete the EDF+ file";
    if (!mPending.empty()) {
      error = std::to_string(mPending.size()) + " annotation(s) did not fit into the file";
    }
    return ok && mPending.empty();
  }

 private:
  static constexpr int kSignals = kChannelCount + kAnnotationSignals;
  static constexpr long kHeaderBytes = 256L * (kSignals + 1);
  static constexpr long kSampleBytes = 2L * kChannelCount * kSampleRate;
  static constexpr long kSlotBytes = 2L * kAnnotationSamples;
  static constexpr long kRecordBytes = kSampleBytes + kAnnotationSignals * kSlotBytes;

  // One annotation signal of record `index`: the first carries the record's
  // time-keeping note, then the annotation, if any.
  static std::string Slot(long long index, int slot, const std::string& note) {
    std::string bytes;
    if (slot == 0) bytes = Onset(index * 10000) + "\x14\x14" + '\0';
    bytes += note;
    bytes.resize(static_cast<size_t>(kSlotBytes), '\0');
    return bytes;
  }

  std::FILE* mFile = nullptr;
  long long mRecords = 0;
  std::deque<std::string> mPending;
};

}  // namespace

std::unique_ptr<EdfWriter> MakePlainEdfWriter() { return std::make_unique<PlainEdfWriter>(); }

}  // namespace corvane::recorder
