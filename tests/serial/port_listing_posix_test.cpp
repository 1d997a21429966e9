// The Linux listing against a fake sysfs tree laid out as the kernel lays out
// USB serial, USB ACM, on-board UART (one of them the kernel's console),
// unused legacy UART and virtual console ttys.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "serial/com_port.h"
#include "serial/sysfs_port_listing.h"

namespace corvane {
namespace {
namespace fs = std::filesystem;

class FakeSysfs {
 public:
  FakeSysfs() : root(fs::temp_directory_path() / ("corvane-sysfs-" + std::to_string(::getpid()))) {
    fs::remove_all(root);
    fs::create_directories(root / "class/tty");
    // A USB serial adapter: the tty's device is the adapter's port, below the
    // interface, below the USB device that holds the serial number.
    UsbDevice("usb1/1-1", "A1B2C3");
    Tty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
    // The same kind of adapter belonging to another instrument.
    UsbDevice("usb1/1-2", "0042CVLAB7");
    Tty("ttyUSB1", "usb1/1-2/1-2:1.0/ttyUSB1", "usb1/1-2/1-2:1.0/ttyUSB1");
    // A USB ACM device: the tty's device is the interface itself.
    UsbDevice("usb1/1-3", "ZORE0001");
    Tty("ttyACM0", "usb1/1-3/1-3:1.0", "usb1/1-3/1-3:1.0");
    // On-board UART, and a legacy slot without a UART.
    Tty("ttyS0", "pnp0/00:01", "pnp0/00:01", "4");
    Tty("ttyS1", "platform/serial8250", "platform/serial8250", "0");
    // A virtual console: no device behind it.
    Tty("tty1", "virtual/tty", "");
    // An on-board UART that carries the kernel's console.
    Tty("ttyS2", "pnp0/00:02", "pnp0/00:02", "4");
    fs::create_directories(root / "class/tty/console");
    std::ofstream(root / "class/tty/console/active") << "ttyS2 tty1\n";
  }
  ~FakeSysfs() { fs::remove_all(root); }

  std::string TtyClass() const { return (root / "class/tty").string(); }

  fs::path root;

 private:
  void UsbDevice(const std::string& at, const std::string& serial) {
    fs::create_directories(root / "devices" / at);
    std::ofstream(root / "devices" / at / "idVendor") << "0403\n";
    std::ofstream(root / "devices" / at / "serial") << serial << "\n";
  }
  // /sys/class/tty/NAME links to the tty's folder below its parent device;
  // the folder's "device" link points at the device (none when empty).
  void Tty(const std::string& name, const std::string& parent, const std::string& device,
           const std::string& type = "") {
    const fs::path folder = root / "devices" / parent / "tty" / name;
    fs::create_directories(folder);
    if (!device.empty()) {
      fs::create_directories(root / "devices" / device);
      fs::create_directory_symlink(root / "devices" / device, folder / "device");
    }
    if (!type.empty()) std::ofstream(folder / "type") << type << "\n";
    fs::create_directory_symlink(folder, root / "class/tty" / name);
  }
};

using Ports = std::vector<MVX::MVXString>;

TEST(PortListingPosix, PresentPortsSortedAfterTheVariablesPorts) {
  FakeSysfs sysfs;
  const Ports kernel = {L"/dev/ttyACM0", L"/dev/ttyS0", L"/dev/ttyUSB0"};
  struct Case {
    const char* variable;  // CORVANE_SERIAL_PORTS, or null when unset
    Ports expected;
  };
  const Case cases[] = {
      {nullptr, kernel},
      {"", kernel},
      {"/dev/pts/7", {L"/dev/pts/7", L"/dev/ttyACM0", L"/dev/ttyS0", L"/dev/ttyUSB0"}},
      // Empty entries are skipped; a port named twice is listed once, first.
      {":/tmp/sim:/dev/ttyS0::", {L"/tmp/sim", L"/dev/ttyS0", L"/dev/ttyACM0", L"/dev/ttyUSB0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variable == nullptr ? "(unset)" : c.variable);
    Ports ports = {L"left over"};
    EXPECT_TRUE(ListSerialPorts(sysfs.TtyClass(), c.variable, ports));
    EXPECT_EQ(ports, c.expected);
    // A second listing starts afresh and gives the same list.
    EXPECT_TRUE(ListSerialPorts(sysfs.TtyClass(), c.variable, ports));
    EXPECT_EQ(ports, c.expected);
  }
}

TEST(PortListingPosix, NoKernelFolderLeavesOnlyTheVariablesPorts) {
  Ports ports = {L"left over"};
  EXPECT_FALSE(ListSerialPorts("/nonexistent/class/tty", nullptr, ports));
  EXPECT_TRUE(ports.empty());
  EXPECT_TRUE(ListSerialPorts("/nonexistent/class/tty", "/dev/pts/3", ports));
  EXPECT_EQ(ports, Ports{L"/dev/pts/3"});
}

TEST(PortListingPosix, ListComPortsPutsTheVariablesPortsFirst) {
  ASSERT_EQ(::setenv(kSerialPortsVariable, "/tmp/corvane-a:/tmp/corvane-b", 1), 0);
  Ports ports;
  EXPECT_TRUE(ListComPorts(ports));
  ::unsetenv(kSerialPortsVariable);
  ASSERT_GE(ports.size(), 2u);
  EXPECT_EQ(ports[0], L"/tmp/corvane-a");
  EXPECT_EQ(ports[1], L"/tmp/corvane-b");
}

}  // namespace
}  // namespace corvane
