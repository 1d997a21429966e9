// Host-side objects for tests: a host object, and a host framework class
// object that serves the log and progress services.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_interfaces.h"

namespace corvane::testing {

inline bool SameGuid(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::equal(std::begin(a.data4), std::end(a.data4), std::begin(b.data4));
}

// Counts references; the fifteenth method hands out `service`.
class FakeHostObject final : public HostObject {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid&, void** out) override {
    *out = nullptr;
    return -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return static_cast<uint32_t>(++refs); }
  uint32_t CORVANE_STDCALL Release() override { return static_cast<uint32_t>(--refs); }
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
  int32_t CORVANE_STDCALL GetHostService(HostUnknown** out) override {
    if (service != nullptr) service->AddRef();
    *out = service;
    return serviceResult;
  }

  std::atomic<int> refs{1};
  HostUnknown* service = nullptr;
  int32_t serviceResult = 0;
};

// A plain reference-counted object, used as the host service.
class CountedObject final : public HostUnknown {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid&, void** out) override {
    *out = nullptr;
    return -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return static_cast<uint32_t>(++refs); }
  uint32_t CORVANE_STDCALL Release() override { return static_cast<uint32_t>(--refs); }
  std::atomic<int> refs{1};
};

// The host framework's log service: keeps every line it is given and moves
// the log's start back by `hostStartedEarlierMs` at the start exchange.
class FakeLogService final : public HostLogService {
 public:
  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override {
    *out = SameGuid(iid, kLogServiceId) ? this : nullptr;
    if (*out != nullptr) AddRef();
    return *out != nullptr ? 0 : -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return static_cast<uint32_t>(++refs); }
  uint32_t CORVANE_STDCALL Release() override { return static_cast<uint32_t>(--refs); }
  int32_t CORVANE_STDCALL WriteLine(const wchar_t* line, uint32_t* startTick) override {
    std::lock_guard lock(mutex);
    if (line == nullptr) {
      ++exchanges;
      *startTick -= hostStartedEarlierMs;
    } else {
      lines.emplace_back(line);
    }
    return 0;
  }
  std::atomic<int> refs{0};
  std::mutex mutex;
  int exchanges = 0;
  uint32_t hostStartedEarlierMs = 0;
  std::vector<std::wstring> lines;
};

}  // namespace corvane::testing
