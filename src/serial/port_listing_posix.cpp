// The Linux listing keeps no enumerator between calls.
#include "serial/port_listing.h"

namespace corvane {

void DestroyPortEnumerator() {}

}  // namespace corvane
