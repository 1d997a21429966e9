// The interfaces that the host hands to the module, and the host framework's
// services. Only the slots the module calls are named; the others keep their
// places so that the virtual tables line up with the host's.
#pragma once

#include <cstdint>

#include "platform/calling_convention.h"

namespace corvane {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

// The first three slots of every host interface.
class HostUnknown {
 public:
  virtual int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) = 0;
  virtual uint32_t CORVANE_STDCALL AddRef() = 0;
  virtual uint32_t CORVANE_STDCALL Release() = 0;
};

// The host object of InitOnMainThread; its fifteenth method stores the host
// service, with one reference, at `service`.
class HostObject : public HostUnknown {
 public:
  virtual int32_t CORVANE_STDCALL Reserved3() = 0;
  virtual int32_t CORVANE_STDCALL Reserved4() = 0;
  virtual int32_t CORVANE_STDCALL Reserved5() = 0;
  virtual int32_t CORVANE_STDCALL Reserved6() = 0;
  virtual int32_t CORVANE_STDCALL Reserved7() = 0;
  virtual int32_t CORVANE_STDCALL Reserved8() = 0;
  virtual int32_t CORVANE_STDCALL Reserved9() = 0;
  virtual int32_t CORVANE_STDCALL Reserved10() = 0;
  virtual int32_t CORVANE_STDCALL Reserved11() = 0;
  virtual int32_t CORVANE_STDCALL Reserved12() = 0;
  virtual int32_t CORVANE_STDCALL Reserved13() = 0;
  virtual int32_t CORVANE_STDCALL GetHostService(HostUnknown** service) = 0;
};

// The host framework's log service: its fourth method takes one log line.
// `line` null is the start exchange before the first line: the service may
// replace *startTick with the host's own start tick.
class HostLogService : public HostUnknown {
 public:
  virtual int32_t CORVANE_STDCALL WriteLine(const wchar_t* line, uint32_t* startTick) = 0;
};

// A progress window's interface: what a created window hands back.
class HostProgress : public HostUnknown {
 public:
  // 0..100; returns non-zero when the user cancelled.
  virtual int32_t CORVANE_STDCALL SetProgress(int32_t percent, const wchar_t* text) = 0;
  virtual int32_t CORVANE_STDCALL Close() = 0;
};

// The host framework's progress service.
class HostProgressService : public HostUnknown {
 public:
  // Fourth method: hands out the per-process 16-bit key value.
  virtual int32_t CORVANE_STDCALL GetKeyValue(uint16_t* value) = 0;
  virtual int32_t CORVANE_STDCALL Reserved4() = 0;
  // Sixth method: creates an object for `key` and interface `iid`.
  virtual int32_t CORVANE_STDCALL CreateObject(uint32_t key, const Guid& iid, void** out) = 0;
};

// The object the progress service creates; its ninth method opens the window.
class HostProgressFactory : public HostUnknown {
 public:
  virtual int32_t CORVANE_STDCALL Reserved3() = 0;
  virtual int32_t CORVANE_STDCALL Reserved4() = 0;
  virtual int32_t CORVANE_STDCALL Reserved5() = 0;
  virtual int32_t CORVANE_STDCALL Reserved6() = 0;
  virtual int32_t CORVANE_STDCALL Reserved7() = 0;
  virtual int32_t CORVANE_STDCALL OpenWindow(int32_t show, const wchar_t* title,
                                             const wchar_t* text, int32_t flags,
                                             HostProgress** result) = 0;
};

// The host framework's registration service: its fourth method takes the
// announcement of a pre-release module ("description version").
class HostRegistrationService : public HostUnknown {
 public:
  virtual int32_t CORVANE_STDCALL Announce(const wchar_t* text) = 0;
};

// Identifiers of the host framework's class and services.
inline constexpr Guid kHostkitClassId = {
    0x6f1d2a40, 0x5c3e, 0x4b8a, {0x9e, 0x21, 0x3a, 0x7c, 0x55, 0x10, 0xc2, 0x01}};
inline constexpr Guid kLogServiceId = {
    0x6f1d2a41, 0x5c3e, 0x4b8a, {0x9e, 0x21, 0x3a, 0x7c, 0x55, 0x10, 0xc2, 0x01}};
inline constexpr Guid kProgressServiceId = {
    0x6f1d2a42, 0x5c3e, 0x4b8a, {0x9e, 0x21, 0x3a, 0x7c, 0x55, 0x10, 0xc2, 0x01}};
inline constexpr Guid kProgressFactoryId = {
    0x6f1d2a43, 0x5c3e, 0x4b8a, {0x9e, 0x21, 0x3a, 0x7c, 0x55, 0x10, 0xc2, 0x01}};

inline constexpr Guid kRegistrationServiceId = {
    0x6f1d2a44, 0x5c3e, 0x4b8a, {0x9e, 0x21, 0x3a, 0x7c, 0x55, 0x10, 0xc2, 0x01}};

// The Linux host framework's entry point, exported by Hostkit.so.
using HostkitGetClassObjectFn = int32_t(CORVANE_STDCALL*)(const Guid& clsid, const Guid& iid,
                                                          void** out);
inline constexpr char kHostkitEntryPoint[] = "DllGetClassObject";

}  // namespace corvane
