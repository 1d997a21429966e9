// The Linux port listing, with its inputs open to tests: the kernel's tty
// class folder and the value of CORVANE_SERIAL_PORTS.
#pragma once

#include <string>
#include <vector>

#include "support/mvx_string.h"

namespace corvane {

// Ports listed ahead of the kernel's, paths separated by ":": the simulated
// wrist unit's pseudo-terminal is found through it.
inline constexpr char kSerialPortsVariable[] = "CORVANE_SERIAL_PORTS";
inline constexpr char kTtyClassFolder[] = "/sys/class/tty";

// Clears `ports`, then lists the paths in `extraPorts` (null for none), then
// "/dev/NAME" for each tty under `ttyClassFolder` that has a device behind it,
// sorted by name: present serial ports, not virtual consoles, not unused
// legacy UART slots and not the ports the kernel's console is on. USB ports
// whose serial number carries another instrument's marker are left out. True when the list is not
// empty; never throws.
bool ListSerialPorts(const std::string& ttyClassFolder, const char* extraPorts,
                     std::vector<MVX::MVXString>& ports);

}  // namespace corvane
