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

}  // namespace corvane::platform
