// The control list resource: the settings dialogs as the host reads them, the
// command lines they send, and the reader that tools share.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "control_list_reader.h"
#include "platform/resources.h"

namespace {

using namespace corvane::control_list;

constexpr int kControlListId = 103;

std::string ReadControlListFile() {
  std::ifstream file(CORVANE_SOURCE_DIR "/src/host/resources/controllist.txt", std::ios::binary);
  EXPECT_TRUE(file.is_open());
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const ControlList& TheList() {
  static const ControlList list = ParseControlList(ReadControlListFile());
  return list;
}

const Control* FindControl(const std::string& name) {
  for (const Dialog& dialog : TheList().dialogs) {
    for (const Control& control : dialog.controls) {
      if (control.name == name) return &control;
    }
  }
  return nullptr;
}

// An item's actions as text, e.g. "set(hcuText, Zeroing in progress...)".
std::vector<std::string> ActionTexts(const Item& item) {
  std::vector<std::string> texts;
  for (const Action& action : item.actions) {
    std::string text = action.verb + "(";
    for (size_t i = 0; i < action.args.size(); ++i) text += (i > 0 ? ", " : "") + action.args[i];
    texts.push_back(text + ")");
  }
  return texts;
}

TEST(ControlListText, IsAnsiWithCrLfLineEndsAndNoNul) {
  const std::string text = ReadControlListFile();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find('\0'), std::string::npos);
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++lines;
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at byte " << i;
    } else if (text[i] == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n')
          << "bare carriage return at byte " << i;
    }
  }
  EXPECT_GT(lines, 100u);
}

