#include <windows.h>

#include <utility>

#include "platform/dynamic_library.h"

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
  return DynamicLibrary(LoadLibraryW(path.c_str()));
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (mHandle == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(mHandle), name));
}

void DynamicLibrary::Close() {
  if (mHandle != nullptr) FreeLibrary(static_cast<HMODULE>(std::exchange(mHandle, nullptr)));
}

bool PinThisModule() {
  HMODULE self = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&PinThisModule), &self) != FALSE;
}

}  // namespace corvane::platform
