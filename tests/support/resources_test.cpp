// Resources built into the binary from the same source files on both targets.
#include <gtest/gtest.h>

#include <string>

#include "platform/resources.h"

using corvane::platform::FindModuleResource;
using corvane::platform::kResourceTypeRcData;
using corvane::platform::LoadModuleString;

TEST(Resources, RcDataIsTheSourceFileByteForByte) {
  const auto bytes = FindModuleResource(kResourceTypeRcData, 900);
  const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  EXPECT_EQ(text, "first line\r\nsecond line \xE9\x80\r\nno terminator");
}

TEST(Resources, AbsentEntriesAreEmpty) {
  EXPECT_TRUE(FindModuleResource(kResourceTypeRcData, 901).empty());
  EXPECT_TRUE(FindModuleResource(11, 900).empty());
  EXPECT_FALSE(LoadModuleString(999).has_value());
}

TEST(Resources, StringTableEntries) {
  EXPECT_EQ(LoadModuleString(901).value_or(L"?"), L"Sample string");
  EXPECT_EQ(LoadModuleString(902).value_or(L"?"), L"Quote \" inside");
}
