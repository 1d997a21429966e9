// The real module loaded as a host loads it, every export found by its plain
// name. Beside this test there is no "Devices" folder and no wrist unit, so
// the engine has no back-end: every call must fail softly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fake_host.h"
#include "platform/dynamic_library.h"
#include "support/path.h"

namespace {

constexpr const char* kExports[] = {
    "GetDeviceClassInfo", "FindDevice",      "Initialise",      "CloseAll",
    "IsFailed",           "WriteBuffer",     "ReadLine",        "ReadBuffer",
    "ReadBuffSize",       "FlushReadBuffer", "GetUniqueID",     "GetLastErrorMsg",
    "InitOnMainThread",   "CleanupOnMainThread", "SetBaudRate", "GetBaudRate",
    "CanUseBaudRate"};

struct DeviceClassInfo {
  uint8_t classId[16];
  const wchar_t* description;
  const wchar_t* name;
};

class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    library = corvane::platform::DynamicLibrary::Open((MVX::Path() / L"Corvane.kvwdll").Wide());
    ASSERT_TRUE(library.IsLoaded());
  }
  template <typename Fn>
  Fn Get(const char* name) {
    return reinterpret_cast<Fn>(library.Symbol(name));
  }
  corvane::platform::DynamicLibrary library;
};

}  // namespace

TEST_F(Module, ExportsEveryEntryPointByItsPlainName) {
  for (const char* name : kExports) EXPECT_NE(library.Symbol(name), nullptr) << name;
}

TEST_F(Module, WithoutADeviceEveryCallFailsSoftly) {
  auto getInfo = Get<int32_t (*)(DeviceClassInfo*)>("GetDeviceClassInfo");
  auto findDevice = Get<int32_t (*)(uint32_t*)>("FindDevice");
  auto initialise = Get<int32_t (*)(int32_t)>("Initialise");
  auto isFailed = Get<int32_t (*)(int32_t)>("IsFailed");
  auto readLine = Get<int32_t (*)(int32_t, char*, int32_t, int32_t)>("ReadLine");
  auto readBuffSize = Get<int32_t (*)(int32_t)>("ReadBuffSize");
  auto writeBuffer = Get<int32_t (*)(int32_t, const char*, int32_t)>("WriteBuffer");
  auto uniqueId = Get<int32_t (*)(int32_t, uint32_t*)>("GetUniqueID");
  auto lastError = Get<int32_t (*)(int32_t, char*)>("GetLastErrorMsg");
  auto closeAll = Get<int32_t (*)()>("CloseAll");

  DeviceClassInfo info{};
  EXPECT_EQ(getInfo(&info), 1);
  EXPECT_EQ(std::wstring(info.description), L"Corvane Devices");
  EXPECT_EQ(std::wstring(info.name), L"Corvane");

  // No facade yet: the fixed answers.
  EXPECT_EQ(isFailed(0), 1);
  EXPECT_EQ(initialise(0), 0);
  char buffer[256] = "untouched";
  EXPECT_EQ(readLine(0, buffer, sizeof buffer, 0), 1);
  EXPECT_STREQ(buffer, "untouched");

  uint32_t value = 77;
  ASSERT_EQ(findDevice(&value), 1);
  EXPECT_EQ(value, 0u);
  value = 77;
  EXPECT_EQ(findDevice(&value), 0);  // a second facade is refused
  EXPECT_EQ(value, 77u);

  EXPECT_EQ(isFailed(0), 1);
  EXPECT_EQ(isFailed(1), 1);
  EXPECT_EQ(initialise(0), 0);
  EXPECT_EQ(initialise(1), 0);
  EXPECT_EQ(readLine(0, buffer, sizeof buffer, 50), 0);
  EXPECT_EQ(readBuffSize(0), 0);
  EXPECT_EQ(writeBuffer(0, "?dev/isok\n", 10), 1);
  uint32_t id = 5;
  EXPECT_EQ(uniqueId(0, &id), 1);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(uniqueId(1, &id), 0);

  // The user can still learn why there is no device.
  const int32_t size = lastError(-1, nullptr);
  ASSERT_GT(size, 1);
  std::string text(static_cast<size_t>(size), '\0');
  EXPECT_EQ(lastError(0, text.data()), 1);
  EXPECT_NE(text.find("Corvane control DLL is missing or cannot be loaded: "), std::string::npos)
      << text;
  EXPECT_NE(text.find("Devices"), std::string::npos) << text;
  EXPECT_EQ(lastError(2, nullptr), 0);

  EXPECT_EQ(closeAll(), 1);  // engine never ran: no exchange, no wait
  EXPECT_EQ(isFailed(0), 1);
  EXPECT_EQ(findDevice(&value), 1);  // a new facade after CloseAll
  EXPECT_EQ(closeAll(), 1);
}

TEST_F(Module, HoldsTheHostObjectAndItsServiceUntilCleanup) {
  using corvane::testing::CountedObject;
  using corvane::testing::FakeHostObject;
  auto init = Get<int32_t (*)(void*, corvane::HostObject*)>("InitOnMainThread");
  auto cleanup = Get<void (*)()>("CleanupOnMainThread");

  CountedObject service;
  FakeHostObject first;
  first.service = &service;
  first.serviceResult = 7;
  EXPECT_EQ(init(nullptr, &first), 7);  // the host object's answer is passed on
  EXPECT_EQ(first.refs.load(), 2);
  EXPECT_EQ(service.refs.load(), 2);

  // A second host object replaces the first and its service.
  FakeHostObject second;
  second.service = &service;
  EXPECT_EQ(init(nullptr, &second), 0);
  EXPECT_EQ(first.refs.load(), 1);
  EXPECT_EQ(second.refs.load(), 2);
  EXPECT_EQ(service.refs.load(), 2);

  cleanup();
  EXPECT_EQ(second.refs.load(), 1);
  EXPECT_EQ(service.refs.load(), 1);
  cleanup();  // nothing held any more
  EXPECT_EQ(second.refs.load(), 1);
  EXPECT_EQ(Get<int32_t (*)()>("CloseAll")(), 1);
}
