#include <unistd.h>

#include <array>

#include "platform/fs_path.h"
#include "support/utf8.h"

namespace corvane::platform {

std::filesystem::path ToFsPath(const std::wstring& path) {
  return std::filesystem::path(MVX::WideToUtf8(path));
}

std::wstring FromFsPath(const std::filesystem::path& path) {
  return MVX::Utf8ToWide(path.string());
}

std::wstring ExecutablePath() {
  std::array<char, 4096> buffer{};
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return MVX::Utf8ToWide(std::string(buffer.data(), static_cast<size_t>(length)));
}

}  // namespace corvane::platform
