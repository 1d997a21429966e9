// The settings dialogs against the engine: every command line that an item
// of the control list can send is one the engine understands.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "control_list_reader.h"
#include "protocol_harness.h"

namespace {

using namespace corvane;
using namespace corvane::testing;
namespace cl = corvane::control_list;

const cl::ControlList& TheList() {
  static const cl::ControlList list = [] {
    std::ifstream file(CORVANE_SOURCE_DIR "/src/host/resources/controllist.txt", std::ios::binary);
    EXPECT_TRUE(file.is_open());
    return cl::ParseControlList(
        std::string{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});
  }();
  return list;
}

std::wstring Widen(const std::string& text) { return {text.begin(), text.end()}; }

// The lines of one item's `command` actions, in order.
std::vector<std::string> Commands(const cl::Item& item) {
  std::vector<std::string> lines;
  for (const cl::Action& action : item.actions) {
    if (action.verb == "command") lines.push_back(action.args.at(0));
  }
  return lines;
}

// The reply that a line sent by a dialog gets from an engine whose device has
// a zeroed HCU and is not busy.
std::string ExpectedReply(const std::string& line) {
  return line == "dev/dms_IsZeroed" ? "=1" : "<OK";
}

TEST(ControlListCommands, EveryLineTheDialogsSendIsUnderstood) {
  const std::vector<std::string> sent = cl::SentLines(TheList());
  ASSERT_GE(sent.size(), 30u);
  EngineHarness h;
  h.Start([](FakeBackEnd& f) { f.status.mHCUStatus = kHcuZeroed; });
  int n = 0;
  for (const std::string& line : sent) {
    SCOPED_TRACE(line);
    EXPECT_EQ(line.rfind("dev/", 0), 0u);  // the host puts the prefix in front
    // Either prefix character, as hosts differ.
    const std::wstring withPrefix = (n++ % 2 == 0 ? L"?" : L">") + Widen(line);
    EXPECT_EQ(h.Ask(withPrefix), ExpectedReply(line));
    ASSERT_TRUE(h.engine->IsAlive());
  }
  EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");
}

// The zeroing wait asks again and again; the answer follows the device.
TEST(ControlListCommands, TheZeroingWaitSeesBusyDoneAndFailed) {
  EngineHarness h;
  h.Start([](FakeBackEnd& f) {
    f.status.mBusy = 1;
    f.status.mHCUStatus = kHcuZeroed;
  });
  EXPECT_EQ(h.Ask(L"?dev/dms_ZeroHCU"), "<OK");
  EXPECT_EQ(h.Ask(L"?dev/dms_IsZeroed"), "=0");
  EXPECT_EQ(h.Ask(L"?dev/dms_IsZeroed"), "=0");
  {
    std::lock_guard lock(h.fake->mutex);
    h.fake->status.mBusy = 0;
  }
  EXPECT_EQ(h.Ask(L"?dev/dms_IsZeroed"), "=1");
  {
    std::lock_guard lock(h.fake->mutex);
    h.fake->status.mHCUStatus = kHcuNotZeroed;
  }
  const std::string failed = h.Ask(L"?dev/dms_IsZeroed");
  EXPECT_EQ(failed.rfind("^Zero failed.", 0), 0u) << failed;
  EXPECT_TRUE(h.engine->IsAlive());
}

// An item that sends several lines: the host sends them one after the other
// and gets one answer for each.
TEST(ControlListCommands, SingleCuffModeSendsTwoLinesAndGetsTwoAnswers) {
  const cl::Item* single = nullptr;
  for (const cl::Dialog& dialog : TheList().dialogs) {
    for (const cl::Control& control : dialog.controls) {
      for (const cl::Item& item : control.items) {
        if (item.label == "Single Cuff Mode (C&1)") single = &item;
      }
    }
  }
  ASSERT_NE(single, nullptr);
  const std::vector<std::string> lines = Commands(*single);
  ASSERT_EQ(lines, (std::vector<std::string>{"dev/dms_EnableSwitching 1", "dev/dms_Start 1"}));

  EngineHarness h;
  h.Start();
  for (const std::string& line : lines) h.Send(L"?" + Widen(line));
  EXPECT_EQ(h.Read(), "<OK");
  EXPECT_EQ(h.Read(), "<OK");
  EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");
}

// Each choice of each control on its own engine, so that no choice depends on
// one made before it.
TEST(ControlListCommands, EachChoiceWorksOnAFreshEngine) {
  for (const cl::Dialog& dialog : TheList().dialogs) {
    for (const cl::Control& control : dialog.controls) {
      for (const cl::Item& item : control.items) {
        const std::vector<std::string> lines = Commands(item);
        if (lines.empty()) continue;
        SCOPED_TRACE(control.name + " / " + item.label);
        EngineHarness h;
        h.Start([](FakeBackEnd& f) { f.status.mHCUStatus = kHcuZeroed; });
        for (const std::string& line : lines) EXPECT_EQ(h.Ask(L">" + Widen(line)), "<OK");
        EXPECT_EQ(h.Ask(L"?dev/isok"), "=1");
      }
    }
  }
}

}  // namespace
