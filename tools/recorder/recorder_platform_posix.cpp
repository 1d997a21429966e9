#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recorder_platform.h"

namespace corvane::recorder {
namespace {

std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int) { gInterrupts.fetch_add(1); }

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A file grown beyond the process's size limit is a failed write, which
  // the recorder reports and survives, rather than the end of the process.
  signal(SIGXFSZ, SIG_IGN);
}

int InterruptCount() { return gInterrupts.load(); }

bool StdoutIsTerminal() { return isatty(fileno(stdout)) != 0; }

int TerminalColumns() {
  struct winsize size {};
  if (ioctl(fileno(stdout), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::string PortOpenProblem(const std::string& port) {
  const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? "the port does not exist"
                           : "it cannot be opened: " + std::string(std::strerror(errno));
  }
  close(fd);
  return {};
}

void SetEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace corvane::recorder
