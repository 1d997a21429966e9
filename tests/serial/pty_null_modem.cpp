// A native helper for the Windows serial tests under Wine: joins pairs of
// pseudo-terminals back to back, like a null-modem cable, and links each
// terminal into the Wine prefix's dosdevices folder as a COM port.
//
//   pty_null_modem DOSDEVICES comA comB [comC comD ...]
//
// Prints "ready" once the links exist and relays until SIGTERM (or for at
// most ten minutes, should nobody stop it); then removes the links.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t gStop = 0;

struct Pty {
  int master = -1;   // relayed end
  int slave = -1;    // held open so that the master never sees a hang-up
  std::string link;  // dosdevices entry pointing at the slave
};

// Bytes read from one master and not yet written to the other.
struct Direction {
  int from;
  int to;
  char buffer[4096];
  size_t size = 0;
  size_t sent = 0;
};

bool OpenPty(const std::string& link, Pty& pty) {
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) return false;
  const char* slave = ptsname(pty.master);
  if (slave == nullptr) return false;
  pty.slave = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  unlink(link.c_str());
  if (pty.slave < 0 || symlink(slave, link.c_str()) != 0) return false;
  pty.link = link;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (argc - 2) % 2 != 0) {
    fprintf(stderr, "usage: %s DOSDEVICES comA comB [comC comD ...]\n", argv[0]);
    return 2;
  }
  signal(SIGTERM, [](int) { gStop = 1; });
  signal(SIGINT, [](int) { gStop = 1; });
  signal(SIGHUP, SIG_IGN);

  std::vector<Pty> ptys(static_cast<size_t>(argc - 2));
  for (size_t i = 0; i < ptys.size(); ++i) {
    if (!OpenPty(std::string(argv[1]) + "/" + argv[i + 2], ptys[i])) {
      perror(argv[i + 2]);
      return 1;
    }
  }
  std::vector<Direction> directions;
  directions.reserve(ptys.size());
  for (size_t i = 0; i < ptys.size(); i += 2) {
    directions.push_back(Direction{ptys[i].master, ptys[i + 1].master, {}, 0, 0});
    directions.push_back(Direction{ptys[i + 1].master, ptys[i].master, {}, 0, 0});
  }
  printf("ready\n");
  fflush(stdout);

  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  while (!gStop && std::chrono::steady_clock::now() < end) {
    // A direction with bytes in hand waits to write them; otherwise it waits
    // to read. A far end that stops reading thus stalls its direction, as a
    // real line's flow would.
    std::vector<pollfd> waits;
    for (const Direction& d : directions) {
      waits.push_back(d.size > d.sent ? pollfd{d.to, POLLOUT, 0} : pollfd{d.from, POLLIN, 0});
    }
    if (poll(waits.data(), waits.size(), 200) < 0) continue;
    for (size_t i = 0; i < directions.size(); ++i) {
      Direction& d = directions[i];
      if (waits[i].revents == 0) continue;
      if (d.size == d.sent) {
        const ssize_t n = read(d.from, d.buffer, sizeof d.buffer);
        d.size = n > 0 ? static_cast<size_t>(n) : 0;
        d.sent = 0;
      }
      if (d.size > d.sent) {
        const ssize_t n = write(d.to, d.buffer + d.sent, d.size - d.sent);
        if (n > 0) d.sent += static_cast<size_t>(n);
      }
    }
  }
  for (const Pty& pty : ptys) unlink(pty.link.c_str());
  return 0;
}
