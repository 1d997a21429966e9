// The version block's values as the module's code sees them, and which builds
// announce themselves to the host.
#include <gtest/gtest.h>

#include <cwchar>
#include <regex>
#include <string>

#include "host/resources/version_info.h"

namespace {

using corvane::ModuleVersionValue;
using corvane::ShouldAnnounceVersion;

TEST(VersionBlock, HoldsTheModulesIdentity) {
  EXPECT_STREQ(ModuleVersionValue(L"FileVersion"), L"2.0.8");
  EXPECT_STREQ(ModuleVersionValue(L"FileDescription"), L"Corvane Controller");
  EXPECT_STREQ(ModuleVersionValue(L"ProductVersion"), L"8.1.10");
  EXPECT_STREQ(ModuleVersionValue(L"ExtensionType"), L"DeviceEnabler");
  EXPECT_STREQ(ModuleVersionValue(L"OriginalFilename"), L"Corvane(8).kvwdll");
  EXPECT_STREQ(ModuleVersionValue(L"fileversion"), L"2.0.8");  // keys ignore case
  EXPECT_EQ(ModuleVersionValue(L"Comments"), nullptr);
  EXPECT_EQ(ModuleVersionValue(L""), nullptr);
}

TEST(VersionBlock, ClassIdAndBuildDateAreWellFormed) {
  const std::wstring clsid = ModuleVersionValue(L"ExtensionCLSID");
  EXPECT_TRUE(std::regex_match(
      clsid, std::wregex(LR"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})")))
      << std::string(clsid.begin(), clsid.end());
  // Day/month/year, then the 12-hour time with seconds.
  const std::wstring date = ModuleVersionValue(L"BuildDate");
  EXPECT_TRUE(std::regex_match(
      date, std::wregex(LR"((0?[1-9]|[12][0-9]|3[01])/(0?[1-9]|1[0-2])/20[0-9]{2} )"
                        LR"(([1-9]|1[0-2]):[0-5][0-9]:[0-5][0-9] (AM|PM))")))
      << std::string(date.begin(), date.end());
}

TEST(VersionAnnouncement, OnlyPreReleaseBuildsAnnounce) {
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"2.0.8", false},     {L"2.1 beta", true},
      {L"2.1 Alpha", true},  {L"2.1 Beta 3", true},
      {L"final", true},      {L"2.1 Final", true},
      {L"final dev", false}, {L"Final Development", false},
      {L"N/A beta", false},  {L"final N/A", false},
      {L"", false},          {L"beta dev", true},
  };
  for (const auto& [version, announced] : cases) {
    EXPECT_EQ(ShouldAnnounceVersion(version), announced)
        << std::string(version, version + std::wcslen(version));
  }
  EXPECT_FALSE(ShouldAnnounceVersion(ModuleVersionValue(L"FileVersion")));
}

}  // namespace
