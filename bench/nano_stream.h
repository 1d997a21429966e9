// A recording from the simulated wrist unit through the real module, for the
// wrist-unit stream benchmarks (Linux only; the simulator is a native program).
//
// The simulator is started with --send-log, which records the monotonic time
// at which each 'd' frame's last byte went into the pseudo-terminal, with the
// frame's counter and pressure. The host side notes the monotonic time at which
// each ReadLine returned a finger-pressure line ("+1,..."). Each value in those
// lines is the frame's pressure, scaled: (pressure / 10) * 32000 / 400. The two
// sequences are matched by value (a run of 200 values fixes where the host's
// recording starts in the sent frames), so no sequence is assumed: a frame
// the host never saw shows as a gap in the match, a value it made up as one
// that matches nothing. Latency of a frame: its line's ReadLine return minus
// the write of its last byte; all values of one line share the return time.
#pragma once

namespace corvane::bench {

struct StreamOptions {
  const char* title = "";
  double seconds = 60;
  bool flood = false;  // the simulator keeps the line busy with data frames
};

// Runs the recording and prints the figures; the exit code for main.
int RunStreamBench(const StreamOptions& options);

}  // namespace corvane::bench
