// The Windows port listing: the present COM-port interfaces that SetupAPI
// enumerates, each with the "PortName" from its device's registry key.
#include <memory>

#include "serial/com_port.h"
#include "serial/dev_reg_enum_win32.h"
#include "serial/port_listing.h"

namespace corvane {
namespace {

constexpr wchar_t kDevicePathPrefix[] = L"\\\\.\\";

// The enumeration of the listing that is running; the COMPort destructor may
// end it too.
std::unique_ptr<DevRegEnum> gEnumerator;

}  // namespace

void DestroyPortEnumerator() { gEnumerator.reset(); }

bool ListComPorts(std::vector<MVX::MVXString>& ports) {
  ports.clear();
  try {
    // Loaded here, on the first listing, and not at the module's attach.
    SetUpSetupApi();
    if (!gEnumerator) gEnumerator = std::make_unique<DevRegEnum>();
    while (gEnumerator->Next()) {
      const std::wstring instanceId = gEnumerator->GetInstanceId();
      std::wstring serialSegment = instanceId;
      gEnumerator->CutIdentifier(serialSegment, L'+');
      const std::wstring portName = RegistryPortName(instanceId);
      if (portName.empty() || IsOtherInstrumentSerial(serialSegment)) continue;
      ports.push_back(kDevicePathPrefix + portName);
    }
  } catch (...) {
    // Only memory can run out here; the listing reports what it has.
  }
  DestroyPortEnumerator();
  return !ports.empty();
}

}  // namespace corvane
