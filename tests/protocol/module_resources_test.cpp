// The module file's resources as the host reads them: its version block with
// the version API, and its control list, string table and manifest with the
// resource API, from the module built beside this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "host/resources/version_info.h"
#include "platform/resources.h"

namespace {

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

std::wstring ModulePath() {
  wchar_t exe[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Corvane.kvwdll";
}

std::string ReadSourceFile(const char* relative) {
  std::ifstream file(std::string(CORVANE_SOURCE_DIR) + relative, std::ios::binary);
  EXPECT_TRUE(file.is_open()) << relative;
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

class ModuleFileResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << "cannot load " << Narrow(ModulePath()) << ", error "
                               << GetLastError();
  }
  void TearDown() override {
    corvane::platform::SetResourceModule(nullptr);
    if (module != nullptr) FreeLibrary(module);
  }

  std::string Resource(const wchar_t* type, int id) {
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (info == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, info);
    const auto* data = static_cast<const char*>(LockResource(loaded));
    return data == nullptr ? std::string() : std::string(data, SizeofResource(module, info));
  }

  // The languages in which a resource exists.
  std::vector<WORD> Languages(const wchar_t* type, int id) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(id), &AddLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
  }

  HMODULE module = nullptr;
};

// The version block, read the way the host reads it.
class ModuleVersionBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(ModulePath().c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version block, error " << GetLastError();
    block.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(ModulePath().c_str(), 0, size, block.data()));
  }

  // A value of the US English, Windows-1252 string table; "<absent>" if none.
  std::wstring Value(const std::wstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904E4\\" + key;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr) {
      return L"<absent>";
    }
    return static_cast<const wchar_t*>(value);
  }

  std::vector<BYTE> block;
};

TEST_F(ModuleVersionBlock, HoldsEveryValueOfTheModulesIdentity) {
  const std::pair<const wchar_t*, const wchar_t*> values[] = {
      {L"CompanyName", L"Moravex"},
      {L"FileDescription", L"Corvane Controller"},
      {L"FileVersion", L"2.0.8"},
      {L"InternalName", L"Corvane"},
      {L"OriginalFilename", L"Corvane(8).kvwdll"},
      {L"ProductName", L"Kymoview"},
      {L"ProductVersion", L"8.1.10"},
      {L"ExtensionType", L"DeviceEnabler"},
      {L"ExtVersion", L"2.0.8"},
      {L"InternalID", L"1"},
      {L"InternalVersion", L"18.8"},
  };
  for (const auto& [key, expected] : values) {
    EXPECT_EQ(Value(key), expected) << Narrow(key);
  }
  // What the module's own code knows of the block is what the file holds.
  for (const wchar_t* key :
       {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"OriginalFilename",
        L"ProductName", L"ProductVersion", L"ExtensionType", L"ExtensionCLSID", L"ExtVersion",
        L"InternalID", L"InternalVersion", L"BuildDate"}) {
    const wchar_t* known = corvane::ModuleVersionValue(key);
    ASSERT_NE(known, nullptr) << Narrow(key);
    EXPECT_EQ(Value(key), known) << Narrow(key);
  }
}

TEST_F(ModuleVersionBlock, ClassIdAndBuildDateAreWellFormed) {
  const std::wstring clsid = Value(L"ExtensionCLSID");
  EXPECT_TRUE(std::regex_match(
      clsid, std::wregex(LR"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})")))
      << Narrow(clsid);
  const std::wstring date = Value(L"BuildDate");
  EXPECT_TRUE(std::regex_match(
      date, std::wregex(LR"((0?[1-9]|[12][0-9]|3[01])/(0?[1-9]|1[0-2])/20[0-9]{2} )"
                        LR"(([1-9]|1[0-2]):[0-5][0-9]:[0-5][0-9] (AM|PM))")))
      << Narrow(date);
}

TEST_F(ModuleVersionBlock, NumbersAndTranslationMatchTheStrings) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 2));      // 2.0
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 8));      // .8.0
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(1, 8));   // 8.1
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 10));  // .10.0
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, sizeof(Translation));
  EXPECT_EQ(translation->language, 0x0409);
  EXPECT_EQ(translation->codePage, 1252);
}

TEST_F(ModuleFileResources, ControlListIsTheSourceFileByteForByte) {
  const std::string source = ReadSourceFile("/src/host/resources/controllist.txt");
  ASSERT_FALSE(source.empty());
  EXPECT_EQ(Resource(MAKEINTRESOURCEW(10), 103), source);  // RT_RCDATA
  // And as the module's own code finds it.
  corvane::platform::SetResourceModule(module);
  const auto bytes =
      corvane::platform::FindModuleResource(corvane::platform::kResourceTypeRcData, 103);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), source);
}

TEST_F(ModuleFileResources, StringTableHoldsTheHostsTextsAndNoOthers) {
  const std::pair<UINT, const wchar_t*> strings[] = {
      {101, L"Finapres"}, {102, L"Finapres BV"}, {3550, L"Get help on configuring NIBP"},
      {3551, L"C1"},      {3552, L"C2"},         {3553, L"1"},
      {3554, L"15"},      {3555, L"30"},         {3556, L"60"},
      {3557, L"180"},
  };
  corvane::platform::SetResourceModule(module);
  for (const auto& [id, text] : strings) {
    wchar_t buffer[256] = {};
    EXPECT_EQ(LoadStringW(module, id, buffer, 256), static_cast<int>(std::wcslen(text))) << id;
    EXPECT_STREQ(buffer, text) << id;
    EXPECT_EQ(corvane::platform::LoadModuleString(static_cast<int>(id)).value_or(L"<absent>"), text)
        << id;
  }
  for (const UINT id : {100u, 103u, 3549u, 3558u}) {
    wchar_t buffer[16] = {};
    EXPECT_EQ(LoadStringW(module, id, buffer, 16), 0) << id;
  }
}

TEST_F(ModuleFileResources, ManifestAsksForTheInvokersLevelInUsEnglish) {
  HRSRC info = FindResourceExW(module, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(2),  // RT_MANIFEST
                               MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_NE(info, nullptr);
  const std::string manifest = Resource(MAKEINTRESOURCEW(24), 2);
  EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find(R"(uiAccess="false")"), std::string::npos) << manifest;
  EXPECT_EQ(Languages(MAKEINTRESOURCEW(24), 2), std::vector<WORD>{0x0409});
}

TEST_F(ModuleFileResources, OtherResourcesShareOneLanguage) {
  const std::vector<WORD> controlList = Languages(MAKEINTRESOURCEW(10), 103);
  ASSERT_EQ(controlList.size(), 1u);
  // String table blocks hold 16 strings each: block n has the ids 16(n-1) to 16n-1.
  EXPECT_EQ(Languages(MAKEINTRESOURCEW(6), 101 / 16 + 1), controlList);
  EXPECT_EQ(Languages(MAKEINTRESOURCEW(6), 3550 / 16 + 1), controlList);
  EXPECT_EQ(Languages(MAKEINTRESOURCEW(16), 1), controlList);  // RT_VERSION
}

}  // namespace
