#include "support/progress_window.h"

#include <atomic>

namespace MVX {
namespace {

// Set at attach and cleared at detach, read by whichever thread runs a task.
std::atomic<ProgressWindows*> gHostWindows{nullptr};

}  // namespace

void SetHostProgressWindows(ProgressWindows* windows) { gHostWindows.store(windows); }

ProgressWindows* HostProgressWindows() { return gHostWindows.load(); }

}  // namespace MVX
