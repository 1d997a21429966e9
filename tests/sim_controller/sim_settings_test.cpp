#include "sim_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace corvane::sim {
namespace {

TEST(SimSettingsParse, ReadsEachKindOfValueAroundCommentsAndWhitespace) {
  const ParsedSettings parsed = ParseSimSettings(
      "# demo device\r\n"
      "connect_result = 1\r\n"
      "serial=SIM-0042   # trailing comment\n"
      "  version =  Sim 9.9  \n"
      "\n"
      "zero_fails = yes\ninject_from = connect\nerror_stops = off\n"
      "heart_rate = 95.5\nseed = 12345678901\nmarkers = 10");
  EXPECT_TRUE(parsed.problems.empty()) << parsed.problems.front();
  const SimSettings& s = parsed.settings;
  EXPECT_EQ(s.connect_result, 1);
  EXPECT_EQ(s.serial, "SIM-0042");
  EXPECT_EQ(s.version, "Sim 9.9");
  EXPECT_TRUE(s.zero_fails);
  EXPECT_EQ(s.inject_from, InjectFrom::kConnect);
  EXPECT_FALSE(s.error_stops);
  EXPECT_DOUBLE_EQ(s.heart_rate, 95.5);
  EXPECT_EQ(s.seed, 12345678901u);
  EXPECT_EQ(s.marker_interval_s, 10u);
}

TEST(SimSettingsParse, BadLinesAreReportedAndTheRestStillApplies) {
  const ParsedSettings parsed = ParseSimSettings(
      "colour = blue\n"
      "just some words\n"
      "hcu_status = 3\n"
      "heart_rate = fast\n"
      "zero_ms = 12abc\n"
      "serial = OK-1\n");
  ASSERT_EQ(parsed.problems.size(), 5u);
  EXPECT_NE(parsed.problems[0].find("line 1"), std::string::npos);
  EXPECT_NE(parsed.problems[0].find("colour"), std::string::npos);
  EXPECT_NE(parsed.problems[4].find("line 5"), std::string::npos);
  const SimSettings defaults;
  EXPECT_EQ(parsed.settings.hcu_status, defaults.hcu_status);
  EXPECT_EQ(parsed.settings.heart_rate, defaults.heart_rate);
  EXPECT_EQ(parsed.settings.zero_ms, defaults.zero_ms);
  EXPECT_EQ(parsed.settings.serial, "OK-1");
}

TEST(SimSettingsParse, DiastolicAtOrAboveSystolicIsRejected) {
  const ParsedSettings parsed = ParseSimSettings("systolic = 80\ndiastolic = 85\n");
  ASSERT_EQ(parsed.problems.size(), 1u);
  EXPECT_EQ(parsed.settings, SimSettings{});
}

TEST(SettingsFileWatcher, ReloadsWhenTheFileAppearsOrChanges) {
  const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / "sim_settings_watch.txt";
  std::filesystem::remove(path);
  auto write = [&](const std::string& text) { std::ofstream(path, std::ios::binary) << text; };

  SettingsFileWatcher watcher(path);
  EXPECT_FALSE(watcher.PollForChange().has_value());

  write("zero_ms = 100\n");
  auto parsed = watcher.PollForChange();
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->settings.zero_ms, 100u);
  EXPECT_FALSE(watcher.PollForChange().has_value()) << "unchanged file is not read again";

  write("zero_ms = 2500\n");
  parsed = watcher.PollForChange();
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->settings.zero_ms, 2500u);

  std::filesystem::remove(path);
  EXPECT_FALSE(watcher.PollForChange().has_value());
  write("zero_ms = 2500\n");
  EXPECT_TRUE(watcher.PollForChange().has_value()) << "a returning file counts as a change";
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace corvane::sim
