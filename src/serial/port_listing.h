// The parts of the port listing shared by both platforms, and the hook by which
// a COMPort's destructor releases the listing's enumerator.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Destroys the listing's enumerator if one exists. Nothing to do where the
// listing keeps no enumerator between calls.
void DestroyPortEnumerator();

// True when a device's serial segment carries the serial-number marker of one
// of the maker's other instruments: such ports are never offered to the wrist
// unit search.
bool IsOtherInstrumentSerial(std::wstring_view serialSegment);

// Cuts a device identifier in place: keeps what follows the last `separator`
// (all of it when there is none), then what precedes the first backslash.
// With "+" it turns "FTDIBUS\VID_0403+PID_6001+A1B2C3\0000" into the serial
// segment "A1B2C3".
void CutIdentifier(std::wstring& identifier, wchar_t separator);

}  // namespace corvane
