#include "options.h"

#include <charconv>
#include <cmath>

namespace corvane::recorder {

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  size_t i = 0;
  if (i < args.size() && (args[i] == "settings" || args[i] == "record")) {
    options.command = args[i] == "settings" ? Options::Command::Settings : Options::Command::Record;
    ++i;
  }
  for (; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const size_t equals = name.find('=');
        name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    const auto take = [&]() -> std::string {
      if (value) return *value;
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    if (name == "--help" || name == "-h") {
      options.command = Options::Command::Help;
    } else if (name == "--quiet" || name == "-q") {
      options.quiet = true;
    } else if (name == "--overwrite") {
      options.overwrite = true;
    } else if (name == "--out" || name == "-o") {
      options.out = take();
      if (options.out.empty()) throw UsageError("--out needs a file name prefix");
    } else if (name == "--duration" || name == "-d") {
      const std::string text = take();
      double seconds = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
      if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
          seconds <= 0) {
        throw UsageError("--duration takes a number of seconds greater than 0, not \"" + text +
                         "\"");
      }
      options.duration = seconds;
    } else if (name == "--module") {
      options.module = take();
    } else if (name == "--set") {
      options.settings.push_back(ParseSettingRequest(take()));
    } else if (name == "--press") {
      options.presses.push_back(take());
    } else if (name == "--sim-settings") {
      options.simSettings = take();
    } else if (name == "--wrist-unit-sim") {
      options.wristUnitSim = true;
    } else if (name == "--port") {
      options.port = take();
      if (options.port.empty()) throw UsageError("--port needs a serial port path");
    } else if (name == "--live") {
      options.live = true;
    } else if (name == "--live-port") {
      const std::string text = take();
      int port = -1;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
      if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
        throw UsageError("--live-port takes a port number from 1 to 65535, not \"" + text + "\"");
      }
      options.livePort = port;
    } else if (name == "--live-address") {
      options.liveAddress = take();
      if (options.liveAddress.empty()) throw UsageError("--live-address needs an address");
    } else {
      throw UsageError("unknown option \"" + args[i] + "\"");
    }
  }
  if (options.wristUnitSim && !options.port.empty()) {
    throw UsageError("--wrist-unit-sim and --port exclude each other");
  }
  if (options.live && options.command == Options::Command::Settings) {
    throw UsageError("--live goes with a recording, not with \"settings\"");
  }
  if (!options.live && (options.livePort != 0 || options.liveAddress != "127.0.0.1")) {
    throw UsageError("--live-port and --live-address go with --live");
  }
  return options;
}

std::string UsageText() {
  return R"(Usage: corvane-record [record] [options]
       corvane-record settings [--module PATH] [--sim-settings FILE]
                               [--wrist-unit-sim | --port PATH]

Records finger blood pressure from a Corvane device through its device module
(11 channels at 200 samples per second) into PREFIX.csv, PREFIX.edf (EDF+),
PREFIX.png (a plot) and PREFIX.log (the module's log and the recording's
events). "settings" lists the device's settings with their defaults. A
firmware image in the "Devices" folder that is newer than the wrist unit's
firmware is installed before the recording, with a progress bar.

Options:
  -o, --out PREFIX        output file name prefix (default "recording")
      --overwrite         replace PREFIX.* of an earlier recording (without
                          it the recorder refuses to start when one exists)
  -d, --duration S        stop after S seconds (default: at Ctrl-C)
      --module PATH       the device module (default: Corvane.kvwdll beside
                          this program); the module loads the device library
                          from the "Devices" folder beside this program
      --set CONTROL=ITEM  choose a setting, e.g. --set SwitchingMins=30,
                          --set EnableSwitching="Cuff Switching Mode",
                          --set PhysioCalOff=Off (repeatable; item labels
                          are compared without "&" and regardless of case)
      --press BUTTON      press a settings button before recording, e.g.
                          --press ZeroHCU (repeatable)
      --sim-settings FILE settings file for the simulated Controller (sets
                          CORVANE_SIM_SETTINGS), or with --wrist-unit-sim
                          for the simulated wrist unit
      --wrist-unit-sim    record from the simulated Vive Zore wrist unit:
                          starts sim-vivezore (beside this program) on a
                          pseudo-terminal and stops it at the end (Linux)
      --port PATH         the wrist unit's serial port, e.g. /dev/ttyUSB0
                          (put first in CORVANE_SERIAL_PORTS) or COM3; the
                          recording must then come from a wrist unit there
      --live              serve a live view of the recording on this machine:
                          its address (with the key every request needs) is
                          printed before the recording starts; the page can
                          add markers
      --live-port N       the live view's port (default: a free one)
      --live-address ADDR listen on ADDR instead of 127.0.0.1 (the view is
                          then open to whoever has the key)
  -q, --quiet             print nothing but errors
  -h, --help              this text

Every setting starts at its default; --set choices are sent after them.
While recording on a terminal, the key m adds a marker: an EDF+ annotation
"Marker N", the CSV's marker column on its row and a line in PREFIX.log.
Exit status: 0 recorded, 1 bad command line or setting, 2 module, device or
output problem, 3 the device aborted or stopped the recording, 130
interrupted before the recording started.
)";
}

}  // namespace corvane::recorder
