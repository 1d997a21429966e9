// Work that must be done when the process exits while the module is loaded,
// before the static objects of the libraries loaded so far are destroyed.
#pragma once

namespace corvane::platform {

// Has `stop` run at process exit before the static objects of every library
// loaded until now are destroyed; registers it once per module load. Linux
// destroys them while other threads still run, so a worker would go on
// calling into destroyed objects. Windows ends every other thread before it
// detaches any library, so there this does nothing.
void RunBeforeStaticsAtExit(void (*stop)());

}  // namespace corvane::platform
