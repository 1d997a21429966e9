// A shared library loaded at run time, owned and freed by this object.
#pragma once

#include <string>

namespace corvane::platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library at `path` (LoadLibraryW / dlopen). Empty on failure.
  static DynamicLibrary Open(const std::wstring& path);

  bool IsLoaded() const { return mHandle != nullptr; }
  // The address of an exported symbol, or null when it is missing.
  void* Symbol(const char* name) const;
  // Frees the library now; the object is then empty.
  void Close();

 private:
  explicit DynamicLibrary(void* handle) : mHandle(handle) {}
  void* mHandle = nullptr;  // HMODULE or dlopen handle
};

// Keeps the module that holds this code mapped until the process ends, even
// when it is being unloaded now: for a worker that could not be stopped and
// may still run the module's code. Best effort; false when it did not take.
bool PinThisModule();

}  // namespace corvane::platform
