// The settings offered on the command line, taken from the module's control
// list: the defaults sent at start, --set by control name and item label,
// and the errors that list what would have been valid.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "options.h"
#include "settings.h"

namespace corvane::recorder {
namespace {

const control_list::ControlList& TheList() {
  static const control_list::ControlList list = [] {
    std::ifstream file(CORVANE_SOURCE_DIR "/src/host/resources/controllist.txt", std::ios::binary);
    return control_list::ParseControlList(
        std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
  }();
  return list;
}

// The command lines a plan sends, in order.
std::vector<std::string> Lines(const std::vector<SettingRequest>& requests) {
  std::vector<std::string> lines;
  for (const Choice& choice : PlanSettings(TheList(), requests)) {
    for (const std::string& line : CommandLines(*choice.item)) lines.push_back(line);
  }
  return lines;
}

std::string ErrorOf(const std::vector<SettingRequest>& requests) {
  try {
    PlanSettings(TheList(), requests);
  } catch (const SettingError& error) {
    return error.what();
  }
  return "no error";
}

TEST(RecorderSettings, StartWithEveryDefault) {
  EXPECT_EQ(Lines({}), (std::vector<std::string>{
                           "?dev/dms_TestEnab 0", "?dev/dms_Test 3", "?dev/dms_Press 50",
                           "?dev/dms_Offset 50", "?dev/dms_Freq 1", "?dev/dms_PCalOff 2",
                           "?dev/dms_CntKVSamp 1", "?dev/dms_EnableSwitching 2",
                           "?dev/dms_Mins 15"}));
}

TEST(RecorderSettings, AChoiceReplacesItsControlsDefaultAndComesLast) {
  const std::vector<std::string> lines =
      Lines({{"EnableSwitching", "Single Cuff Mode (C1)"}, {"SwitchingMins", "30"},
             {"PhysioCalOff", "Off"}});
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "?dev/dms_TestEnab 0", "?dev/dms_Test 3", "?dev/dms_Press 50",
                       "?dev/dms_Offset 50", "?dev/dms_Freq 1", "?dev/dms_CntKVSamp 1",
                       "?dev/dms_EnableSwitching 1", "?dev/dms_Start 1", "?dev/dms_Mins 30",
                       "?dev/dms_PCalOff 1"}));
}

TEST(RecorderSettings, LabelsMatchWithoutAmpersandOrCaseAndByAUniqueBeginning) {
  const auto itemOf = [](const std::string& control, const std::string& item) {
    return DisplayLabel(ResolveSetting(TheList(), {control, item}).item->label);
  };
  EXPECT_EQ(itemOf("EnableSwitching", "Cuff Switching Mode"), "Cuff Switching Mode");
  EXPECT_EQ(itemOf("enableswitching", "  cuff switching MODE "), "Cuff Switching Mode");
  EXPECT_EQ(itemOf("EnableSwitching", "Cuff &Switching Mode"), "Cuff Switching Mode");
  EXPECT_EQ(itemOf("EnableSwitching", "single"), "Single Cuff Mode (C1)");
  EXPECT_EQ(itemOf("TestMode", "simulate"), "Simulate pressure");
  EXPECT_EQ(itemOf("SwitchingMins", "1"), "1");  // exact, although "15" begins alike
}

TEST(RecorderSettings, UnknownControlsAndItemsNameTheValidOnes) {
  std::string error = ErrorOf({{"SwitchInterval", "30"}});
  EXPECT_NE(error.find("unknown setting \"SwitchInterval\""), std::string::npos) << error;
  for (const char* name : {"TestEnable", "TestMode", "SteadyPress", "SqPress", "SqFreq",
                           "PhysioCalOff", "ContinueSampling", "EnableSwitching",
                           "SwitchingMins"}) {
    EXPECT_NE(error.find(name), std::string::npos) << name;
  }
  EXPECT_EQ(error.find("hcuText"), std::string::npos);  // texts are no settings

  error = ErrorOf({{"SwitchingMins", "45"}});
  EXPECT_NE(error.find("\"45\" is not an item of SwitchingMins"), std::string::npos) << error;
  EXPECT_NE(error.find("\"1\", \"15\", \"30\", \"60\""), std::string::npos) << error;

  error = ErrorOf({{"SteadyPress", "1"}});  // 100, 150: which one?
  EXPECT_NE(error.find("more than one item"), std::string::npos) << error;

  error = ErrorOf({{"ZeroHCU", "Zero"}});
  EXPECT_NE(error.find("--press ZeroHCU"), std::string::npos) << error;

  EXPECT_THROW(ParseSettingRequest("SwitchingMins"), SettingError);
  EXPECT_THROW(ParseSettingRequest("=30"), SettingError);
  const SettingRequest request = ParseSettingRequest("EnableSwitching=Cuff Switching Mode");
  EXPECT_EQ(request.control, "EnableSwitching");
  EXPECT_EQ(request.item, "Cuff Switching Mode");
}

