#include <windows.h>

#include "platform/resources.h"

namespace corvane::platform {
namespace {

void* gModule = nullptr;

HMODULE Module() {
  return gModule != nullptr ? static_cast<HMODULE>(gModule) : GetModuleHandleW(nullptr);
}

}  // namespace

void SetResourceModule(void* moduleHandle) { gModule = moduleHandle; }
void* ResourceModule() { return gModule; }

std::span<const std::byte> FindModuleResource(int type, int id) {
  const HMODULE module = Module();
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const DWORD size = SizeofResource(module, info);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return {};
  return {static_cast<const std::byte*>(data), size};
}

std::optional<std::wstring> LoadModuleString(int id) {
  const wchar_t* text = nullptr;
  // With a buffer size of 0, LoadStringW hands out a pointer into the resource.
  const int length =
      LoadStringW(Module(), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::nullopt;
  return std::wstring(text, static_cast<size_t>(length));
}

}  // namespace corvane::platform
