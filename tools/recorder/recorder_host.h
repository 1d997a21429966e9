// The host's side of the module's interfaces: the host object handed over on
// the main thread, and the host framework's services that the module asks
// for: the log (lines appended to a file beside the recording) and progress
// windows (a bar on the terminal).
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "console.h"
#include "device_events.h"
#include "host/host_interfaces.h"
#include "live_feed.h"

namespace corvane::recorder {

bool SameGuid(const Guid& a, const Guid& b);

// The result of QueryInterface for an interface an object does not have.
inline constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002u);

// The object of InitOnMainThread. It offers no host service: its fifteenth
// method hands back null.
class RecorderHostObject final : public HostObject {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override;
  uint32_t CORVANE_STDCALL AddRef() override { return ++mRefs; }
  uint32_t CORVANE_STDCALL Release() override { return --mRefs; }
  int32_t CORVANE_STDCALL Reserved3() override { return 0; }
  int32_t CORVANE_STDCALL Reserved4() override { return 0; }
  int32_t CORVANE_STDCALL Reserved5() override { return 0; }
  int32_t CORVANE_STDCALL Reserved6() override { return 0; }
  int32_t CORVANE_STDCALL Reserved7() override { return 0; }
  int32_t CORVANE_STDCALL Reserved8() override { return 0; }
  int32_t CORVANE_STDCALL Reserved9() override { return 0; }
  int32_t CORVANE_STDCALL Reserved10() override { return 0; }
  int32_t CORVANE_STDCALL Reserved11() override { return 0; }
  int32_t CORVANE_STDCALL Reserved12() override { return 0; }
  int32_t CORVANE_STDCALL Reserved13() override { return 0; }
  int32_t CORVANE_STDCALL GetHostService(HostUnknown** service) override;

  uint32_t References() const { return mRefs; }

 private:
  std::atomic<uint32_t> mRefs{1};
};

// The log service: every line the module logs goes into a text file (UTF-8).
// The recorder adds its own lines too.
class LogFile final : public HostLogService {
 public:
  ~LogFile() { Close(); }
  // Opens the file, truncated or (`append`) continued after a line that
  // separates the runs; false if it cannot be written.
  bool Open(const std::string& path, bool append = false);
  void Close();
  // A line of the recorder's own.
  void Write(const std::string& line);
  // Also hands every line of the module to `events` (null: to none).
  void WatchModuleLines(DeviceEvents* events) { mEvents = events; }

  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override;
  uint32_t CORVANE_STDCALL AddRef() override { return ++mRefs; }
  uint32_t CORVANE_STDCALL Release() override { return --mRefs; }
  int32_t CORVANE_STDCALL WriteLine(const wchar_t* line, uint32_t* startTick) override;

 private:
  std::mutex mMutex;
  std::FILE* mFile = nullptr;
  std::atomic<DeviceEvents*> mEvents{nullptr};
  std::atomic<uint32_t> mRefs{1};
};

// The progress service: each window the module opens is a bar on the
// console's status line (see ProgressLine), and its opening and closing with
// how far it got are lines in `log`. Cancelling is answered from `cancelled`.
class TerminalProgressService final : public HostProgressService {
 public:
  TerminalProgressService(Console& console, LogFile& log, bool (*cancelled)())
      : mConsole(console), mLog(log), mCancelled(cancelled) {}

  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override;
  uint32_t CORVANE_STDCALL AddRef() override { return ++mRefs; }
  uint32_t CORVANE_STDCALL Release() override { return --mRefs; }
  int32_t CORVANE_STDCALL GetKeyValue(uint16_t* value) override;
  int32_t CORVANE_STDCALL Reserved4() override { return 0; }
  int32_t CORVANE_STDCALL CreateObject(uint32_t key, const Guid& iid, void** out) override;

  Console& console() { return mConsole; }
  LogFile& log() { return mLog; }
  bool Cancelled() const { return mCancelled != nullptr && mCancelled(); }
  // The windows are shown in the live view too (null: not).
  void ShowIn(LiveFeed* live) { mLive = live; }
  LiveFeed* live() const { return mLive; }

 private:
  Console& mConsole;
  LogFile& mLog;
  bool (*mCancelled)();
  std::atomic<LiveFeed*> mLive{nullptr};
  std::atomic<uint32_t> mRefs{1};
};

// The host framework's class object: hands out the services by their
// interface identifiers.
class HostkitClassObject final : public HostUnknown {
 public:
  HostkitClassObject(LogFile& log, TerminalProgressService& progress)
      : mLog(log), mProgress(progress) {}
  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override;
  uint32_t CORVANE_STDCALL AddRef() override { return ++mRefs; }
  uint32_t CORVANE_STDCALL Release() override { return --mRefs; }

 private:
  LogFile& mLog;
  TerminalProgressService& mProgress;
  std::atomic<uint32_t> mRefs{1};
};

// Makes the class object reachable as the host framework's, the platform's
// way (host_registration_posix.cpp, host_registration_win32.cpp).
void RegisterHostkit(HostUnknown* classObject);
void UnregisterHostkit();

}  // namespace corvane::recorder
