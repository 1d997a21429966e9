#include "module.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/fs_path.h"
#include "support/utf8.h"

namespace corvane::recorder {
namespace {

// Longer than any line the module sends: data lines stay below about 1100
// characters, command replies below 2048.
constexpr int32_t kLineBufferSize = 4096;
// While nothing is waiting, the port is looked at this often.
constexpr auto kIdlePoll = std::chrono::milliseconds(5);

// The class information record: the class GUID, then two wide strings.
struct DeviceClassInfo {
  Guid classId;
  const wchar_t* description;
  const wchar_t* name;
};

}  // namespace

template <typename Fn>
void Module::Find(Fn& fn, const char* name, std::string& missing) {
  fn = reinterpret_cast<Fn>(mLibrary.Symbol(name));
  if (fn == nullptr) missing += (missing.empty() ? "" : ", ") + std::string(name);
}

Module::Module(const std::string& path) {
  // An absolute path, so that the system loader does not search for the file
  // elsewhere.
  std::error_code error;
  const auto file = std::filesystem::absolute(platform::ToFsPath(MVX::Utf8ToWide(path)), error);
  if (error || !std::filesystem::is_regular_file(file, error)) {
    throw ModuleError("device module not found: " + path);
  }
  mLibrary = platform::DynamicLibrary::Open(platform::FromFsPath(file));
  if (!mLibrary.IsLoaded()) throw ModuleError("cannot load the device module " + path);
  std::string missing;
  Find(mGetDeviceClassInfo, "GetDeviceClassInfo", missing);
  Find(mFindDevice, "FindDevice", missing);
  Find(mInitialise, "Initialise", missing);
  Find(mCloseAll, "CloseAll", missing);
  Find(mIsFailed, "IsFailed", missing);
  Find(mWriteBuffer, "WriteBuffer", missing);
  Find(mReadLine, "ReadLine", missing);
  Find(mReadBuffSize, "ReadBuffSize", missing);
  Find(mGetUniqueID, "GetUniqueID", missing);
  Find(mGetLastErrorMsg, "GetLastErrorMsg", missing);
  Find(mInitOnMainThread, "InitOnMainThread", missing);
  Find(mCleanupOnMainThread, "CleanupOnMainThread", missing);
  if (!missing.empty()) {
    throw ModuleError(path + " is not a device module: it lacks " + missing);
  }
  mLine.resize(kLineBufferSize);
}

std::string Module::DeviceName() {
  DeviceClassInfo info{};
  if (mGetDeviceClassInfo(&info) == 0 || info.name == nullptr) return {};
  return MVX::WideToUtf8(info.name);
}

bool Module::FindDevice() {
  uint32_t value = 0;
  return mFindDevice(&value) != 0;
}

uint32_t Module::UniqueId() {
  uint32_t id = 0;
  return mGetUniqueID(0, &id) != 0 ? id : 0;
}

std::string Module::LastError(int32_t port) {
  const int32_t size = mGetLastErrorMsg(port, nullptr);
  if (size <= 1) return {};
  std::string text(static_cast<size_t>(size), '\0');
  if (mGetLastErrorMsg(port, text.data()) == 0) return {};
  text.resize(std::strlen(text.c_str()));
  return text;
}

void Module::Write(std::string_view line) {
  std::string text(line);
  text += '\n';
  mWriteBuffer(0, text.c_str(), static_cast<int32_t>(text.size()));
}

// ReadLine spins for its whole time-out; the host only calls it once bytes
// are waiting and otherwise sleeps a little, so an idle recording costs
// next to no processor time.
std::optional<std::string> Module::Read(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (mReadBuffSize(0) > 0 && mReadLine(0, mLine.data(), kLineBufferSize, 0) != 0) {
      return std::string(mLine.c_str());
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kIdlePoll);
  }
}

}  // namespace corvane::recorder
