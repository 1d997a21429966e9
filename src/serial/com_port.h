// The module's only serial port: open by path at a baud rate, read whatever has
// arrived without blocking, write with a time-out, close.
//
// Line settings are fixed: 8 data bits, no parity, one stop bit, RTS on, DTR
// off, no handshake. Contract:
//  - Open closes the port first if it is open; a failed Open always ends closed
//    and leaves a trace line and a module-log line saying so;
//  - Read returns at once (at most about 2 ms of waiting) with 0 to `capacity`
//    bytes; it never reports an error and returns 0 on a closed port;
//  - Write returns true only when every byte was written within `timeoutMs`;
//    a write that times out leaves nothing of itself queued behind later ones;
//  - Close is idempotent; the port name and baud rate stay stored.
// The class takes no lock: its owner serialises the calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/mvx_string.h"

namespace corvane {

class COMPort {
 public:
  COMPort();
  // Closes the port, then destroys the port-listing enumerator if one exists.
  virtual ~COMPort();
  COMPort(const COMPort&) = delete;
  COMPort& operator=(const COMPort&) = delete;

  // `name` is a device path ("\\.\COM7" on Windows, "/dev/ttyUSB0" on Linux);
  // a baud rate of 0 or less keeps the rate the port already has.
  bool Open(const MVX::MVXString& name, int32_t baudRate);
  // Applies the line settings and time-outs to the open port.
  bool Configure(int32_t baudRate);
  bool Write(const uint8_t* data, size_t length, uint32_t timeoutMs);
  size_t Read(uint8_t* buffer, size_t capacity);
  void Close();

  bool IsOpen() const;
  // True once a read found the line gone (a hang-up: the adapter unplugged,
  // the peer of a pseudo-terminal closed) rather than merely quiet; Read
  // still returns 0 then. Open and Close clear it.
  bool HasFailed() const { return mFailed; }
  // The path last opened, for the link's reconnect.
  const MVX::MVXString& PortName() const { return mPortName; }
  // The rate last asked for.
  uint32_t BaudRate() const { return mBaudRate; }

 private:
  struct Handle;  // the platform's open port (HANDLE or file descriptor)
  // Windows: a cancelled read or write did not end in time; the port is
  // closed and marked failed, so that the link reopens it.
  void CloseAfterStuckOperation();
  friend struct COMPortTesting;  // tests reach the open port through it

  MVX::MVXString mPortName;         // path last opened; empty until the first open
  std::unique_ptr<Handle> mHandle;  // null while closed
  uint32_t mBaudRate = 0;           // rate last asked for
  bool mFailed = false;             // a read failed with an error since the last open
  MVX::MVXString mLastFailedOpen;   // the port whose last open failed; empty after a success
};

// Lists the machine's serial ports as paths that COMPort::Open accepts, leaving
// out the ports of the maker's other instruments. Returns true when the list is
// not empty. Never throws.
bool ListComPorts(std::vector<MVX::MVXString>& ports);

}  // namespace corvane
