// The facade's exchanges with a running engine on a scripted back-end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cpu_load.h"
#include "engine/dms_wrapper.h"
#include "fake_back_end.h"
#include "host/finapres_device.h"
#include "platform/time.h"

using corvane::DMSWrapper;
using corvane::FinapresDevice;
using corvane::testing::CpuLoad;
using corvane::testing::FakeBackEnd;

namespace {

// Installs the module's engine on a fake back-end, as the first facade call
// would with a real one.
FakeBackEnd* InstallEngine(const std::string& serial, int32_t connectResult = 0,
                           const std::function<void(FakeBackEnd&)>& configure = {}) {
  FakeBackEnd* fake = nullptr;
  corvane::gEngine = new DMSWrapper([&] {
    auto made = std::make_unique<FakeBackEnd>();
    made->serial = serial;
    if (configure) configure(*made);
    fake = made.get();
    return std::unique_ptr<corvane::FinapresAPI_I>(std::move(made));
  });
  fake->connectResult = connectResult;  // for "init"; the probe already connected
  return fake;
}

// The next line through the facade, waiting up to `timeoutMs` for it as the
// ReadLine export waits.
std::optional<std::string> NextLine(FinapresDevice& device, int timeoutMs = 5000) {
  char buffer[2048];
  if (!device.ReadLineWithin(buffer, sizeof buffer, timeoutMs)) return std::nullopt;
  return std::string(buffer);
}

size_t StatusReads(const FakeBackEnd& fake) {
  const std::vector<std::string> calls = fake.Calls();
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), "DMS_GetStatus()"));
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
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
  // The failing pass's reply, which the query passed over, is the host's.
  EXPECT_EQ(device->ReadBuffSize(), 105);
  char line[128];
  ASSERT_TRUE(device->ReadLine(line, sizeof line));
  EXPECT_EQ(line[0], '^');
  EXPECT_EQ(device->ReadBuffSize(), 0);
  EXPECT_FALSE(device->ReadLine(line, sizeof line));
  delete device;
  EXPECT_EQ(corvane::gEngine, nullptr);
}

// A device error's message and abort request, still unread when the host
// asks for the serial number or the last error, reach the host after the
// answer: the flush before each exchange drops stale answers, not them.
TEST(Facade, ExchangesKeepUnreadMessagesForTheHost) {
  const std::string message =
      "&U Corvane Controller Error 17: Finger cuff (or cuff cable) loose or not connected.";
  for (const bool askSerial : {true, false}) {
    SCOPED_TRACE(askSerial ? "serial number" : "last error");
    FakeBackEnd* fake = InstallEngine("SN");
    auto* device = new FinapresDevice();
    ASSERT_TRUE(device->Initialise());
    {
      std::lock_guard lock(fake->mutex);
      fake->errorStands = true;
      fake->status.mError = 17;
    }
    // Both lines are written in one poll; wait until the second is there.
    const auto start = std::chrono::steady_clock::now();
    while (device->ReadBuffSize() <= static_cast<int>(message.size() + 1) &&
           MsSince(start) < 5000) {
      corvane::platform::SleepMs(5);
    }
    if (askSerial) {
      uint32_t id = 0;
      EXPECT_TRUE(device->GetUniqueID(&id));
    } else {
      EXPECT_GT(device->GetLastErrorMsg(nullptr), 1);
    }
    EXPECT_EQ(NextLine(*device, 0), message);
    const std::optional<std::string> abort = NextLine(*device, 0);
    EXPECT_TRUE(abort && abort->rfind("#abort ", 0) == 0) << abort.value_or("(none)");
    delete device;
  }
}

// A pass that fails ends the worker right after its last reply; the host
// still reads that reply, however the two threads happen to be scheduled.
struct FailingPass {
  const char* name;
  int32_t cuffSwitchResult;
  std::vector<const char*> settings;  // each answered "<OK"
  const char* command;
  const char* lastLine;
};

