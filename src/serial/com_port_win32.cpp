// COMPort through the Win32 communications calls, with overlapped I/O so that
// every read and write is bounded by a wait of its own.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "serial/com_port.h"
#include "serial/com_port_log.h"
#include "serial/com_port_testing.h"
#include "serial/port_listing.h"

namespace corvane {
namespace {

constexpr DWORD kInputQueueBytes = 32768;
constexpr DWORD kOutputQueueBytes = 1024;
// Longest wait of a read that did not complete at once.
constexpr DWORD kReadWaitMs = 2;
// Longest wait for a cancelled operation to end. A driver that never ends one
// must not hold the module for ever: the port is closed instead.
constexpr DWORD kCancelWaitMs = 1000;

// Owns one kernel handle (file or event).
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : mHandle(handle) {}
  ~UniqueHandle() {
    if (IsValid()) CloseHandle(mHandle);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return mHandle; }
  bool IsValid() const { return mHandle != nullptr && mHandle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE mHandle;  // null or INVALID_HANDLE_VALUE when empty
};

// One overlapped operation: its record, the manual-reset event it signals and
// the bytes it reads. Whoever abandons the operation must cancel it and wait
// for it before this goes away, or the system would write into freed memory
// later; one that does not end even then is left allocated for ever.
struct Overlapped {
  explicit Overlapped(size_t bytes = 0)
      : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)), data(bytes) {
    record.hEvent = event.Get();
  }
  UniqueHandle event;         // signalled when the operation ends
  OVERLAPPED record{};        // the system's view of the operation
  std::vector<uint8_t> data;  // a read's bytes, never the caller's buffer
};

// Cancels an operation whose wait ended first and waits, at most
// kCancelWaitMs, until it has ended: the bytes it transferred before that, or
// nothing when it did not end.
std::optional<DWORD> CancelAndWait(HANDLE file, Overlapped& operation) {
  CancelIoEx(file, &operation.record);
  if (WaitForSingleObject(operation.event.Get(), kCancelWaitMs) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD transferred = 0;
  GetOverlappedResult(file, &operation.record, &transferred, FALSE);
  return transferred;
}

// The system may still write into an operation that did not end when it was
// cancelled: its memory stays allocated for ever.
void Abandon(std::unique_ptr<Overlapped> operation) {
  [[maybe_unused]] Overlapped* leaked = operation.release();
}

}  // namespace

struct COMPort::Handle {
  explicit Handle(HANDLE opened) : file(opened) {}
  UniqueHandle file;  // the open port, opened for overlapped I/O
};

COMPort::COMPort() = default;

COMPort::~COMPort() {
  Close();
  DestroyPortEnumerator();
}

bool COMPort::IsOpen() const { return mHandle != nullptr; }

bool COMPort::Open(const MVX::MVXString& name, int32_t baudRate) {
  Close();
  mPortName = name;
  mBaudRate = static_cast<uint32_t>(baudRate);

  auto handle =
      std::make_unique<Handle>(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!handle->file.IsValid()) {
    com_port_log::OpenFailed(name, mLastFailedOpen);
    return false;
  }
  mHandle = std::move(handle);

  const bool queuesSet =
      SetupComm(mHandle->file.Get(), kInputQueueBytes, kOutputQueueBytes) != FALSE;
  const bool configured = Configure(baudRate);
  if (queuesSet && configured) {
    mLastFailedOpen.clear();
    com_port_log::Opened(name);
    return true;
  }
  com_port_log::ConfigureFailed(name);
  Close();
  return false;
}

