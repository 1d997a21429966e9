// The engine's construction, worker loop and channel framing, seen through
// the rings as the facade sees them.
#include <gtest/gtest.h>

#include "engine_harness.h"

using corvane::DMSWrapper;
using corvane::testing::EngineHarness;
using corvane::testing::FakeBackEnd;

namespace {
const std::string kCommError =
    "^A device communication error has occurred. Please power-cycle the Corvane device and "
    "relaunch Kymoview.";
}

TEST(EngineSpine, AnUnusableBackEndLeavesTheEngineInert) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.loadedOk = false; });
  EXPECT_EQ(h.engine->GetState(), MVX::Thread::kNeverStarted);
  EXPECT_FALSE(h.engine->IsAlive());
  EXPECT_EQ(h.Send(L"?dev/isok"), 0);  // refused: nothing to talk to
  EXPECT_FALSE(h.engine->InertReason().empty());

  DMSWrapper none([] { return std::unique_ptr<corvane::FinapresAPI_I>(); }, h.clock);
  EXPECT_EQ(none.GetState(), MVX::Thread::kNeverStarted);
}

TEST(EngineSpine, AnswersOneLinePerPassInOrder) {
  EngineHarness h;
  h.Start();
  EXPECT_EQ(h.engine->GetState(), MVX::Thread::kRunning);
  h.Send(L"?dev/isok");
  h.Send(L"xyz>dev/isok");  // text before the prefix is ignored
  h.Send(L"no prefix at all");
  h.Send(L"?in/nachans");
  EXPECT_EQ(h.Read(), "=1");
  EXPECT_EQ(h.Read(), "=1");
  EXPECT_EQ(h.Read(), "^Invalid command");
  EXPECT_EQ(h.Read(), "=11");
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=Invalid command");
  EXPECT_EQ(h.Ask(L"?dev/lasterror"), "=");
}

TEST(EngineSpine, CommandsWaitForTheStartupDelay) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.startupDelayMs = 1000; });
  h.Send(L"?dev/isok");
  h.Send(L"?in/nachans");
  EXPECT_EQ(h.Read(100), "<none>");
  EXPECT_FALSE(h.fake->Called("DMS_GetStatus()"));  // no device polling either
  h.clock.Advance(999);
  EXPECT_EQ(h.Read(60), "<none>");
  h.clock.Advance(1);
  EXPECT_EQ(h.Read(), "=1");
  EXPECT_EQ(h.Read(), "=11");
}

TEST(EngineSpine, AnOverlongCommandLineIsRefusedAndTheNextLineStillAnswered) {
  EngineHarness h;
  h.Start();
  h.Send(L"?dev/" + std::wstring(3000, L'x'));
  h.Send(L"?dev/isok");
  EXPECT_EQ(h.Read(), "^Invalid command");
  EXPECT_EQ(h.Read(), "=1");
  // A line of exactly 2047 bytes is still a line.
  h.Send(L"?in/nachans" + std::wstring(2047 - 11, L' '));
  EXPECT_EQ(h.Read(), kCommError);  // "nachans" followed by blanks is no known word
}

TEST(EngineSpine, ABadSettingFailsThePassAndEndsTheWorker) {
  EngineHarness h;
  h.Start();
  EXPECT_EQ(h.Ask(L"?dev/dms_Test"), kCommError);  // no number: no accepted value
  for (int i = 0; i < 200 && h.engine->IsRunning(); ++i) corvane::platform::SleepMs(5);
  EXPECT_EQ(h.engine->GetState(), MVX::Thread::kEnded);
  EXPECT_FALSE(h.engine->IsAlive());
  h.Send(L"?dev/isok");
  EXPECT_EQ(h.Read(100), "<none>");  // nobody answers any more
}

TEST(EngineSpine, ExitDisconnectsAnswersAndEndsTheWorker) {
  EngineHarness h;
  h.Start();
  EXPECT_EQ(h.Ask(L">dev/init"), "<OK");
  EXPECT_EQ(h.Ask(L">dev/exit"), "<OK");
  h.engine->WaitForEnd();
  EXPECT_EQ(h.engine->GetState(), MVX::Thread::kEnded);
  EXPECT_TRUE(h.fake->Called("DMS_Disconnect()"));
}

TEST(EngineSpine, AReplyThatDoesNotFitWholeIsDroppedNotCut) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.loadedOk = false; });  // no worker: the test is the writer
  DMSWrapper& engine = *h.engine;
  const MVX::MVXString big(corvane::RingBuffer::kCapacity - 10, L'a');
  EXPECT_EQ(engine.SendReply(big), static_cast<int32_t>(big.size() + 1));
  // 9 bytes are left: a reply of 10 bytes with its line feed is dropped whole.
  EXPECT_EQ(engine.SendReply(L"012345678"), 0);
  EXPECT_EQ(engine.SendReply(L"01234567"), 9);
  char buffer[corvane::RingBuffer::kSize];
  ASSERT_NE(engine.ReplyRing().ReadLine(buffer, sizeof buffer), 0u);
  ASSERT_NE(engine.ReplyRing().ReadLine(buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "01234567");
  EXPECT_TRUE(engine.ReplyRing().Empty());
}

TEST(EngineSpine, ControlListRepliesWithEveryLineOfTheResource) {
  EngineHarness h;
  h.Start();
  h.Send(L"?in/controllist");
  const std::string first = h.Read();
  ASSERT_GT(first.size(), 1u);
  EXPECT_EQ(first[0], '=');
}
