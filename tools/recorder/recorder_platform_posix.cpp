#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
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

struct KeyInput::State {
  termios saved{};
};

KeyInput::KeyInput() {
  if (isatty(STDIN_FILENO) == 0) return;
  auto state = std::make_unique<State>();
  if (tcgetattr(STDIN_FILENO, &state->saved) != 0) return;
  termios raw = state->saved;
  // Keys as they are pressed, without waiting for a line; reads never block.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
  mState = std::move(state);
}

KeyInput::~KeyInput() {
  if (mState) tcsetattr(STDIN_FILENO, TCSANOW, &mState->saved);
}

int KeyInput::Poll() {
  unsigned char key = 0;
  if (!mState || read(STDIN_FILENO, &key, 1) != 1) return -1;
  return key;
}

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