bool COMPort::Configure(int32_t baudRate) {
  if (!mHandle) return false;
  const HANDLE file = mHandle->file.Get();
  DCB control{};
  control.DCBlength = sizeof control;
  if (!GetCommState(file, &control)) return false;

  if (baudRate > 0) control.BaudRate = static_cast<DWORD>(baudRate);
  // The frames are binary: a port left with XON/XOFF control or null
  // stripping on would swallow 0x11, 0x13 or 0x00 bytes inside them, so these
  // are turned off. Transmit-continue-on-XOFF and error replacement stay as
  // the port reports them.
  control.fOutX = FALSE;
  control.fInX = FALSE;
  control.fNull = FALSE;
  control.fBinary = TRUE;
  control.fParity = FALSE;
  control.fOutxCtsFlow = FALSE;
  control.fOutxDsrFlow = FALSE;
  control.fDtrControl = DTR_CONTROL_DISABLE;
  control.fDsrSensitivity = FALSE;
  control.fRtsControl = RTS_CONTROL_ENABLE;
  control.fAbortOnError = FALSE;
  control.ByteSize = 8;
  control.Parity = NOPARITY;
  control.StopBits = ONESTOPBIT;
  if (!SetCommState(file, &control)) return false;
  mBaudRate = static_cast<uint32_t>(baudRate);

  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(file, &timeouts)) return false;
  // A read returns at once with what has arrived; writes have no limit of
  // the driver's (Write bounds them itself).
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  return SetCommTimeouts(file, &timeouts) != FALSE;
}

bool COMPort::Write(const uint8_t* data, size_t length, uint32_t timeoutMs) {
  if (!mHandle || length > MAXDWORD) return false;
  const HANDLE file = mHandle->file.Get();
  // The bytes go from a copy that an abandoned write may keep.
  auto operation = std::make_unique<Overlapped>(length);
  if (!operation->event.IsValid()) return false;
  std::copy_n(data, length, operation->data.begin());

  DWORD written = 0;
  if (!WriteFile(file, operation->data.data(), static_cast<DWORD>(length), nullptr,
                 &operation->record)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(operation->event.Get(), timeoutMs) != WAIT_OBJECT_0) {
      // Too late. A write that still finished whole while being cancelled
      // has done its job; otherwise its head may sit in the output queue:
      // drop it, so that it never reaches the device glued to the next frame.
      const std::optional<DWORD> cancelled = CancelAndWait(file, *operation);
      if (!cancelled) {
        Abandon(std::move(operation));
        CloseAfterStuckOperation();
        return false;
      }
      if (*cancelled == length) return true;
      PurgeComm(file, PURGE_TXCLEAR);
      return false;
    }
  }
  return GetOverlappedResult(file, &operation->record, &written, FALSE) && written == length;
}

void COMPort::CloseAfterStuckOperation() {
  com_port_log::CancelDidNotEnd(mPortName);
  mFailed = true;
  mHandle.reset();
}

size_t COMPort::Read(uint8_t* buffer, size_t capacity) {
  if (!mHandle) return 0;
  const HANDLE file = mHandle->file.Get();
  const DWORD asked = static_cast<DWORD>(std::min<size_t>(capacity, kInputQueueBytes));
  auto operation = std::make_unique<Overlapped>(asked);
  if (!operation->event.IsValid()) return 0;

  DWORD count = 0;
  if (!ReadFile(file, operation->data.data(), asked, nullptr, &operation->record)) {
    if (GetLastError() != ERROR_IO_PENDING) {
      // The device is gone (unplugged adapter) or the handle is unusable.
      mFailed = true;
      return 0;
    }
    if (WaitForSingleObject(operation->event.Get(), kReadWaitMs) != WAIT_OBJECT_0) {
      // Too late: cancelled, with the bytes it took before that.
      const std::optional<DWORD> cancelled = CancelAndWait(file, *operation);
      if (!cancelled) {
        Abandon(std::move(operation));
        CloseAfterStuckOperation();
        return 0;
      }
      count = *cancelled;
      std::copy_n(operation->data.begin(), count, buffer);
      return count;
    }
  }
  GetOverlappedResult(file, &operation->record, &count, FALSE);
  std::copy_n(operation->data.begin(), count, buffer);
  return count;
}

void COMPort::Close() {
  mFailed = false;
  if (!mHandle) return;
  mHandle.reset();
  com_port_log::Closed(mPortName);
}

}  // namespace corvane

namespace corvane {

bool COMPortTesting::MakeReadsWaitForFullCapacity(COMPort& port) {
  if (!port.mHandle) return false;
  COMMTIMEOUTS timeouts{};  // all zero: no time-outs, a read waits for its count
  return SetCommTimeouts(port.mHandle->file.Get(), &timeouts) != FALSE;
}

}  // namespace corvane
