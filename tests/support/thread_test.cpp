// The worker thread base: states, cooperative stop, restart and joining.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/event.h"
#include "platform/time.h"
#include "support/thread.h"

namespace {

// Loops until asked to stop, counting its passes.
class Looper : public MVX::Thread {
 public:
  ~Looper() override {
    RequestStop();
    WaitForEnd();
  }
  void Run() override {
    runs.fetch_add(1);
    while (!StopRequested()) {
      passes.fetch_add(1);
      corvane::platform::SleepMs(1);
    }
  }
  std::atomic<int> runs{0};
  std::atomic<int> passes{0};
};

// Returns at once.
class OneShot : public MVX::Thread {
 public:
  void Run() override { ran.store(true); }
  std::atomic<bool> ran{false};
};

void WaitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000 && !condition(); ++i) corvane::platform::SleepMs(1);
}

}  // namespace

TEST(Thread, GoesFromNeverStartedToRunningToEnded) {
  Looper looper;
  EXPECT_EQ(looper.GetState(), MVX::Thread::kNeverStarted);
  looper.Start();
  EXPECT_EQ(looper.GetState(), MVX::Thread::kRunning);
  WaitUntil([&] { return looper.passes.load() > 2; });
  EXPECT_GT(looper.passes.load(), 2);
  looper.RequestStop();
  looper.WaitForEnd();
  EXPECT_EQ(looper.GetState(), MVX::Thread::kEnded);
}

TEST(Thread, ABodyThatEndsAtOnceLeavesTheStateEnded) {
  for (int i = 0; i < 50; ++i) {
    OneShot shot;
    shot.Start();
    shot.WaitForEnd();
    EXPECT_TRUE(shot.ran.load());
    EXPECT_EQ(shot.GetState(), MVX::Thread::kEnded);
  }
}

TEST(Thread, StartAgainStopsThePreviousThreadAndClearsTheStopFlag) {
  Looper looper;
  looper.Start();
  looper.Start();
  EXPECT_EQ(looper.GetState(), MVX::Thread::kRunning);
  EXPECT_FALSE(looper.StopRequested());
  WaitUntil([&] { return looper.runs.load() == 2; });
  EXPECT_EQ(looper.runs.load(), 2);
}

TEST(Thread, DestructorJoinsAThreadThatHasEnded) {
  auto shot = std::make_unique<OneShot>();
  shot->Start();
  WaitUntil([&] { return shot->GetState() == MVX::Thread::kEnded; });
  shot.reset();  // joins; a leak or crash here would show under the sanitizers
  SUCCEED();
}

TEST(Event, AutoResetWakesOnceAndTimesOut) {
  corvane::platform::Event event;
  EXPECT_FALSE(event.Wait(1));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(1));  // reset by the successful wait

  std::atomic<bool> woke{false};
  std::thread waiter([&] { woke.store(event.Wait(10000)); });
  corvane::platform::SleepMs(5);
  event.Set();
  waiter.join();
  EXPECT_TRUE(woke.load());
}
