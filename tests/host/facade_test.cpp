// The facade's exchanges with a running engine on a scripted back-end.
#include <gtest/gtest.h>

#include <string>

#include "engine/dms_wrapper.h"
#include "fake_back_end.h"
#include "host/finapres_device.h"

using corvane::DMSWrapper;
using corvane::FinapresDevice;
using corvane::testing::FakeBackEnd;

namespace {

// Installs the module's engine on a fake back-end, as the first facade call
// would with a real one.
FakeBackEnd* InstallEngine(const std::string& serial, int32_t connectResult = 0) {
  FakeBackEnd* fake = nullptr;
  corvane::gEngine = new DMSWrapper([&] {
    auto made = std::make_unique<FakeBackEnd>();
    made->serial = serial;
    fake = made.get();
    return std::unique_ptr<corvane::FinapresAPI_I>(std::move(made));
  });
  fake->connectResult = connectResult;  // for "init"; the probe already connected
  return fake;
}

}  // namespace

TEST(Facade, InitialiseUniqueIdAndClose) {
  FakeBackEnd* fake = InstallEngine("12");
  auto* device = new FinapresDevice();
  EXPECT_EQ(corvane::gLastFound, device);
  EXPECT_FALSE(device->IsFailed());
  EXPECT_TRUE(device->Initialise());

  uint32_t id = 0;
  EXPECT_TRUE(device->GetUniqueID(&id));
  EXPECT_EQ(id, 44u);  // (0*42-48+'1')*42-48+'2'
  fake->serial = "other";
  id = 0;
  EXPECT_TRUE(device->GetUniqueID(&id));  // answered from the cache, no query
  EXPECT_EQ(id, 44u);

  delete device;  // says ">dev/exit" and ends the engine
  EXPECT_EQ(corvane::gEngine, nullptr);
  EXPECT_EQ(corvane::gLastFound, nullptr);
}

TEST(Facade, LastErrorIsHandedOutOnceInTwoCalls) {
  InstallEngine("SN", corvane::dmsError_NoDevice);
  auto* device = new FinapresDevice();
  EXPECT_FALSE(device->Initialise());  // "<Fail"
  const std::string expected =
      "The Corvane Controller cannot be found. Please make sure the device is plugged in and "
      "turned on.";
  const int size = device->GetLastErrorMsg(nullptr);
  ASSERT_EQ(size, static_cast<int>(expected.size() + 1));
  std::string buffer(static_cast<size_t>(size), '#');
  EXPECT_EQ(device->GetLastErrorMsg(buffer.data()), 1);
  EXPECT_EQ(std::string(buffer.c_str()), expected);

  // Nothing left: the size query answers 1, the copy leaves the buffer alone.
  EXPECT_EQ(device->GetLastErrorMsg(nullptr), 1);
  std::string untouched = "keep";
  EXPECT_EQ(device->GetLastErrorMsg(untouched.data()), 0);
  EXPECT_EQ(untouched, "keep");
  delete device;
}

TEST(Facade, AStoppedEngineFailsSoftlyAndClosesWithoutWaiting) {
  InstallEngine("SN");
  auto* device = new FinapresDevice();
  MVX::MVXString reply;
  EXPECT_FALSE(device->Query(L"?dev/dms_Test", reply));  // bad parameter ends the worker
  corvane::gEngine->WaitForEnd();
  EXPECT_TRUE(device->IsFailed());
  EXPECT_FALSE(device->Initialise());
  EXPECT_EQ(device->ReadBuffSize(), 0);
  char line[64];
  EXPECT_FALSE(device->ReadLine(line, sizeof line));
  delete device;
  EXPECT_EQ(corvane::gEngine, nullptr);
}
