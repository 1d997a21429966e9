#include "host/resources/version_info.h"

#include <cwctype>

#include "host/resources/version_strings.h"

// The version strings are narrow literals, as windres wants them.
#define CORVANE_WIDEN_(text) L##text
#define CORVANE_WIDEN(text) CORVANE_WIDEN_(text)

namespace corvane {
namespace {

struct VersionValue {
  std::wstring_view key;
  const wchar_t* value;
};

// The StringFileInfo entries of module.rc, in its order.
constexpr VersionValue kVersionBlock[] = {
    {L"CompanyName", CORVANE_WIDEN(CORVANE_COMPANY_NAME)},
    {L"FileDescription", CORVANE_WIDEN(CORVANE_FILE_DESCRIPTION)},
    {L"FileVersion", CORVANE_WIDEN(CORVANE_FILE_VERSION)},
    {L"InternalName", CORVANE_WIDEN(CORVANE_INTERNAL_NAME)},
    {L"OriginalFilename", CORVANE_WIDEN(CORVANE_ORIGINAL_FILENAME)},
    {L"ProductName", CORVANE_WIDEN(CORVANE_PRODUCT_NAME)},
    {L"ProductVersion", CORVANE_WIDEN(CORVANE_PRODUCT_VERSION)},
    {L"ExtensionType", CORVANE_WIDEN(CORVANE_EXTENSION_TYPE)},
    {L"ExtensionCLSID", CORVANE_WIDEN(CORVANE_EXTENSION_CLSID)},
    {L"ExtVersion", CORVANE_WIDEN(CORVANE_EXT_VERSION)},
    {L"InternalID", CORVANE_WIDEN(CORVANE_INTERNAL_ID)},
    {L"InternalVersion", CORVANE_WIDEN(CORVANE_INTERNAL_VERSION)},
    {L"BuildDate", CORVANE_WIDEN(CORVANE_BUILD_DATE)},
};

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool Contains(std::wstring_view text, std::wstring_view part) {
  return text.find(part) != std::wstring_view::npos;
}

}  // namespace

const wchar_t* ModuleVersionValue(std::wstring_view key) {
  for (const VersionValue& entry : kVersionBlock) {
    if (EqualsIgnoringCase(entry.key, key)) return entry.value;
  }
  return nullptr;
}

bool ShouldAnnounceVersion(std::wstring_view version) {
  if (Contains(version, L"N/A")) return false;
  // Word stems without their first letter, so that "Beta" and "beta" both match.
  if (Contains(version, L"lpha") || Contains(version, L"eta")) return true;
  return Contains(version, L"inal") && !Contains(version, L"ev");
}

}  // namespace corvane
