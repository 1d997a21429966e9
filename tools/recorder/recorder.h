// The recorder: drives the device module as the recording application does
// and writes what comes back.
#pragma once

#include "options.h"

namespace corvane::recorder {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;      // bad command line or setting
inline constexpr int kExitFailure = 2;    // module, device or output problem
inline constexpr int kExitAborted = 3;    // the device aborted or stopped the recording
inline constexpr int kExitInterrupted = 130;  // Ctrl-C before the recording started

int Run(const Options& options);

}  // namespace corvane::recorder
