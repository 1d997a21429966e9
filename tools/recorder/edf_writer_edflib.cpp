// EDF+ through EDFlib.
#include <edflib.h>

#include "edf_writer.h"

namespace corvane::recorder {
namespace {

class EdflibWriter final : public EdfWriter {
 protected:
  bool OpenFile(const std::string& path, const EdfHeader& header, std::string& error) override {
    mHandle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, kChannelCount);
    if (mHandle < 0) {
      error = "cannot create " + path + " (EDFlib error " + std::to_string(mHandle) + ")";
      return false;
    }
    bool ok = edf_set_datarecord_duration(mHandle, 100000) == 0;  // 1 s, in 10 us
    ok = ok && edf_set_number_of_annotation_signals(mHandle, kAnnotationSignals) == 0;
    for (int i = 0; i < kChannelCount; ++i) {
      const ChannelInfo& channel = Channels()[static_cast<size_t>(i)];
      ok = ok && edf_set_samplefrequency(mHandle, i, kSampleRate) == 0;
      const EdfScale scale = ChannelScale(i);
      ok = ok && edf_set_physical_maximum(mHandle, i, scale.PhysicalMax()) == 0;
      ok = ok && edf_set_physical_minimum(mHandle, i, scale.PhysicalMin()) == 0;
      ok = ok && edf_set_digital_maximum(mHandle, i, kEdfDigitalMax) == 0;
      ok = ok && edf_set_digital_minimum(mHandle, i, kEdfDigitalMin) == 0;
      ok = ok && edf_set_label(mHandle, i, std::string(channel.label).c_str()) == 0;
      ok = ok && edf_set_physical_dimension(mHandle, i, std::string(channel.unit).c_str()) == 0;
    }
    ok = ok && edf_set_startdatetime(mHandle, header.year, header.month, header.day, header.hour,
                                     header.minute, header.second) == 0;
    ok = ok && edf_set_equipment(mHandle, header.equipment.c_str()) == 0;
    if (!ok) {
      error = "cannot set up the EDF+ header of " + path;
      edfclose_file(mHandle);
      mHandle = -1;
    }
    return ok;
  }

  bool WriteRecord(const Record& record) override {
    bool ok = true;
    for (const auto& signal : record) {
      mSamples.assign(signal.begin(), signal.end());
      ok = edfwrite_digital_samples(mHandle, mSamples.data()) == 0 && ok;
    }
    return ok;
  }

  void WriteAnnotation(long long onset, const std::string& text) override {
    edfwrite_annotation_utf8(mHandle, onset, -1, text.c_str());
  }

  bool CloseFile(std::string& error) override {
    if (mHandle < 0) return true;
    const int result = edfclose_file(mHandle);
    mHandle = -1;
    if (result != 0) error = "EDFlib could not close the file";
    return result == 0;
  }

 private:
  int mHandle = -1;
  std::vector<int> mSamples;
};

}  // namespace

std::unique_ptr<EdfWriter> MakeEdfWriter() { return std::make_unique<EdflibWriter>(); }

}  // namespace corvane::recorder
