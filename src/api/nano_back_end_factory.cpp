// The wrist unit candidate of the back-end probe: a driver that searched the
// machine's serial ports while it was built. Without a unit its connect fails
// and the probe goes on to the vendor library.
#include <new>

#include "api/finapres_api_i.h"
#include "nano/finapres_nano_driver.h"
#include "serial/com_port.h"

namespace corvane {

std::unique_ptr<FinapresAPI_I> CreateNanoBackEnd() {
  try {
    std::vector<MVX::MVXString> ports;
    ListComPorts(ports);
    return std::make_unique<FinapresNanoDriver>(ports);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace corvane
