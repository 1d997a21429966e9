// Long end-to-end runs (many rounds, long recordings) come in a full and a
// short form. The short form still goes through every step of the run once;
// the sanitizer builds use it, since they look for memory and thread faults,
// which do not need the many rounds that a rare loss or race does. The native
// and the Windows builds run the full form, and CORVANE_LONG_TESTS=1 (`make
// test-long`) makes every build run it.
#pragma once

#include <cstdlib>
#include <string_view>

namespace corvane::testing {

// Set by the build: 1 in the sanitizer builds.
constexpr bool kShortRunsByDefault = CORVANE_SHORT_TEST_RUNS != 0;

// Whether CORVANE_LONG_TESTS asks for the long runs: then also the cases
// that only wait out a real-time budget run (on every build).
inline bool LongRunsAsked() {
  const char* asked = std::getenv("CORVANE_LONG_TESTS");
  return asked != nullptr && *asked != '\0' && std::string_view(asked) != "0";
}

inline bool FullLengthRuns() { return LongRunsAsked() || !kShortRunsByDefault; }

// `full` where the full form runs, else `shortForm`.
template <typename T>
T RunLength(T full, T shortForm) {
  return FullLengthRuns() ? full : shortForm;
}

}  // namespace corvane::testing
