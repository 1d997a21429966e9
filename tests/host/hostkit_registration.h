// Makes a class object reachable as the host framework's, the way a host
// does it on this platform.
#pragma once

#include "host/host_interfaces.h"

namespace corvane::testing {
void RegisterHostkit(HostUnknown* classObject);
void UnregisterHostkit();
}  // namespace corvane::testing