TEST(Facade, ALastReplyIsReadAfterTheWorkerHasEnded) {
  const FailingPass cases[] = {
      {"bad parameter", 0, {}, "?dev/dms_Test\n", "^A device communication error"},
      {"cuff switch refused",
       3,
       {"?dev/dms_EnableSwitching 2\n", "?dev/dms_Mins 0\n"},
       ">in/sampler/start\n",
       "#abort Corvane Controller communication error!"},
  };
  for (const bool loaded : {false, true}) {
    const CpuLoad load(loaded);
    for (const FailingPass& c : cases) {
      for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(std::string(c.name) + (loaded ? " under load" : "") + ", round " +
                     std::to_string(round));
        InstallEngine("SN", 0, [&](FakeBackEnd& f) { f.cuffSwitchResult = c.cuffSwitchResult; });
        auto* device = new FinapresDevice();
        ASSERT_TRUE(device->Initialise());
        for (const char* setting : c.settings) {
          device->WriteBuffer(setting, 0);
          ASSERT_EQ(NextLine(*device), "<OK");
        }
        device->WriteBuffer(c.command, 0);
        std::optional<std::string> line;
        while ((line = NextLine(*device)) && line->rfind(c.lastLine, 0) != 0) {
        }
        ASSERT_TRUE(line) << "the last reply was lost";
        corvane::gEngine->WaitForEnd();
        EXPECT_TRUE(device->IsFailed());
        EXPECT_EQ(NextLine(*device, 0), std::nullopt);
        delete device;
      }
    }
  }
}

// A host waiting for a line sleeps until the worker writes one: it gets the
// line at once, gets nothing after its time-out, and meanwhile the device is
// polled at the worker's own idle cadence only.
TEST(Facade, AHostWaitsForTheWorkersNextLineWithoutDrivingIt) {
  FakeBackEnd* fake = InstallEngine("SN");
  auto* device = new FinapresDevice();
  ASSERT_TRUE(device->Initialise());
  char buffer[64];

  // Nothing to read: 0 after the time-out, at about 20 ms per device poll.
  size_t before = StatusReads(*fake);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(device->ReadLineWithin(buffer, sizeof buffer, 400));
  const double waited = MsSince(start);
  EXPECT_GE(waited, 390.0);
  EXPECT_LT(waited, 2000.0);
  EXPECT_LE(StatusReads(*fake) - before, 40u) << "the wait drove the worker";

  // A time-out of 0 or less looks once.
  for (const int32_t timeout : {0, -5}) {
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(device->ReadLineWithin(buffer, sizeof buffer, timeout));
    EXPECT_LT(MsSince(start), 100.0);
  }
  device->WriteBuffer("?dev/isok\n", 0);
  corvane::gEngine->WaitForReply(5000);
  EXPECT_TRUE(device->ReadLineWithin(buffer, sizeof buffer, 0));
  EXPECT_EQ(std::string(buffer), "=1");

  // A line written while the host waits arrives long before the time-out.
  start = std::chrono::steady_clock::now();
  std::thread writer([device] {
    corvane::platform::SleepMs(100);
    device->WriteBuffer("?dev/isok\n", 0);
  });
  EXPECT_EQ(NextLine(*device, 5000), "=1");
  EXPECT_LT(MsSince(start), 1000.0);
  writer.join();
  delete device;
}

namespace {

// Stops answering in its status poll once the device has been disconnected,
// until the test lets it go: a worker that answered the exit but does not end.
class StuckAfterDisconnect : public FakeBackEnd {
 public:
  int32_t DMS_Disconnect() override {
    disconnected->store(true);
    return FakeBackEnd::DMS_Disconnect();
  }
  int32_t DMS_GetStatus(corvane::DMSStatus* out) override {
    while (disconnected->load() && !released.load()) corvane::platform::SleepMs(5);
    return FakeBackEnd::DMS_GetStatus(out);
  }
  std::atomic<bool>* disconnected = nullptr;  // outlives the back-end
  std::atomic<bool> released{false};
};

// Connects the device as Initialise does; the reply.
std::string Connect(DMSWrapper& engine) {
  MVX::MVXString init = L">dev/init\n";
  if (engine.QueueCommand(init) == 0) return "<not queued>";
  char reply[64] = {};
  for (int i = 0; i < 1000 && engine.ReplyRing().ReadLine(reply, sizeof reply) == 0; ++i) {
    corvane::platform::SleepMs(2);
  }
  return reply;
}

}  // namespace

