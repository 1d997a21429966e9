// Calling conventions of entry points that cross a binary boundary.
//
// The vendor control library and the host framework use the Win32 standard
// convention on the 32-bit Windows build; the same declarations compile to the
// platform default elsewhere.
#pragma once

#if defined(_WIN32)
#define CORVANE_STDCALL __stdcall
#define CORVANE_EXPORT __declspec(dllexport)
#else
#define CORVANE_STDCALL
#define CORVANE_EXPORT __attribute__((visibility("default")))
#endif
