// The recording as EDF+: 11 signals at 200 samples per second in data
// records of one second, and the comments as annotations.
//
// Each signal's ranges come from the field that the device fills it from (see
// EdfScale), not from its display full scale: status channels carry values far
// beyond full scale, and every value of the field is stored exactly.
// A last, incomplete second is filled up with each signal's last value; an
// annotation "recording end" marks where the real samples stop. A recording
// without rows leaves no file: an EDF+ file without data records is refused
// by common readers, and one with a record would hold values never received.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "row_assembler.h"

namespace corvane::recorder {

// How one channel is stored. The module sends v * 32000 / fullScale for a
// device field value v, so one step of the field is rawPerUnit module units
// and one unit of the channel's physical dimension. The 65536 digital values
// -32768..32767 stand for the field values firstUnit..firstUnit + 65535.
struct EdfScale {
  int32_t rawPerUnit;  // module units per field step
  int32_t firstUnit;   // field value of digital -32768: 0 unsigned, -32768 signed
  double PhysicalMin() const { return firstUnit; }
  double PhysicalMax() const { return firstUnit + 65535.0; }
};
inline constexpr int kEdfDigitalMin = -32768;
inline constexpr int kEdfDigitalMax = 32767;

EdfScale ChannelScale(int index);
// The digital value of module value `raw` on channel `index`; `exact` is
// cleared when the value cannot be stored as it is.
int EdfDigital(int index, int32_t raw, bool& exact);

struct EdfHeader {
  std::string equipment;  // e.g. "Corvane CV1234567"
  // Local start date and time.
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

class EdfWriter {
 public:
  virtual ~EdfWriter() = default;
  // Creates the file; false with `error` set if it cannot be written.
  bool Open(const std::string& path, const EdfHeader& header, std::string& error);
  void Write(const Row& row);
  // A text at `seconds` from the start of the recording; a long text becomes
  // several annotations at the same time.
  void Annotate(double seconds, const std::string& text);
  // Fills up and writes the last record, then closes the file. After a
  // failed write the file is cut back to its whole records and its header
  // made to count them.
  bool Close(std::string& error);

  bool IsOpen() const { return mOpen; }
  // A data record could not be written.
  bool Failed() const { return mFailed; }
  // Rows that the closed file holds; none when it was removed for want of rows.
  uint64_t RowsInFile() const { return mRowsInFile; }
  bool Removed() const { return mRemoved; }
  // Values that did not fit their channel's field and were stored rounded or
  // cut; none for what the module sends.
  uint64_t InexactValues() const { return mInexact; }
  uint64_t RecordsWritten() const { return mRecords; }

 protected:
  using Record = std::array<std::array<int, kSampleRate>, kChannelCount>;

  virtual bool OpenFile(const std::string& path, const EdfHeader& header, std::string& error) = 0;
  virtual bool WriteRecord(const Record& record) = 0;
  // `onset` and `duration` in units of 100 microseconds; duration -1: none.
  virtual void WriteAnnotation(long long onset, const std::string& text) = 0;
  virtual bool CloseFile(std::string& error) = 0;

 private:
  std::string mPath;
  Record mRecord{};
  int mFill = 0;  // samples of the current record so far
  uint64_t mRecords = 0;
  uint64_t mRows = 0;
  uint64_t mInexact = 0;
  uint64_t mRowsInFile = 0;
  bool mOpen = false;
  bool mFailed = false;
  bool mRemoved = false;
};

// Cuts an EDF+ file back to its whole data records and sets the header's
// record count to them; the records kept, or -1 if the file cannot be read.
long long TrimEdfToWholeRecords(const std::string& path);

// The EDF+ writer of this platform: EDFlib where it is available, the
// recorder's own writer elsewhere. Null if EDF+ cannot be written here.
std::unique_ptr<EdfWriter> MakeEdfWriter();
// The recorder's own writer, on every platform.
std::unique_ptr<EdfWriter> MakePlainEdfWriter();

// The annotation signals each record carries; each holds one annotation, so
// this is how many annotations fit per second of recording.
inline constexpr int kAnnotationSignals = 4;
// The longest annotation text that EDF+ readers get whole.
inline constexpr size_t kMaxAnnotationChars = 40;

// A text in pieces of at most kMaxAnnotationChars, cut between words where
// a blank allows it.
std::vector<std::string> SplitAnnotation(const std::string& text);

}  // namespace corvane::recorder
