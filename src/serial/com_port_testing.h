// Test access to an open COMPort, for conditions that a healthy line does not
// produce on its own.
#pragma once

#include "serial/com_port.h"

namespace corvane {

struct COMPortTesting {
  // Makes the open port's reads wait until their whole capacity has arrived,
  // so that a Read's short wait ends before the read does. False when the
  // port is closed or the platform has no such setting.
  static bool MakeReadsWaitForFullCapacity(COMPort& port);
};

}  // namespace corvane
