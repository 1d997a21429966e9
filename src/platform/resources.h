// Read-only resources built into a module: RCDATA and string table entries.
//
// Windows reads them from the module's resource section (FindResourceW and
// friends). Linux embeds the same source files at build time into a table
// that the binary carries (see cmake/CorvaneResources.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace corvane::platform {

inline constexpr int kResourceTypeRcData = 10;  // RT_RCDATA

// The module whose resources are read; null means the process's executable.
void SetResourceModule(void* moduleHandle);
void* ResourceModule();

// The bytes of resource `id` of `type`, or empty when it is absent.
std::span<const std::byte> FindModuleResource(int type, int id);

// String table entry `id`, or nothing when it is absent.
std::optional<std::wstring> LoadModuleString(int id);

// One entry of the table that Linux builds embed.
struct EmbeddedResource {
  int type;
  int id;
  const unsigned char* data;
  size_t size;
};

}  // namespace corvane::platform
