// The Linux port listing: the kernel's tty class in sysfs. Each call reads it
// afresh, so there is no enumerator to keep between calls.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "serial/com_port.h"
#include "serial/port_listing.h"
#include "serial/sysfs_port_listing.h"
#include "support/utf8.h"

namespace corvane {
namespace fs = std::filesystem;
namespace {

// The first line of a sysfs attribute, or empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  return value;
}

// The serial number of the USB device a tty belongs to: the `serial`
// attribute of the nearest folder above the tty's device that describes a
// USB device. Empty for ports that are not on USB.
std::string UsbSerialOf(const fs::path& deviceLink) {
  std::error_code error;
  fs::path folder = fs::canonical(deviceLink, error);
  if (error) return {};
  for (; folder.has_relative_path(); folder = folder.parent_path()) {
    if (fs::exists(folder / "idVendor", error)) return ReadAttribute(folder / "serial");
  }
  return {};
}

// A tty with a device behind it is a port that exists. The serial core shows
// the UART type of its ports; type 0 is a slot without a UART (the legacy
// 8250 driver registers such slots whether or not the hardware is there).
bool IsPresentPort(const fs::path& ttyFolder) {
  std::error_code error;
  if (!fs::exists(ttyFolder / "device", error)) return false;
  return !fs::exists(ttyFolder / "type", error) || ReadAttribute(ttyFolder / "type") != "0";
}

// The ttys the kernel writes its console to ("ttyS0 tty0"): a wrist-unit
// search must not write frames into the machine's console, so they are not
// offered, however present their UART is.
std::vector<std::string> ConsoleTtys(const fs::path& ttyClassFolder) {
  std::ifstream in(ttyClassFolder / "console" / "active");
  std::vector<std::string> names;
  for (std::string name; in >> name;) names.push_back(name);
  return names;
}

void AddUnique(std::vector<MVX::MVXString>& ports, const std::string& path) {
  MVX::MVXString wide(MVX::Utf8ToWide(path));
  if (std::find(ports.begin(), ports.end(), wide) == ports.end()) ports.push_back(std::move(wide));
}

}  // namespace

void DestroyPortEnumerator() {}

bool ListSerialPorts(const std::string& ttyClassFolder, const char* extraPorts,
                     std::vector<MVX::MVXString>& ports) {
  ports.clear();
  try {
    if (extraPorts != nullptr) {
      std::string_view rest(extraPorts);
      while (!rest.empty()) {
        const size_t colon = std::min(rest.find(':'), rest.size());
        if (colon > 0) AddUnique(ports, std::string(rest.substr(0, colon)));
        rest.remove_prefix(std::min(colon + 1, rest.size()));
      }
    }

    std::vector<std::string> names;
    const std::vector<std::string> consoles = ConsoleTtys(ttyClassFolder);
    std::error_code error;
    for (fs::directory_iterator it(ttyClassFolder, error), end; !error && it != end;
         it.increment(error)) {
      const fs::path folder = it->path();
      if (!IsPresentPort(folder)) continue;
      const std::string name = folder.filename().string();
      if (std::find(consoles.begin(), consoles.end(), name) != consoles.end()) continue;
      const std::string serial = UsbSerialOf(folder / "device");
      if (IsOtherInstrumentSerial(MVX::Utf8ToWide(serial))) continue;
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) AddUnique(ports, "/dev/" + name);
  } catch (...) {
    // Only memory can run out here; a listing reports what it has.
  }
  return !ports.empty();
}

bool ListComPorts(std::vector<MVX::MVXString>& ports) {
  return ListSerialPorts(kTtyClassFolder, std::getenv(kSerialPortsVariable), ports);
}

}  // namespace corvane
