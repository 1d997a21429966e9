// The recorder's command line.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings.h"

namespace corvane::recorder {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  enum class Command { Record, Settings, Help };
  Command command = Command::Record;
  std::string out = "recording";   // file name prefix: .csv, .edf, .png, .log
  std::optional<double> duration;  // seconds; none: until Ctrl-C
  std::string module;              // empty: Corvane.kvwdll beside the recorder
  std::vector<SettingRequest> settings;
  std::vector<std::string> presses;  // buttons to press before recording
  std::string simSettings;           // settings of the simulated Controller, or of the wrist unit
  bool wristUnitSim = false;         // start the simulated wrist unit and record from it
  std::string port;                  // the wrist unit's serial port; empty: the module searches
  bool live = false;                 // serve the live view
  int livePort = 0;                  // 0: a free port
  std::string liveAddress = "127.0.0.1";
  bool quiet = false;
  bool overwrite = false;  // replace the files of an earlier recording
};

// Throws UsageError (SettingError for a malformed --set).
Options ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace corvane::recorder
