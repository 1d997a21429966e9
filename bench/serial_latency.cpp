// Latency of the serial port on a pseudo-terminal line: a Read with nothing
// waiting, and the round trip of one 6-byte frame that the far end echoes.
// Prints the median and the 99th percentile of each. Under Wine the null-modem
// helper must be running (see tests/serial/CMakeLists.txt), e.g. with
//   tests/serial/null_modem.sh start build/windows/tests/serial/pty_null_modem
//       build/windows/wineprefix/dosdevices /tmp/nm.pid com21 com22
// on one line.
//
//   serial_latency [samples]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "serial/com_port.h"
#include "serial_line.h"

namespace {

using Clock = std::chrono::steady_clock;

void Report(const char* what, std::vector<double>& microseconds) {
  std::sort(microseconds.begin(), microseconds.end());
  const size_t n = microseconds.size();
  std::printf("%-28s median %9.1f us   p99 %9.1f us   (%zu samples)\n", what, microseconds[n / 2],
              microseconds[std::min(n - 1, n * 99 / 100)], n);
}

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
  std::string why;
  auto line = corvane::testing::SerialLine::Make(0, why);
  if (!line) {
    std::fprintf(stderr, "no serial line: %s\n", why.c_str());
    return 1;
  }
  corvane::COMPort port;
  if (!port.Open(line->Path(), 115200)) {
    std::fprintf(stderr, "the port does not open\n");
    return 1;
  }

  std::vector<double> times;
  uint8_t buffer[512];
  for (int i = 0; i < samples; ++i) {
    const auto start = Clock::now();
    if (port.Read(buffer, sizeof buffer) != 0) return 1;
    times.push_back(MicrosecondsSince(start));
  }
  Report("Read, nothing waiting", times);

  // The far end echoes every frame, as a device answers a request.
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    while (!stop) {
      const std::string frame = line->FarRead(6, 100);
      if (!frame.empty()) line->FarWrite(frame);
    }
  });
  const uint8_t frame[6] = {0xD4, 0x01, 0x01, 0xD4, 0x76, 0x5A};
  times.clear();
  for (int i = 0; i < samples; ++i) {
    const auto start = Clock::now();
    if (!port.Write(frame, sizeof frame, 1000)) return 1;
    size_t got = 0;
    while (got < sizeof frame && MicrosecondsSince(start) < 1e6) {
      got += port.Read(buffer + got, sizeof frame - got);
    }
    if (got != sizeof frame || !std::equal(frame, frame + sizeof frame, buffer)) return 1;
    times.push_back(MicrosecondsSince(start));
  }
  stop = true;
  echo.join();
  Report("6-byte frame round trip", times);
  return 0;
}
