// A serial line for the port tests: a path that COMPort opens, and the far
// end of the line, which the test drives as the device would.
//
// Linux: a pseudo-terminal pair made by the test; the far end is the master.
// Windows under Wine: two COM ports that a native helper joins back to back
// (each a dosdevices link to a pseudo-terminal); the far end is the second.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/mvx_string.h"

namespace corvane::testing {

// True when the tests run under Wine, which opens serial devices for any
// number of users whatever the sharing mode asked for.
bool RunsUnderWine();

// A port path that names no port.
MVX::MVXString MissingPortPath();

class SerialLine {
 public:
  virtual ~SerialLine() = default;
  // Makes the line with the given number (0, 1, ...); null when the platform
  // cannot make it, with the reason in `why`.
  static std::unique_ptr<SerialLine> Make(int number, std::string& why);

  // The path the port under test opens.
  virtual MVX::MVXString Path() const = 0;
  // Writes all of `bytes` from the far end.
  virtual bool FarWrite(const std::string& bytes) = 0;
  // Reads at the far end until `count` bytes came or `timeoutMs` passed.
  virtual std::string FarRead(size_t count, uint32_t timeoutMs) = 0;
};

}  // namespace corvane::testing
