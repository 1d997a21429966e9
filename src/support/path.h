// A wide file-system path.
#pragma once

#include <string>
#include <vector>

namespace MVX {

class Path {
 public:
  // The folder of the running process's executable.
  Path();
  explicit Path(std::wstring path) : mPath(std::move(path)) {}

  // This path with `component` appended after a separator.
  Path operator/(const std::wstring& component) const;
  Path& operator/=(const std::wstring& component);

  const std::wstring& Wide() const { return mPath; }
  bool Exists() const;
  bool IsDirectory() const;

  // The entries of this folder whose extension equals `extension` (with its
  // dot, e.g. L".xml"), compared without regard to case, sorted by name.
  // Empty when the folder cannot be read.
  std::vector<Path> ListByExtension(const std::wstring& extension) const;

  bool operator==(const Path&) const = default;

 private:
  std::wstring mPath;
};

}  // namespace MVX
