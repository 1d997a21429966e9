#include <dlfcn.h>

#include <utility>

#include "platform/dynamic_library.h"
#include "platform/fs_path.h"

namespace corvane::platform {

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : mHandle(std::exchange(other.mHandle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    mHandle = std::exchange(other.mHandle, nullptr);
  }
  return *this;
}

DynamicLibrary DynamicLibrary::Open(const std::wstring& path) {
  return DynamicLibrary(dlopen(ToFsPath(path).c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* DynamicLibrary::Symbol(const char* name) const {
  return mHandle == nullptr ? nullptr : dlsym(mHandle, name);
}

void DynamicLibrary::Close() {
  if (mHandle != nullptr) dlclose(std::exchange(mHandle, nullptr));
}

bool PinThisModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PinThisModule), &info) == 0 || info.dli_fname == nullptr) {
    return false;
  }
  // A reference that is never given back, on an object that may not be
  // unmapped.
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

}  // namespace corvane::platform
