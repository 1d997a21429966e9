// The real module loaded as a host loads it, from beside the test program,
// with the exports the end-to-end tests call, and a recording as they collect
// it from the data lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/host_interfaces.h"
#include "platform/dynamic_library.h"
#include "support/path.h"

namespace corvane::testing {

inline constexpr int kPerMmHg = 80;  // 32000 / 400

struct DeviceClassInfo {
  uint8_t classId[16];
  const wchar_t* description;
  const wchar_t* name;
};

// The module and its exports; Usable() once the module and every export was
// found.
struct Module {
  Module() {
    library = corvane::platform::DynamicLibrary::Open((MVX::Path() / L"Corvane.kvwdll").Wide());
    if (!library.IsLoaded()) return;
    Resolve(GetDeviceClassInfo, "GetDeviceClassInfo");
    Resolve(FindDevice, "FindDevice");
    Resolve(Initialise, "Initialise");
    Resolve(CloseAll, "CloseAll");
    Resolve(IsFailed, "IsFailed");
    Resolve(WriteBuffer, "WriteBuffer");
    Resolve(ReadLine, "ReadLine");
    Resolve(ReadBuffSize, "ReadBuffSize");
    Resolve(GetUniqueID, "GetUniqueID");
    Resolve(GetLastErrorMsg, "GetLastErrorMsg");
    Resolve(InitOnMainThread, "InitOnMainThread");
    Resolve(CleanupOnMainThread, "CleanupOnMainThread");
  }
  template <typename Fn>
  void Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(library.Symbol(name));
    if (fn == nullptr) missing = true;
  }
  bool Usable() const { return library.IsLoaded() && !missing; }

  corvane::platform::DynamicLibrary library;
  bool missing = false;
  int32_t (*GetDeviceClassInfo)(DeviceClassInfo*) = nullptr;
  int32_t (*FindDevice)(uint32_t*) = nullptr;
  int32_t (*Initialise)(int32_t) = nullptr;
  int32_t (*CloseAll)() = nullptr;
  int32_t (*IsFailed)(int32_t) = nullptr;
  int32_t (*WriteBuffer)(int32_t, const char*, int32_t) = nullptr;
  int32_t (*ReadLine)(int32_t, char*, int32_t, int32_t) = nullptr;
  int32_t (*ReadBuffSize)(int32_t) = nullptr;
  int32_t (*GetUniqueID)(int32_t, uint32_t*) = nullptr;
  int32_t (*GetLastErrorMsg)(int32_t, char*) = nullptr;
  int32_t (*InitOnMainThread)(void*, corvane::HostObject*) = nullptr;
  void (*CleanupOnMainThread)() = nullptr;
};

// Everything that a recording brought, per channel, in order.
struct Recording {
  std::map<int, std::vector<int64_t>> channels;
  std::vector<std::string> other;  // non-data lines, in order
  size_t Count(int channel) const {
    const auto it = channels.find(channel);
    return it == channels.end() ? 0 : it->second.size();
  }
};

}  // namespace corvane::testing
