#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/fs_path.h"
#include "support/path.h"

namespace fs = std::filesystem;
using corvane::platform::FromFsPath;
using corvane::platform::ToFsPath;

TEST(Path, DefaultIsTheExecutablesFolder) {
  const std::wstring exe = corvane::platform::ExecutablePath();
  ASSERT_FALSE(exe.empty());
  const MVX::Path folder;
  EXPECT_EQ(folder.Wide(), FromFsPath(ToFsPath(exe).parent_path()));
  EXPECT_TRUE(folder.IsDirectory());
  EXPECT_TRUE((folder / FromFsPath(ToFsPath(exe).filename())).Exists());
}

TEST(Path, ListsEntriesByExtensionWithoutRegardToCase) {
  const fs::path dir = fs::temp_directory_path() / "corvane_path_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // One name with non-ASCII characters: on Linux it must pass through UTF-8.
  const std::wstring accented = L"Vive\u00E9.XML";
  for (const std::wstring& name : {std::wstring(L"b.xml"), accented, std::wstring(L"c.txt"),
                                   std::wstring(L"d.xmlx"), std::wstring(L"e.Xml")}) {
    std::ofstream(ToFsPath(FromFsPath(dir) + L"/" + name)) << "x";
  }
  const MVX::Path folder(FromFsPath(dir));
  const auto found = folder.ListByExtension(L".xml");
  ASSERT_EQ(found.size(), 3u);
  std::vector<std::wstring> names;
  for (const auto& p : found) names.push_back(FromFsPath(ToFsPath(p.Wide()).filename()));
  EXPECT_EQ(names, (std::vector<std::wstring>{accented, L"b.xml", L"e.Xml"}));
  EXPECT_TRUE((folder / accented).Exists());
  fs::remove_all(dir);
}

TEST(Path, MissingFolderListsNothing) {
  const MVX::Path missing = MVX::Path() / L"no-such-folder-here";
  EXPECT_FALSE(missing.Exists());
  EXPECT_TRUE(missing.ListByExtension(L".xml").empty());
}
