// The line settings as the kernel holds them, read from the pseudo-terminal's
// master side (which reports the slave's settings).
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/com_port.h"
#include "support/module_log.h"
#include "support/utf8.h"

namespace corvane {
namespace {

class LogLines final : public MVX::LogSink {
 public:
  LogLines() { MVX::ModuleLog::SetSink(this); }
  ~LogLines() override { MVX::ModuleLog::SetSink(nullptr); }
  void Deliver(const wchar_t* line, uint32_t*) override {
    if (line != nullptr)
      lines.push_back(std::wstring(line).substr(std::wstring(line).find(L": ") + 2));
  }
  std::vector<std::wstring> lines;
};

TEST(COMPortPosix, RateAndLineSettings) {
  struct Case {
    int32_t rate;           // asked for
    bool opens;             // expected result
    speed_t expectedSpeed;  // what the line then runs at (the earlier 9600 kept)
  };
  const Case cases[] = {
      {115200, true, B115200}, {9600, true, B9600},   {0, true, B9600},
      {-1, true, B9600},       {12345, false, B9600}, {4000000, true, B4000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    termios before{};
    ASSERT_EQ(::tcgetattr(master, &before), 0);
    ::cfsetspeed(&before, B9600);
    before.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    before.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(::tcsetattr(master, TCSANOW, &before), 0);
    const MVX::MVXString path = MVX::Utf8ToWide(::ptsname(master));

    LogLines log;
    COMPort port;
    EXPECT_EQ(port.Open(path, c.rate), c.opens);
    EXPECT_EQ(port.IsOpen(), c.opens);
    EXPECT_EQ(port.BaudRate(), static_cast<uint32_t>(c.rate));
    if (!c.opens) {
      // The device did open: the failure is the configuration's, and the
      // port is closed again.
      EXPECT_EQ(log.lines, (std::vector<std::wstring>{L"COMPort failed to configure port " + path,
                                                      L"COMPort closed handle for port " + path}));
    }

    termios after{};
    ASSERT_EQ(::tcgetattr(master, &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), c.expectedSpeed);
    if (c.opens) {
      EXPECT_EQ(after.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
      EXPECT_EQ(after.c_iflag & (IXON | IXOFF), 0u);
      EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
      EXPECT_EQ(after.c_oflag & OPOST, 0u);
    }
    port.Close();
    ::close(master);
  }
}

}  // namespace
}  // namespace corvane
