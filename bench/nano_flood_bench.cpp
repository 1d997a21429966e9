// The wrist unit's line kept full: the simulator runs its clock ahead so that
// data frames follow each other back to back at 11520 bytes a second: about
// 710 'd' frames (15 bytes each) a second beside the status frame that goes
// with every 20th sample and the beat frames, against 200 at the unit's own
// pace. Prints the frames the host lost (must be 0), the
// latency as nano_latency_bench does, and the host process's CPU time, the
// module's threads included.
// Usage: nano_flood_bench [seconds]   (default 60)
#include <cstdlib>

#include "nano_stream.h"

int main(int argc, char** argv) {
  corvane::bench::StreamOptions options;
  options.title = "wrist-unit line at 100 % of 115200 baud";
  options.flood = true;
  if (argc > 1) options.seconds = std::atof(argv[1]);
  return corvane::bench::RunStreamBench(options);
}
