// Wide paths to and from std::filesystem.
//
// libstdc++ on Linux throws when a path is built from wide text with
// non-ASCII characters, so Linux goes through UTF-8; Windows takes wide text.
#pragma once

#include <filesystem>
#include <string>

namespace corvane::platform {

std::filesystem::path ToFsPath(const std::wstring& path);
std::wstring FromFsPath(const std::filesystem::path& path);

// The full path of the running process's executable file; empty on failure.
std::wstring ExecutablePath();

}  // namespace corvane::platform
