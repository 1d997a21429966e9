#include <cstdlib>

#include "platform/process_exit.h"

namespace corvane::platform {

void RunBeforeStaticsAtExit(void (*stop)()) {
  // Exit handlers run in the reverse order of their registration, static
  // destructors included: registered after a library's load, this one runs
  // before that library's statics go. A dlclose of the module runs it too,
  // after the module's own unload, when there is nothing left to stop.
  static bool registered = false;
  if (registered) return;
  registered = std::atexit(stop) == 0;
}

}  // namespace corvane::platform