TEST(ControlListText, IsEmbeddedByteForByte) {
  const auto bytes =
      corvane::platform::FindModuleResource(corvane::platform::kResourceTypeRcData, kControlListId);
  const std::string embedded(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  EXPECT_EQ(embedded, ReadControlListFile());
}

TEST(ControlListText, StringTableIsEmbedded) {
  const std::vector<std::pair<int, std::wstring>> strings = {
      {101, L"Finapres"}, {102, L"Finapres BV"}, {3550, L"Get help on configuring NIBP"},
      {3551, L"C1"},      {3552, L"C2"},         {3553, L"1"},
      {3554, L"15"},      {3555, L"30"},         {3556, L"60"},
      {3557, L"180"}};
  for (const auto& [id, text] : strings) {
    EXPECT_EQ(corvane::platform::LoadModuleString(id).value_or(L"<absent>"), text) << id;
  }
}

TEST(ControlListDialogs, TitlesTagsMenusAndHelp) {
  const ControlList& list = TheList();
  EXPECT_EQ(list.headerComment, "QX590 Device (Corvane) Control List");
  ASSERT_EQ(list.dialogs.size(), 3u);

  const Dialog& hcu = list.dialogs[0];
  EXPECT_EQ(hcu.title, "Corvane HCU and Test");
  EXPECT_EQ(hcu.tagName, "Settings");
  EXPECT_EQ(hcu.rect, (Rect{0, 0, 290, 132}));
  EXPECT_EQ(hcu.menuName, "Corvane HCU and Test");
  EXPECT_FALSE(hcu.modeless);
  EXPECT_EQ(hcu.helpFile, "CorvaneHelp");
  EXPECT_EQ(hcu.helpTopic, "introduction");

  const Dialog& panel = list.dialogs[1];
  EXPECT_EQ(panel.title, "Corvane Settings");
  EXPECT_EQ(panel.tagName, "Panel");
  EXPECT_EQ(panel.rect, (Rect{0, 0, 180, 110}));
  EXPECT_EQ(panel.menuName, "Corvane Settings");
  EXPECT_TRUE(panel.modeless);
  EXPECT_EQ(panel.helpFile, "CorvaneHelp");
  EXPECT_EQ(panel.helpTopic, "second_topic");

  const Dialog& warning = list.dialogs[2];
  EXPECT_EQ(warning.title, "Corvane");
  EXPECT_EQ(warning.tagName, "CuffWarning");
  EXPECT_EQ(warning.rect, (Rect{0, 0, 196, 74}));
  EXPECT_EQ(warning.menuName, "");
  EXPECT_FALSE(warning.modeless);
}

struct ExpectedControl {
  const char* name;
  const char* kind;
  const char* label;
  Rect rect;
};

TEST(ControlListDialogs, EveryControlInOrder) {
  const std::vector<std::vector<ExpectedControl>> expected = {
      {{"hcuTitle", "text", "Height correction", {8, 8, 100, 12}},
       {"ZeroHCU", "button", "Zero", {16, 20, 54, 14}},
       {"hcuText", "text", "", {88, 22, 130, 12}},
       {"testTitle", "text", "Test mode", {8, 40, 100, 12}},
       {"TestEnable", "checkbox", "Test &mode enabled", {16, 54, 72, 12}},
       {"TestModeText", "text", "Test mo&de:", {8, 72, 54, 10}},
       {"TestMode", "popup", "", {96, 70, 76, 12}},
       {"SteadyLabel", "text", "Steady pr&essure:", {8, 90, 68, 10}},
       {"SteadyPress", "popup", "", {96, 88, 46, 12}},
       {"SteadyUnits", "text", "mmHg", {148, 90, 28, 10}},
       {"SqLabel", "text", "&Pressure offset:", {8, 90, 68, 10}},
       {"SqPress", "popup", "", {96, 88, 46, 12}},
       {"SqPressUnits", "text", "mmHg", {148, 90, 100, 10}},
       {"SqAmpLabel", "text", "Pressure amplitude:", {8, 104, 68, 10}},
       {"SqAmpText", "text", "+/- 50 mmHg from offset", {96, 104, 150, 10}},
       {"SqFreqLabel", "text", "Square &wave frequency:", {8, 120, 82, 10}},
       {"SqFreq", "popup", "", {96, 118, 46, 12}},
       {"SqFreqUnits", "text", "Hz", {148, 120, 80, 10}},
       {"SimulateLabel1",
        "text",
        "The simulated pressure test mode does not inflate the finger cuffs. The controller "
        "generates a continuous square waveform in the Finger Pressure and HCU Pressure channels "
        "with a period of approximately 5 seconds.",
        {9, 88, 244, 32}},
       {"SimulateLabel2", "text", "See the Help for more information.", {9, 120, 244, 8}}},
      {{"PhysioCalOff", "checkbox", "Auto &calibration enabled", {8, 8, 228, 12}},
       {"ContinueSampling", "checkbox", "Continue sampling &after error", {8, 20, 228, 24}},
       {"FingerCuff", "group", "Finger Cuff Settings", {8, 44, 160, 64}},
       {"EnableSwitching", "radio", "", {14, 54, 100, 40}},
       {"SwitchingMinsText", "text", "Switching Inter&val (mins):", {14, 90, 84, 10}},
       {"SwitchingMins", "popup", "", {108, 88, 36, 28}},
       {"SwitchingMinsUnits", "text", "mins", {212, 124, 16, 10}}},
      {{"WarnIcon", "iconwarning", "", {8, 16, 24, 24}},
       {"WarningText",
        "text",
        "Sampling will inflate finger cuffs. They can be damaged if inflated while empty.",
        {44, 20, 140, 20}},
       {"CuffWarnOK", "okbutton", "&Sample", {80, 50, 50, 14}},
       {"CuffWarnStop", "button", "Cance&l", {134, 50, 50, 14}}}};

  const ControlList& list = TheList();
  ASSERT_EQ(list.dialogs.size(), expected.size());
  for (size_t d = 0; d < expected.size(); ++d) {
    const auto& controls = list.dialogs[d].controls;
    ASSERT_EQ(controls.size(), expected[d].size()) << list.dialogs[d].title;
    for (size_t c = 0; c < controls.size(); ++c) {
      SCOPED_TRACE(expected[d][c].name);
      EXPECT_EQ(controls[c].name, expected[d][c].name);
      EXPECT_EQ(controls[c].kind, expected[d][c].kind);
      EXPECT_EQ(controls[c].label, expected[d][c].label);
      EXPECT_EQ(controls[c].rect, expected[d][c].rect);
      // Only the controls that act carry items.
      const bool acts = controls[c].kind == "button" || controls[c].kind == "checkbox" ||
                        controls[c].kind == "popup" || controls[c].kind == "radio";
      EXPECT_EQ(!controls[c].items.empty(), acts);
    }
  }
}

TEST(ControlListDialogs, DefaultsAreTheDocumentedSettings) {
  const std::vector<std::pair<std::string, std::string>> defaults = {
      {"PhysioCalOff", "On"},
      {"ContinueSampling", "Off"},
      {"EnableSwitching", "Cuff &Switching Mode"},
      {"SwitchingMins", "15"},
      {"TestEnable", "Off"},
      {"TestMode", "Square wave"},
      {"SteadyPress", "50"},
      {"SqPress", "50"},
      {"SqFreq", "1"}};
  for (const auto& [name, label] : defaults) {
    const Control* control = FindControl(name);
    ASSERT_NE(control, nullptr) << name;
    const auto count = std::count_if(control->items.begin(), control->items.end(),
                                     [](const Item& item) { return item.isDefault; });
    EXPECT_EQ(count, 1) << name;
    const auto item = std::find_if(control->items.begin(), control->items.end(),
                                   [](const Item& i) { return i.isDefault; });
    if (item != control->items.end()) {
      EXPECT_EQ(item->label, label) << name;
    }
  }
  // A checkbox's first item is the cleared box.
  for (const char* name : {"TestEnable", "PhysioCalOff", "ContinueSampling"}) {
    const Control* control = FindControl(name);
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(control->items.size(), 2u);
    EXPECT_EQ(control->items[0].label, "Off");
    EXPECT_EQ(control->items[1].label, "On");
  }
}

TEST(ControlListDialogs, ButtonSteps) {
  const Control* zero = FindControl("ZeroHCU");
  ASSERT_NE(zero, nullptr);
  ASSERT_EQ(zero->items.size(), 4u);
  EXPECT_EQ(ActionTexts(zero->items[0]), std::vector<std::string>{"command(dev/dms_ZeroHCU)"});
  EXPECT_EQ(ActionTexts(zero->items[1]),
            (std::vector<std::string>{"disable(ZeroHCU)", "set(hcuText, Zeroing in progress...)",
                                      "wait(20, dev/dms_IsZeroed)"}));
  EXPECT_EQ(ActionTexts(zero->items[2]),
            (std::vector<std::string>{"enable(ZeroHCU)",
                                      "set(hcuText, HCU is zeroed and ready for use.)"}));
  EXPECT_EQ(ActionTexts(zero->items[3]),
            (std::vector<std::string>{"enable(ZeroHCU)",
                                      "set(hcuText, HCU zeroing failed - please retry.)"}));
  EXPECT_FALSE(zero->items[2].isFailed);
  EXPECT_TRUE(zero->items[3].isFailed);

  const Control* cancel = FindControl("CuffWarnStop");
  ASSERT_NE(cancel, nullptr);
  ASSERT_EQ(cancel->items.size(), 1u);
  EXPECT_EQ(ActionTexts(cancel->items[0]), (std::vector<std::string>{"result(7)", "close()"}));

  // Turning auto calibration on warns about the cuffs first.
  const Control* calibration = FindControl("PhysioCalOff");
  ASSERT_NE(calibration, nullptr);
  EXPECT_EQ(ActionTexts(calibration->items[1]),
            (std::vector<std::string>{"show(CuffWarning)", "command(dev/dms_PCalOff 2)"}));
}

TEST(ControlListDialogs, TestModeSwitchesTheControlGroups) {
  const std::vector<std::string> steady = {"SteadyLabel", "SteadyPress", "SteadyUnits"};
  const std::vector<std::string> square = {"SqLabel",    "SqPress",    "SqPressUnits",
                                           "SqAmpLabel", "SqAmpText",  "SqFreqLabel",
                                           "SqFreq",     "SqFreqUnits"};
  const std::vector<std::string> simulate = {"SimulateLabel1", "SimulateLabel2"};
  const std::vector<std::string> test = [&] {
    std::vector<std::string> all = {"TestModeText", "TestMode"};
    for (const auto* group : {&steady, &square, &simulate}) {
      all.insert(all.end(), group->begin(), group->end());
    }
    return all;
  }();
  const auto targets = [](const Item& item, const std::string& verb) {
    std::set<std::string> result;
    for (const Action& action : item.actions) {
      if (action.verb == verb) result.insert(action.args[0]);
    }
    return result;
  };
  const auto names = [](std::initializer_list<const std::vector<std::string>*> groups) {
    std::set<std::string> result;
    for (const auto* group : groups) result.insert(group->begin(), group->end());
    return result;
  };

  const Control* mode = FindControl("TestMode");
  ASSERT_NE(mode, nullptr);
  ASSERT_EQ(mode->items.size(), 3u);
  EXPECT_EQ(targets(mode->items[0], "show"), names({&steady}));
  EXPECT_EQ(targets(mode->items[0], "hide"), names({&square, &simulate}));
  EXPECT_EQ(targets(mode->items[1], "show"), names({&square}));
  EXPECT_EQ(targets(mode->items[1], "hide"), names({&steady, &simulate}));
  EXPECT_EQ(targets(mode->items[2], "show"), names({&simulate}));
  EXPECT_EQ(targets(mode->items[2], "hide"), names({&steady, &square}));

  const Control* enable = FindControl("TestEnable");
  ASSERT_NE(enable, nullptr);
  const std::set<std::string> others = {"PhysioCalOff", "ZeroHCU", "EnableSwitching"};
  EXPECT_EQ(targets(enable->items[0], "enable"), others);
  EXPECT_EQ(targets(enable->items[0], "disable"), names({&test}));
  EXPECT_EQ(targets(enable->items[1], "disable"), others);
  EXPECT_EQ(targets(enable->items[1], "enable"), names({&test}));
}

TEST(ControlListDialogs, ActionsNameExistingControls) {
  // Controls act across dialogs (test mode disables the settings panel's
  // controls), so names are unique in the whole list.
  std::set<std::string> names;
  std::set<std::string> tags;
  for (const Dialog& dialog : TheList().dialogs) {
    tags.insert(dialog.tagName);
    for (const Control& control : dialog.controls) {
      EXPECT_TRUE(names.insert(control.name).second) << "name used twice: " << control.name;
    }
  }
  for (const Dialog& dialog : TheList().dialogs) {
    for (const Control& control : dialog.controls) {
      for (const Item& item : control.items) {
        for (const Action& action : item.actions) {
          if (action.verb == "command" || action.verb == "wait" || action.verb == "result" ||
              action.verb == "close") {
            continue;
          }
          const bool known = names.count(action.args[0]) != 0 ||
                             (action.verb == "show" && tags.count(action.args[0]) != 0);
          EXPECT_TRUE(known) << control.name << ": " << action.verb << "(" << action.args[0] << ")";
        }
      }
    }
  }
}

// Every line the dialogs can send, in the order in which they stand; each one
// must be a command that the module interprets.
std::vector<std::string> ExpectedSentLines() {
  return {"dev/dms_ZeroHCU",     "dev/dms_IsZeroed",
          "dev/dms_TestEnab 0",  "dev/dms_TestEnab 1",
          "dev/dms_Test 2",      "dev/dms_Test 3",
          "dev/dms_Test 4",      "dev/dms_Press 50",
          "dev/dms_Press 100",   "dev/dms_Press 150",
          "dev/dms_Press 200",   "dev/dms_Press 250",
          "dev/dms_Press 300",   "dev/dms_Offset 50",
          "dev/dms_Offset 100",  "dev/dms_Offset 150",
          "dev/dms_Offset 200",  "dev/dms_Offset 250",
          "dev/dms_Freq 1",      "dev/dms_Freq 4",
          "dev/dms_Freq 10",     "dev/dms_PCalOff 1",
          "dev/dms_PCalOff 2",   "dev/dms_CntKVSamp 1",
          "dev/dms_CntKVSamp 2", "dev/dms_EnableSwitching 1",
          "dev/dms_Start 1",     "dev/dms_EnableSwitching 2",
          "dev/dms_Mins 1",      "dev/dms_Mins 15",
          "dev/dms_Mins 30",     "dev/dms_Mins 60"};
}

TEST(ControlListDialogs, SentLinesAreTheSettingsCommands) {
  EXPECT_EQ(SentLines(TheList()), ExpectedSentLines());
}

TEST(ControlListReader, CommentsMarkersAndBlocks) {
  const ControlList list = ParseControlList(
      "// first\r\n/* second */\n"
      "\"D\", tag = Tag(1, -2, 3, 4), modeless = 0, menuname = \"M\"\n"
      "{ \"L\" /* inline */ popup P(5, 6, 7, 8) {\n"
      "    \"a\" { command(\"x 1\") } default,\n"
      "    \"b\" failed default { wait(5, \"q\"), set(P, \"t, u\"), close() }\n"
      "  },\n"
      "  \"\" text T(0,0,0,0)\n"
      "}\n"
      "\"E\", tag Other(0, 0, 1, 1) {}");
  EXPECT_EQ(list.headerComment, "first");
  ASSERT_EQ(list.dialogs.size(), 2u);
  EXPECT_EQ(list.dialogs[0].rect, (Rect{1, -2, 3, 4}));
  EXPECT_FALSE(list.dialogs[0].modeless);
  EXPECT_EQ(list.dialogs[0].menuName, "M");
  const Control& popup = list.dialogs[0].controls.at(0);
  ASSERT_EQ(popup.items.size(), 2u);
  EXPECT_TRUE(popup.items[0].isDefault);
  EXPECT_FALSE(popup.items[0].isFailed);
  EXPECT_TRUE(popup.items[1].isDefault && popup.items[1].isFailed);
  EXPECT_EQ(ActionTexts(popup.items[1]),
            (std::vector<std::string>{"wait(5, q)", "set(P, t, u)", "close()"}));
  EXPECT_EQ(list.dialogs[0].controls.at(1).name, "T");
  EXPECT_EQ(list.dialogs[1].tagName, "Other");
  EXPECT_TRUE(list.dialogs[1].controls.empty());
  EXPECT_EQ(SentLines(list), (std::vector<std::string>{"x 1", "q"}));
}

TEST(ControlListReader, FaultsNameTheirLine) {
  const std::vector<std::pair<std::string, int>> faults = {
      {"", 1},                                                            // no dialog
      {"\"D\", tag = T(0, 0, 1, 1)\n{\n\"x\" text A(0, 0, 1, 1\n}", 4},   // missing ')'
      {"\"D\", tag = T(0, 0, 1, 1) {\n\"x\" slider A(0, 0, 1, 1) }", 2},  // unknown kind
      {"\"D\", menuname = \"M\" { }", 1},                                 // no tag
      {"\"D\", tag = T(0, 0, 1, 1), colour = 3 { }", 1},                  // unknown property
      {"\"D\", tag = T(0, 0, 1, 1) {\n\n\"x\" button B(0, 0, 1, 1) { \"s\" { close(1) } } }", 3},
      {"\"D\", tag = T(0, 0, 1, 1) {\n\"x\" button B(0, 0, 1, 1) { \"s\" { beep() } } }", 2},
      {"\"D\", tag = T(0, 0, 1, 1) {\n\"x\" button B(0, 0, 1, 1) { \"s\" { wait(\"q\") } } }", 2},
      {"\"D\", tag = T(0, 0, 1, 1) {\n\"x\" button B(0, 0, 1, 1) { \"s\" urgent { } } }", 2},
      {"\"D\", tag = T(0, 0, 1, 1) { \"x\" text A(0, 0, 1, 1), }", 1},  // trailing comma
      {"\"D\", tag = T(0, 0, 99999999999, 1) { }", 1},
      {"/* never closed\n\"D\"", 1},
      {"\"D, tag = T(0, 0, 1, 1) { }\n", 1},
      {"\"D\", tag = T(0, 0, 1, 1) { }\n@", 2},
  };
  for (const auto& [text, line] : faults) {
    try {
      ParseControlList(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ParseError& error) {
      EXPECT_EQ(error.line(), line) << text << "\n" << error.what();
      EXPECT_NE(std::string(error.what()).find("line " + std::to_string(line)), std::string::npos);
    }
  }
}

}  // namespace
