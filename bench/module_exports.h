// The module beside the benchmark program, loaded as a host loads it, with the
// exports the benchmarks drive.
#pragma once

#include <cstdint>

#include "platform/dynamic_library.h"
#include "support/path.h"

namespace corvane::bench {

struct ModuleExports {
  platform::DynamicLibrary library;
  int32_t (*FindDevice)(uint32_t*) = nullptr;
  int32_t (*Initialise)(int32_t) = nullptr;
  int32_t (*CloseAll)() = nullptr;
  int32_t (*WriteBuffer)(int32_t, const char*, int32_t) = nullptr;
  int32_t (*ReadLine)(int32_t, char*, int32_t, int32_t) = nullptr;

  // Loads Corvane.kvwdll from the program's folder; false when it or any of
  // the exports is missing.
  bool Load() {
    library = platform::DynamicLibrary::Open((MVX::Path() / L"Corvane.kvwdll").Wide());
    if (!library.IsLoaded()) return false;
    return Resolve(FindDevice, "FindDevice") && Resolve(Initialise, "Initialise") &&
           Resolve(CloseAll, "CloseAll") && Resolve(WriteBuffer, "WriteBuffer") &&
           Resolve(ReadLine, "ReadLine");
  }

 private:
  template <typename Fn>
  bool Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(library.Symbol(name));
    return fn != nullptr;
  }
};

}  // namespace corvane::bench
