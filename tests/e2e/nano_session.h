// The real module loaded through its exports, with the simulated wrist unit
// behind a serial port (wrist_unit.h), for the wrist-unit end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "module_exports.h"
#include "wrist_unit.h"

namespace corvane::testing {

using Clock = std::chrono::steady_clock;

// Replaces the unit's settings; it notices within 100 ms.
inline void Settings(const WristUnit& unit, const std::string& text) {
  std::ofstream(unit.SettingsFile(), std::ios::trunc) << "watchdog_ms = 0\n" << text;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
}

class NanoSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (unit == nullptr) unit = new WristUnit();
    if (module == nullptr) module = new Module();
  }
  static void TearDownTestSuite() {
    delete unit;
    unit = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(module->Usable());
    ASSERT_TRUE(unit->Running());
  }
  void TearDown() override {
    module->CloseAll();
    module->CleanupOnMainThread();
  }

  std::optional<std::string> Line(int32_t timeoutMs = 5000) {
    char buffer[4096];
    if (module->ReadLine(0, buffer, sizeof buffer, timeoutMs) != 1) return std::nullopt;
    return std::string(buffer);
  }
  std::string Ask(const std::string& line) {
    const std::string text = line + "\n";
    module->WriteBuffer(0, text.c_str(), static_cast<int32_t>(text.size()));
    while (const std::optional<std::string> reply = Line()) {
      if ((*reply)[0] != '+') return *reply;
    }
    return "<none>";
  }
  void Open(const std::vector<std::string>& settings = {}) {
    host.service = &service;
    ASSERT_EQ(module->InitOnMainThread(nullptr, &host), 0);
    DeviceClassInfo info{};
    ASSERT_EQ(module->GetDeviceClassInfo(&info), 1);
    uint32_t value = 0;
    ASSERT_EQ(module->FindDevice(&value), 1);
    ASSERT_EQ(module->Initialise(0), 1);
    for (const std::string& line : settings) ASSERT_EQ(Ask(line), "<OK") << line;
  }
  std::vector<std::string> StartSampler() {
    module->WriteBuffer(0, ">in/sampler/start\n", 18);
    std::vector<std::string> lines;
    while (const std::optional<std::string> line = Line()) {
      lines.push_back(*line);
      if (*line == "<OK") break;
    }
    return lines;
  }
  // Reads lines for `ms`, or until `until` accepts a line that is not data.
  Recording Record(int64_t ms, const std::function<bool(const std::string&)>& until = {}) {
    Recording r;
    RecordInto(r, ms, until);
    return r;
  }
  void RecordInto(Recording& r, int64_t ms,
                  const std::function<bool(const std::string&)>& until = {}) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      const std::optional<std::string> line = Line(20);
      if (!line) continue;
      if ((*line)[0] == '+') {
        const size_t comma = line->find(',');
        const int channel = std::stoi(line->substr(1, comma - 1));
        for (size_t at = comma; at != std::string::npos; at = line->find(',', at + 1)) {
          r.channels[channel].push_back(std::stoll(line->substr(at + 1)));
        }
      } else {
        r.other.push_back(*line);
        if (until && until(*line)) break;
      }
    }
  }
  inline static Module* module = nullptr;
  inline static WristUnit* unit = nullptr;
  FakeHostObject host;
  CountedObject service;
};

}  // namespace corvane::testing
