// COMPort through termios: the device opened by path, exclusively, in
// non-blocking mode; reads and writes wait with poll.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <utility>

#include "serial/com_port.h"
#include "serial/com_port_log.h"
#include "serial/port_listing.h"
#include "support/utf8.h"

namespace corvane {
namespace {

// Longest wait of a read for the first byte to arrive.
constexpr int kReadWaitMs = 2;

struct BaudConstant {
  int32_t rate;   // bits per second
  speed_t speed;  // termios constant
};

constexpr std::array<BaudConstant, 30> kBaudConstants = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

bool SpeedFor(int32_t rate, speed_t& speed) {
  for (const BaudConstant& entry : kBaudConstants) {
    if (entry.rate == rate) {
      speed = entry.speed;
      return true;
    }
  }
  return false;
}

// Owns one file descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : mFd(fd) {}
  ~UniqueFd() {
    if (mFd >= 0) ::close(mFd);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return mFd; }

 private:
  int mFd;  // -1 when empty
};

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

struct COMPort::Handle {
  explicit Handle(int descriptor) : fd(descriptor) {}
  UniqueFd fd;  // the open tty, non-blocking
};

COMPort::COMPort() = default;

COMPort::~COMPort() {
  Close();
  DestroyPortEnumerator();
}

bool COMPort::IsOpen() const { return mHandle != nullptr; }

bool COMPort::Open(const MVX::MVXString& name, int32_t baudRate) {
  Close();
  mFailed = false;
  mPortName = name;
  mBaudRate = static_cast<uint32_t>(baudRate);

  const std::string path = MVX::WideToUtf8(name);
  auto handle =
      std::make_unique<Handle>(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  // TIOCEXCL keeps other processes out but not a privileged one; the lock
  // keeps out every user of this class, privileged or not.
  if (handle->fd.Get() < 0 || ::flock(handle->fd.Get(), LOCK_EX | LOCK_NB) != 0 ||
      ::ioctl(handle->fd.Get(), TIOCEXCL) != 0) {
    com_port_log::OpenFailed(name, mLastFailedOpen);
    return false;
  }
  mHandle = std::move(handle);

  if (Configure(baudRate)) {
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
  const int fd = mHandle->fd.Get();
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return false;

  if (baudRate > 0) {
    speed_t speed = B0;
    if (!SpeedFor(baudRate, speed)) return false;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
  }
  // Raw bytes, 8N1, no hardware or software handshake; VMIN = VTIME = 0 so
  // that a read returns at once with what has arrived.
  settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                             ICRNL | IXON | IXOFF | IXANY | INPCK);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &settings) != 0) return false;
  mBaudRate = static_cast<uint32_t>(baudRate);

  // RTS on, DTR off. Pseudo-terminals have no modem lines and refuse these.
  const int rts = TIOCM_RTS;
  const int dtr = TIOCM_DTR;
  (void)::ioctl(fd, TIOCMBIS, &rts);
  (void)::ioctl(fd, TIOCMBIC, &dtr);
  return true;
}

bool COMPort::Write(const uint8_t* data, size_t length, uint32_t timeoutMs) {
  if (!mHandle) return false;
  const int fd = mHandle->fd.Get();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t written = 0;
  while (written < length) {
    const ssize_t count = ::write(fd, data + written, length - written);
    if (count > 0) {
      written += static_cast<size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN) break;
    const int waitMs = RemainingMs(deadline);
    if (waitMs == 0) break;
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, waitMs) < 0 && errno != EINTR) break;
  }
  if (written == length) return true;
  // The frame's head may be queued: drop it, so that the peer never sees it
  // glued to the front of the next frame.
  ::tcflush(fd, TCOFLUSH);
  return false;
}

size_t COMPort::Read(uint8_t* buffer, size_t capacity) {
  if (!mHandle || capacity == 0) return 0;
  const int fd = mHandle->fd.Get();
  // With VMIN = VTIME = 0 an empty line reads as 0 at once. Waiting briefly
  // for the first byte then spares the callers' read loops from spinning
  // while a frame is on its way, at no cost in latency: poll wakes at once.
  ssize_t count = ::read(fd, buffer, capacity);
  if (count == 0 || (count < 0 && (errno == EAGAIN || errno == EINTR))) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kReadWaitMs) > 0) count = ::read(fd, buffer, capacity);
  }
  if (count > 0) return static_cast<size_t>(count);
  // A hung-up line (unplugged adapter, closed pseudo-terminal master) reads
  // 0 like a quiet one, or fails; only its poll state tells them apart.
  if (count < 0 && errno != EAGAIN && errno != EINTR) {
    mFailed = true;
    return 0;
  }
  pollfd state{fd, POLLIN, 0};
  if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    mFailed = true;
  }
  return 0;
}

void COMPort::Close() {
  mFailed = false;
  if (!mHandle) return;
  // Exclusive mode belongs to the tty, not to this descriptor: clear it so
  // that the port can be opened again while its other end lives on.
  (void)::ioctl(mHandle->fd.Get(), TIOCNXCL);
  mHandle.reset();
  com_port_log::Closed(mPortName);
}

}  // namespace corvane
