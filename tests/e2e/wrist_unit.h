// The simulated wrist unit behind a serial port that the module's port
// listing offers, for the end-to-end tests. On Linux the test starts the
// simulator itself and names its pseudo-terminal in CORVANE_SERIAL_PORTS;
// under Wine a CTest fixture runs it behind a COM port's link in the prefix,
// and the test registers that port as a port driver would.
#pragma once

#include <filesystem>

namespace corvane::testing {

class WristUnit {
 public:
  WristUnit();
  ~WristUnit();
  WristUnit(const WristUnit&) = delete;
  WristUnit& operator=(const WristUnit&) = delete;

  // The unit is there and its port is offered by the listing.
  bool Running() const;
  // The settings file the simulator re-reads whenever it changes.
  const std::filesystem::path& SettingsFile() const { return mSettings; }
  // The simulator's --send-log: every data frame that left it intact, with
  // its counter and pressure; at most 100 ms behind.
  const std::filesystem::path& SendLog() const { return mSendLog; }

 private:
  std::filesystem::path mSettings;
  std::filesystem::path mSendLog;
  bool mRunning = false;
  long mProcess = -1;  // the simulator's process id, where the test owns it
};

// Whether the Controller's vendor library is loaded into this process.
bool VendorLibraryLoaded();

}  // namespace corvane::testing
