// The recording as comma-separated values: a header, then one line per row
// with the time in seconds and the 11 channels in their units.
#pragma once

#include <cstdio>
#include <string>

#include "row_assembler.h"

namespace corvane::recorder {

// A value in the shortest text that reads back as the same double.
std::string FormatNumber(double value);

class CsvWriter {
 public:
  ~CsvWriter() { Close(); }
  // Creates the file and writes the header; false if it cannot be written.
  bool Open(const std::string& path);
  // Beat cells stay empty in a row without beats.
  void Write(const Row& row);
  // False if anything failed to reach the file.
  bool Close();

 private:
  std::FILE* mFile = nullptr;
  bool mFailed = false;
  uint64_t mUnflushed = 0;
};

}  // namespace corvane::recorder
