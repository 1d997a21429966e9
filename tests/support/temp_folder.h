// A fresh folder under the system's temporary folder, removed with its content.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/fs_path.h"

class TempFolder {
 public:
  // `path` is emptied first; by default a new folder with a unique name.
  explicit TempFolder(std::filesystem::path path = UniquePath()) : mPath(std::move(path)) {
    std::filesystem::remove_all(mPath);
    std::filesystem::create_directories(mPath);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(mPath, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Writes `bytes` to the file `name` in the folder and returns its path.
  std::wstring Write(const std::wstring& name, const std::string& bytes) const {
    std::ofstream(mPath / corvane::platform::ToFsPath(name), std::ios::binary) << bytes;
    return FilePath(name);
  }
  std::wstring FilePath(const std::wstring& name) const {
    return corvane::platform::FromFsPath(mPath / corvane::platform::ToFsPath(name));
  }
  std::wstring Wide() const { return corvane::platform::FromFsPath(mPath); }

 private:
  static std::filesystem::path UniquePath() {
    std::random_device seed;
    return std::filesystem::temp_directory_path() /
           ("corvane-" + std::to_string(seed()) + "-" + std::to_string(seed()));
  }
  std::filesystem::path mPath;
};
