// Ends the test process at once, whatever its other threads are doing.
#pragma once

namespace corvane::testing {

// Unlike exit, runs no exit handlers and takes no loader lock, so it works
// while another thread hangs inside an unload.
[[noreturn]] void EndProcessNow(int code);

}  // namespace corvane::testing
