#include "serial/port_listing.h"

#include <array>

namespace corvane {
namespace {

// Serial-number markers of the maker's other instruments that come with a USB
// serial adapter of their own. Probing them for a wrist unit would send them
// frames they do not understand, so their ports are left out of the listing.
constexpr std::array<std::wstring_view, 4> kOtherInstrumentMarkers = {
    L"CVLAB",  // laboratory monitor
    L"CVAMB",  // ambulatory recorder
    L"CVREF",  // reference calibrator
    L"CVSVC",  // service interface
};

}  // namespace

bool IsOtherInstrumentSerial(std::wstring_view serialSegment) {
  for (const std::wstring_view marker : kOtherInstrumentMarkers) {
    if (serialSegment.find(marker) != std::wstring_view::npos) return true;
  }
  return false;
}

void CutIdentifier(std::wstring& identifier, wchar_t separator) {
  const size_t last = identifier.rfind(separator);
  if (last != std::wstring::npos) identifier.erase(0, last + 1);
  const size_t backslash = identifier.find(L'\\');
  if (backslash != std::wstring::npos) identifier.erase(backslash);
}

}  // namespace corvane