TEST(RecorderSettings, ButtonsAndTexts) {
  const control_list::Control& zero = FindButton(TheList(), "zerohcu");
  EXPECT_EQ(zero.name, "ZeroHCU");
  EXPECT_THROW(FindButton(TheList(), "TestEnable"), SettingError);
  EXPECT_THROW(FindButton(TheList(), "CuffWarnStop"), SettingError);  // only closes its dialog
  EXPECT_EQ(ControlText(TheList(), "WarningText"),
            "Sampling will inflate finger cuffs. They can be damaged if inflated while empty.");
  EXPECT_EQ(ControlText(TheList(), "NoSuchControl"), "");
}

TEST(RecorderSettings, TheListingShowsEveryDialogControlAndDefault) {
  const std::string listing = DescribeSettings(TheList());
  for (const char* text : {"\"Corvane HCU and Test\"", "\"Corvane Settings\"", "\"Corvane\"",
                           "SwitchingMins  popup", "(--set SwitchingMins=...)",
                           "ZeroHCU  button  \"Zero\"  (--press ZeroHCU)", "WarningText  text",
                           "Cuff Switching Mode  (default)", "      15  (default)",
                           "Auto calibration enabled"}) {
    EXPECT_NE(listing.find(text), std::string::npos) << text << "\n" << listing;
  }
  EXPECT_EQ(listing.find("      60  (default)"), std::string::npos);
  EXPECT_EQ(listing.find("--press CuffWarnStop"), std::string::npos);
}

TEST(RecorderOptions, CommandLine) {
  const Options options = ParseOptions({"--out", "x/rec", "--duration=2.5", "--set",
                                        "SwitchingMins=30", "--press", "ZeroHCU", "-q"});
  EXPECT_EQ(options.command, Options::Command::Record);
  EXPECT_EQ(options.out, "x/rec");
  EXPECT_EQ(options.duration, 2.5);
  ASSERT_EQ(options.settings.size(), 1u);
  EXPECT_EQ(options.settings[0].item, "30");
  EXPECT_EQ(options.presses, std::vector<std::string>{"ZeroHCU"});
  EXPECT_TRUE(options.quiet);

  EXPECT_EQ(ParseOptions({"settings"}).command, Options::Command::Settings);
  EXPECT_FALSE(ParseOptions({}).duration);
  EXPECT_TRUE(ParseOptions({"--wrist-unit-sim"}).wristUnitSim);
  EXPECT_EQ(ParseOptions({"--port=/dev/ttyUSB0"}).port, "/dev/ttyUSB0");
  const Options live = ParseOptions({"--live", "--live-port", "8088", "--live-address=0.0.0.0"});
  EXPECT_TRUE(live.live);
  EXPECT_EQ(live.livePort, 8088);
  EXPECT_EQ(live.liveAddress, "0.0.0.0");
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"--duration", "0"}, {"--duration", "abc"}, {"--duration", "3s"}, {"--duration"},
           {"--out", ""}, {"--colour"}, {"settings", "record"}, {"--port"}, {"--port="},
           {"--wrist-unit-sim", "--port", "/dev/ttyUSB0"}, {"--live-port", "8088"},
           {"--live", "--live-port", "0"}, {"--live", "--live-port", "65536"},
           {"--live", "--live-port", "80x"}, {"--live", "--live-address="},
           {"settings", "--live"}}) {
    EXPECT_THROW(ParseOptions(bad), UsageError) << bad[0];
  }
}

}  // namespace
}  // namespace corvane::recorder
