#include "platform/resources.h"
#include "support/utf8.h"

// Each binary that carries resources defines this table, ended by an entry
// with a null data pointer; a binary without resources leaves it undefined.
extern "C" __attribute__((weak)) const corvane::platform::EmbeddedResource
    corvane_embedded_resources[];

namespace corvane::platform {
namespace {

constexpr int kResourceTypeString = 6;  // RT_STRING: one entry per string, UTF-8

void* gModule = nullptr;

const EmbeddedResource* Find(int type, int id) {
  const EmbeddedResource* table = corvane_embedded_resources;
  if (table == nullptr) return nullptr;
  for (; table->data != nullptr; ++table) {
    if (table->type == type && table->id == id) return table;
  }
  return nullptr;
}

}  // namespace

void SetResourceModule(void* moduleHandle) { gModule = moduleHandle; }
void* ResourceModule() { return gModule; }

std::span<const std::byte> FindModuleResource(int type, int id) {
  const EmbeddedResource* entry = Find(type, id);
  if (entry == nullptr) return {};
  return {reinterpret_cast<const std::byte*>(entry->data), entry->size};
}

std::optional<std::wstring> LoadModuleString(int id) {
  const EmbeddedResource* entry = Find(kResourceTypeString, id);
  if (entry == nullptr) return std::nullopt;
  return MVX::Utf8ToWide(
      std::string_view(reinterpret_cast<const char*>(entry->data), entry->size));
}

}  // namespace corvane::platform
