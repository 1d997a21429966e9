// The recording as comma-separated values: a header, then one line per row
// with the time in seconds, the 11 channels in their units and the markers
// added at the row (empty on most rows).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "row_assembler.h"

namespace corvane::recorder {

// A value in the shortest text that reads back as the same double.
std::string FormatNumber(double value);

class CsvWriter {
 public:
  ~CsvWriter() { Close(); }
  // Creates the file and writes the header; false if it cannot be written.
  bool Open(const std::string& path);
  // A cell without a value of the row's own (a beat channel of a recording
  // without beats, a held value) stays empty. Nothing more is written once a
  // write has failed.
  // `marker`: the labels of the markers at this row ("Marker 1: text").
  void Write(const Row& row, std::string_view marker = {});
  // Hands what is written to the system and checks it; false once anything
  // has failed.
  bool Flush();
  // False if anything failed to reach the file. After a failure the file is
  // cut back to its last whole line.
  bool Close();

  bool Failed() const { return mFailed; }
  // Why the first failure happened.
  const std::string& Error() const { return mError; }
  // Rows in the file (after Close: those that reached it whole).
  uint64_t Rows() const { return mRows; }

 private:
  void Fail();

  std::FILE* mFile = nullptr;
  std::string mPath;
  bool mFailed = false;
  std::string mError;
  uint64_t mRows = 0;
  // Where each row written since the last flush that succeeded ends.
  uint64_t mFlushedBytes = 0;
  uint64_t mFlushedRows = 0;
  std::vector<uint64_t> mRowEnds;
  uint64_t mBytes = 0;
};

}  // namespace corvane::recorder
