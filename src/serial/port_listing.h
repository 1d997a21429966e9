// The parts of the port listing shared by both platforms, and the hook by which
// a COMPort's destructor releases the listing's enumerator.
#pragma once

#include <string_view>

namespace corvane {

// Destroys the listing's enumerator if one exists. Nothing to do where the
// listing keeps no enumerator between calls.
void DestroyPortEnumerator();

// True when a device's serial segment carries the serial-number marker of one
// of the maker's other instruments: such ports are never offered to the wrist
// unit search.
bool IsOtherInstrumentSerial(std::wstring_view serialSegment);

}  // namespace corvane
