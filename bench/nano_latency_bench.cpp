// Latency of the wrist unit's data through the module: from the simulated
// unit writing a 'd' frame's last byte into the pseudo-terminal to the host's
// ReadLine returning the line with that frame's pressure, at the unit's
// normal 200 frames a second. How frames and lines are paired is described
// in nano_stream.h. Prints the median and 99th percentile over the run.
// Usage: nano_latency_bench [seconds]   (default 60)
#include <cstdlib>

#include "nano_stream.h"

int main(int argc, char** argv) {
  corvane::bench::StreamOptions options;
  options.title = "wrist-unit data latency, 200 'd' frames/s";
  if (argc > 1) options.seconds = std::atof(argv[1]);
  return corvane::bench::RunStreamBench(options);
}
