#include <cxxabi.h>

#include "platform/process_exit.h"

// This module's handle in the C++ runtime's exit list (from crtbegin).
extern "C" void* __dso_handle;

namespace corvane::platform {
namespace {

void (*gStop)() = nullptr;

void RunStop(void*) {
  if (gStop != nullptr) gStop();
}

}  // namespace

void RunBeforeStaticsAtExit(void (*stop)()) {
  // Exit handlers run in the reverse order of their registration, static
  // destructors included: registered after a library's load, this one runs
  // before that library's statics go. Registered under this module's handle
  // (not with atexit, which some runtimes keep process-wide), so a dlclose of
  // the module runs it and drops it, after the module's own unload has left
  // nothing to stop.
  if (gStop != nullptr) return;
  gStop = stop;
  __cxxabiv1::__cxa_atexit(RunStop, nullptr, &__dso_handle);
}

}  // namespace corvane::platform
