// The device module, loaded from its file and reached only through its
// exported functions.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/host_interfaces.h"
#include "platform/dynamic_library.h"
#include "session.h"

namespace corvane::recorder {

// The module file is missing, cannot be loaded, or lacks exports.
class ModuleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Module final : public Port {
 public:
  // Loads the module file at `path` (UTF-8) and finds its exports.
  explicit Module(const std::string& path);

  int32_t InitOnMainThread(HostObject* host) { return mInitOnMainThread(nullptr, host); }
  void CleanupOnMainThread() { mCleanupOnMainThread(); }
  // The driver's device name, from its class information.
  std::string DeviceName();
  bool FindDevice();
  bool Initialise() { return mInitialise(0) != 0; }
  uint32_t UniqueId();
  // The last error text, asked for in two calls: its size, then the text.
  // `port` -1 asks the device last found even after it was closed.
  std::string LastError(int32_t port = 0);
  bool IsFailed() { return mIsFailed(0) != 0; }
  void CloseAll() { mCloseAll(); }

  // Port: WriteBuffer and ReadLine on port 0.
  void Write(std::string_view line) override;
  std::optional<std::string> Read(int timeoutMs) override;

 private:
  template <typename Fn>
  void Find(Fn& fn, const char* name, std::string& missing);

  platform::DynamicLibrary mLibrary;
  int32_t (*mGetDeviceClassInfo)(void*) = nullptr;
  int32_t (*mFindDevice)(uint32_t*) = nullptr;
  int32_t (*mInitialise)(int32_t) = nullptr;
  int32_t (*mCloseAll)() = nullptr;
  int32_t (*mIsFailed)(int32_t) = nullptr;
  int32_t (*mWriteBuffer)(int32_t, const char*, int32_t) = nullptr;
  int32_t (*mReadLine)(int32_t, char*, int32_t, int32_t) = nullptr;
  int32_t (*mReadBuffSize)(int32_t) = nullptr;
  int32_t (*mGetUniqueID)(int32_t, uint32_t*) = nullptr;
  int32_t (*mGetLastErrorMsg)(int32_t, char*) = nullptr;
  int32_t (*mInitOnMainThread)(void*, HostObject*) = nullptr;
  void (*mCleanupOnMainThread)() = nullptr;
  std::string mLine;  // ReadLine's buffer
};

}  // namespace corvane::recorder
