#include "support/path.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <system_error>

#include "platform/fs_path.h"

namespace MVX {
namespace {

namespace fs = std::filesystem;
using corvane::platform::FromFsPath;
using corvane::platform::ToFsPath;

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); });
  return text;
}

}  // namespace

Path::Path() : mPath(FromFsPath(ToFsPath(corvane::platform::ExecutablePath()).parent_path())) {}

Path Path::operator/(const std::wstring& component) const {
  Path joined = *this;
  joined /= component;
  return joined;
}

Path& Path::operator/=(const std::wstring& component) {
  mPath = FromFsPath(ToFsPath(mPath) / ToFsPath(component));
  return *this;
}

bool Path::Exists() const {
  std::error_code error;
  return fs::exists(ToFsPath(mPath), error);
}

bool Path::IsDirectory() const {
  std::error_code error;
  return fs::is_directory(ToFsPath(mPath), error);
}

std::vector<Path> Path::ListByExtension(const std::wstring& extension) const {
  std::vector<Path> found;
  const std::wstring wanted = Lower(extension);
  std::error_code error;
  fs::directory_iterator it(ToFsPath(mPath), error);
  if (error) return found;
  for (const fs::directory_entry& entry : it) {
    if (Lower(FromFsPath(entry.path().extension())) == wanted) {
      found.emplace_back(FromFsPath(entry.path()));
    }
  }
  std::sort(found.begin(), found.end(),
            [](const Path& a, const Path& b) { return a.Wide() < b.Wide(); });
  return found;
}

}  // namespace MVX