// An unload closes whatever is open as CloseAll would, and never waits
// without bound for the worker.
TEST(Facade, UnloadClosesTheDeviceAndEndsTheWorkerWithinItsBound) {
  struct Case {
    const char* name;
    bool facade;  // FindDevice was called
    bool engine;  // an engine exists (InitOnMainThread or a facade call)
    bool stuck;   // the worker answers the exit but does not end
  };
  const Case cases[] = {
      {"facade and engine", true, true, false},
      {"engine without facade", false, true, false},
      {"facade without engine", true, false, false},
      {"worker that does not end", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StuckAfterDisconnect* fake = nullptr;
    bool destroyed = false;
    std::atomic<bool> disconnected{false};
    if (c.engine) {
      corvane::gEngine = new DMSWrapper([&] {
        auto made = std::make_unique<StuckAfterDisconnect>();
        made->destroyed = &destroyed;
        made->disconnected = &disconnected;
        if (!c.stuck) made->released.store(true);
        fake = made.get();
        return std::unique_ptr<corvane::FinapresAPI_I>(std::move(made));
      });
      ASSERT_EQ(Connect(*corvane::gEngine), "<OK");
    }
    if (c.facade) corvane::gDevice = new FinapresDevice();

    const auto begin = std::chrono::steady_clock::now();
    const bool ended = corvane::CloseForUnload();
    const auto took = std::chrono::steady_clock::now() - begin;

    EXPECT_EQ(corvane::gDevice, nullptr);
    EXPECT_EQ(corvane::gLastFound, nullptr);
    EXPECT_LT(took, std::chrono::seconds(4));
    if (!c.engine) {
      EXPECT_TRUE(ended);
      EXPECT_EQ(corvane::gEngine, nullptr) << "no engine made just to stop it";
      continue;
    }
    EXPECT_TRUE(disconnected.load());
    EXPECT_EQ(ended, !c.stuck);
    if (!c.stuck) {
      EXPECT_EQ(corvane::gEngine, nullptr);
      EXPECT_TRUE(destroyed) << "the back-end is released with the engine";
      continue;
    }
    // Left alone while its worker may still use it; ends once it is let go.
    ASSERT_NE(corvane::gEngine, nullptr);
    EXPECT_FALSE(destroyed);
    fake->released.store(true);
    EXPECT_TRUE(corvane::gEngine->WaitForEnd(5000));
    delete corvane::gEngine;
    EXPECT_TRUE(destroyed);
  }
}

// A bounded wait gives up on a body that is still running and succeeds once
// it has ended. A stop that overtakes the host's exit still disconnects.
TEST(Facade, EngineWaitForEndIsBoundedAndTheWorkerNeverEndsConnected) {
  FakeBackEnd* fake = InstallEngine("SN");
  DMSWrapper* engine = corvane::gEngine;
  ASSERT_EQ(Connect(*engine), "<OK");
  EXPECT_FALSE(engine->WaitForEnd(50)) << "the worker runs until asked to stop";
  EXPECT_FALSE(fake->Called("DMS_Disconnect()"));
  engine->RequestStop();
  EXPECT_TRUE(engine->WaitForEnd(5000));
  EXPECT_EQ(engine->GetState(), MVX::Thread::kEnded);
  EXPECT_TRUE(fake->Called("DMS_Disconnect()"));
  delete engine;
  EXPECT_EQ(corvane::gEngine, nullptr);
}
