// The driver against a unit played byte for byte on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "log_capture.h"
#include "nano/finapres_nano_driver.h"
#include "platform/fs_path.h"
#include "pty_unit.h"
#include "support/utf8.h"
#include "temp_folder.h"

namespace corvane {
namespace {

using testing::Bytes;
using testing::Frame;
using testing::PtyUnit;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes DataFrame(uint16_t counter, uint16_t bp, uint16_t hgt = 50) {
  return Frame('d', {static_cast<uint8_t>(counter), static_cast<uint8_t>(counter >> 8),
                     static_cast<uint8_t>(bp), static_cast<uint8_t>(bp >> 8),
                     static_cast<uint8_t>(hgt), static_cast<uint8_t>(hgt >> 8), 0, 0, 0});
}

Bytes BeatFrame(uint16_t counter, uint16_t ibi) {
  return Frame('b', {static_cast<uint8_t>(counter), static_cast<uint8_t>(counter >> 8), 0, 0xB0,
                     0x04, 0x20, 0x03, 0x98, 0x03, 0x58, 0x02, static_cast<uint8_t>(ibi),
                     static_cast<uint8_t>(ibi >> 8)});
}

struct Rig {
  Rig() : driver({MVX::Utf8ToWide(unit.Path())}, clock) { unit.ClearRequests(); }
  ~Rig() {
    // What the link logged and what the unit saw, for a failed case.
    if (!::testing::Test::HasFailure()) return;
    for (const auto& line : log.Log()) std::wcerr << line << L"\n";
    for (const auto& request : unit.Requests()) std::cerr << request << " ";
    std::cerr << "\n";
  }
  // Lets the frames written so far reach the driver's rings: polls until
  // the line has stayed quiet for a while.
  void Drain() {
    int quiet = 0;
    for (int i = 0; i < 200 && quiet < 5; ++i) {
      quiet = driver.Poll() ? 0 : quiet + 1;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  template <typename Record>
  std::vector<Record> Take(int32_t (FinapresNanoDriver::*fetch)(uint16_t*, Record*)) {
    std::vector<Record> records(64);
    uint16_t count = 64;
    EXPECT_EQ((driver.*fetch)(&count, records.data()), 0);
    records.resize(count);
    return records;
  }
  testing::LogCapture log;
  PtyUnit unit;
  testing::FastClock clock;
  FinapresNanoDriver driver;
};

TEST(NanoDriver, SearchFindsTheUnitAndSkipsSilentPorts) {
  PtyUnit silent;
  silent.Ignore('v');
  PtyUnit unit;
  testing::FastClock clock;
  testing::LogCapture capture;
  FinapresNanoDriver driver(
      {L"/nonexistent/tty", MVX::Utf8ToWide(silent.Path()), MVX::Utf8ToWide(unit.Path())}, clock);
  EXPECT_EQ(driver.DMS_GetStatusConnect(), 1);
  EXPECT_EQ(silent.Requests(), std::vector<std::string>{"v0a"});
  EXPECT_EQ(unit.Requests(), (std::vector<std::string>{"v0a", "m"}));
  EXPECT_EQ(capture.LogCount(L"Nano Driver: Looking for Vive Zore on "), 2u);
  EXPECT_EQ(driver.DMS_Connect(), 0);
  char text[256];
  uint16_t length = sizeof text;
  EXPECT_EQ(driver.DMS_GetVersion(0, text, &length), 0);
  EXPECT_STREQ(text, "MVX Nano driver v1.0 - Nano firmware v2.1.0.100, protocol v3");
}

// Each operation, the frames it sends and what it answers.
TEST(NanoDriver, OperationsSendTheirByteScripts) {
  struct Case {
    const char* name;
    uint8_t unitMode;
    std::function<void(Rig&)> setup;
    std::function<int32_t(FinapresNanoDriver&)> operation;
    int32_t result;
    std::vector<std::string> requests;  // a trailing "s..." stands for more status requests
  };
  auto setup = [](Rig&) {};
  auto measuring = [](Rig& rig) {
    rig.unit.Send(rig.unit.StatusFrame());
    rig.Drain();
  };
  const std::vector<Case> cases = {
      {"connect, unit idle", 1, setup, [](auto& d) { return d.DMS_Connect(); }, 0, {"v0a", "s"}},
      {"connect stops a measurement",
       3,
       setup,
       [](auto& d) { return d.DMS_Connect(); },
       0,
       {"v0a", "s", "e02"}},
      {"connect leaves a test",
       4,
       setup,
       [](auto& d) { return d.DMS_Connect(); },
       0,
       {"v0a", "s", "e04"}},
      {"connect without a status reply",
       1,
       [](Rig& r) { r.unit.Ignore('s'); },
       [](auto& d) { return d.DMS_Connect(); },
       5,
       {"v0a", "s"}},
      {"idle while idle sends only the query",
       1,
       setup,
       [](auto& d) { return d.DMS_SetMode(2); },
       0,
       {"m"}},
      {"measure", 1, setup, [](auto& d) { return d.DMS_SetMode(3); }, 0, {"m", "e01", "s"}},
      // A refused mode is a failed change, not a wait that runs out.
      {"measure refused",
       1,
       [](Rig& r) { r.unit.Refuse('e', 'e', 3); },
       [](auto& d) { return d.DMS_SetMode(3); },
       2,
       {"m", "e01"}},
      {"test refused",
       1,
       [](Rig& r) { r.unit.Refuse('t', 't', 3); },
       [](auto& d) { return d.DMS_SetMode(4); },
       2,
       {"m", "e03", "t0101010000000000000000000000"}},
      {"square wave at 4 Hz",
       1,
       [](Rig& r) {
         r.driver.DMS_SetTestSquarePressure(120);
         r.driver.DMS_SetTestSquareFrequency(4.0);
       },
       [](auto& d) { return d.DMS_SetMode(5); },
       0,
       {"m", "e03", "t01020100000078000000fa000000", "s..."}},
      {"steady pressure on cuff 2",
       1,
       [](Rig& r) {
         r.driver.DMS_SetTestSteadyPressure(200);
         r.driver.DMS_SetCuffSwitching(-2);
         r.unit.ClearRequests();
       },
       [](auto& d) { return d.DMS_SetMode(4); },
       0,
       {"m", "e03", "t010102000000c800000000000000", "s"}},
      {"a mode out of range leaves the measurement",
       3,
       setup,
       [](auto& d) { return d.DMS_SetMode(9); },
       7,
       {"m", "e02"}},
      {"cuff change while measuring",
       3,
       measuring,
       [](auto& d) { return d.DMS_SetCuffSwitching(-2); },
       0,
       {"m", "e02", "s", "c02", "m", "e01", "s"}},
      {"cuff already selected",
       1,
       setup,
       [](auto& d) { return d.DMS_SetCuffSwitching(-1); },
       0,
       {}},
      {"cuff change unanswered",
       1,
       [](Rig& r) { r.unit.Ignore('c'); },
       [](auto& d) {
         const int32_t result = d.DMS_SetCuffSwitching(-2);
         int32_t cuff = 0;
         d.DMS_GetCuffSwitching(&cuff);
         return cuff == -1 ? result : -99;
       },
       2,
       {"c02"}},
      {"zero HCU twice", 1, setup, [](auto& d) { return d.DMS_ZeroHCU(); }, 0, {"z", "z"}},
      {"physiocal off", 1, setup, [](auto& d) { return d.DMS_SetPhysioCal(0); }, 0, {"h00"}},
      {"disconnect while measuring",
       3,
       measuring,
       [](auto& d) { return d.DMS_Disconnect(); },
       0,
       {"e02"}},
      {"disconnect while idle", 1, setup, [](auto& d) { return d.DMS_Disconnect(); }, 0, {}},
      {"serial number",
       1,
       setup,
       [](auto& d) {
         char text[256];
         uint16_t length = sizeof text;
         const int32_t result = d.DMS_GetSerialNr(text, &length);
         return std::string(text) == "VZ0012345" && length == 9 ? result : -99;
       },
       0,
       {"v00", "v0b"}},
      {"serial number too long for the buffer",
       1,
       setup,
       [](auto& d) {
         char text[4] = "xx";
         uint16_t length = sizeof text;
         const int32_t result = d.DMS_GetSerialNr(text, &length);
         return text[0] == 0 && length == 0 ? result : -99;
       },
       0,
       {"v00", "v0b"}},
      {"a Nack of another letter ends the wait",
       1,
       [](Rig& r) { r.unit.Refuse('h', 'c', 5); },
       [](auto& d) { return d.DMS_SetPhysioCal(1); },
       2,
       {"h01"}},
      {"frames of other letters are handled while waiting",
       1,
       [](Rig& r) {
         r.unit.Before('s', Cat({DataFrame(7, 1234), Frame('c', {2})}));
       },
       [](auto& d) {
         NanoMessage request('s');
         const bool replied = d.SendAndWait(request, 100);
         int32_t cuff = 0;
         d.DMS_GetCuffSwitching(&cuff);
         return replied && request.Letter() == 's' && cuff == -2 &&
                        d.DMS_GetPressureNbrSamples() == 1
                    ? 0
                    : -99;
       },
       0,
       {"s"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.unit.SetMode(c.unitMode);
    c.setup(rig);
    rig.unit.ClearRequests();
    EXPECT_EQ(c.operation(rig.driver), c.result);
    std::vector<std::string> got = rig.unit.Requests();
    std::vector<std::string> expected = c.requests;
    if (!expected.empty() && expected.back() == "s...") {
      expected.pop_back();
      while (got.size() > expected.size() && got.back() == "s") got.pop_back();
    }
    EXPECT_EQ(got, expected);
  }
}

Bytes StatusFrame(uint8_t state, uint8_t error, uint32_t warning, uint8_t hcu, uint8_t extra) {
  return Frame('s', {0, 0, state, error, static_cast<uint8_t>(warning),
                     static_cast<uint8_t>(warning >> 8), static_cast<uint8_t>(warning >> 16),
                     static_cast<uint8_t>(warning >> 24), hcu, 0xFF, extra, 0x9A, 0, 0, 0});
}

TEST(NanoDriver, StatusFramesFillTheStatusBlock) {
  struct Case {
    const char* name;
    Bytes frame;
    DMSStatus expected;  // after DMS_ClearError and DMS_GetStatus
  };
  const std::vector<Case> cases = {
      {"measuring, HCU zeroed",
       StatusFrame(0x30, 0, 0, 0x40, 0x81),
       {0, 3, 0, 0, 3, 1, 1, 0x9A, 2, 200}},
      {"warning 0x20 raises error 0x40",
       StatusFrame(0x10, 0, 0x20, 0x20, 0xC2),
       {0, 2, 0x140, static_cast<int32_t>(0x80000020u), 3, 2, 2, 0x9A, 1, 200}},
      {"other warnings are only reported",
       StatusFrame(0x10, 0, 0x7, 0x20, 0x00),
       {0, 2, 0, static_cast<int32_t>(0x80000007u), 3, 0, 0, 0x9A, 1, 200}},
      {"device error 9",
       StatusFrame(0x11, 9, 0, 0x20, 0x00),
       {1, 2, 0x109, 0, 3, 0, 0, 0x9A, 1, 200}},
      {"permanent errors are not copied",
       StatusFrame(0x10, 0x85, 0, 0x20, 0x00),
       {0, 2, 0, 0, 3, 0, 0, 0x9A, 1, 200}},
      {"HCU zeroing is busy",
       StatusFrame(0x30, 0, 0, 0x80, 0x00),
       {1, 3, 0, 0, 3, 0, 0, 0x9A, -2, 200}},
      {"state 2 keeps the driver state",
       StatusFrame(0x20, 0, 0, 0x40, 0x00),
       {0, 0, 0, 0, 3, 0, 0, 0x9A, 2, 200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.unit.SetStatusFrame(c.frame);
    rig.unit.Send(c.frame);
    rig.Drain();
    rig.driver.DMS_ClearError();
    DMSStatus status{};
    ASSERT_EQ(rig.driver.DMS_GetStatus(&status), 0);
    EXPECT_EQ(status.mBusy, c.expected.mBusy);
    EXPECT_EQ(status.mMode, c.expected.mMode);
    EXPECT_EQ(status.mError, c.expected.mError);
    EXPECT_EQ(status.mWarning, c.expected.mWarning);
    EXPECT_EQ(status.mChannel8 & 0xFFFF, c.expected.mChannel8);
    EXPECT_EQ(status.mExtra1, c.expected.mExtra1);
    EXPECT_EQ(status.mChannel10, c.expected.mChannel10);
    EXPECT_EQ(status.mChannel11 & 0xFFFF, c.expected.mChannel11);
    EXPECT_EQ(status.mHCUStatus, c.expected.mHCUStatus);
    EXPECT_EQ(status.mExtra2 & 0xFFFF, c.expected.mExtra2);
    // An error reaches exactly one status query.
    ASSERT_EQ(rig.driver.DMS_GetStatus(&status), 0);
    EXPECT_EQ(status.mError, 0);
    EXPECT_GE(rig.driver.DMS_GetHeightAndStatusNbrSamples(), 1);
  }
}

TEST(NanoDriver, SamplesAreStampedFromTheirCounters) {
  Rig rig;
  testing::LogCapture& capture = rig.log;
  // The second 101 is the same sample again: logged, not stored twice.
  rig.unit.Send(
      Cat({DataFrame(100, 1234), DataFrame(101, 1000), DataFrame(101, 1000), DataFrame(103, 1000),
           DataFrame(65535, 800), DataFrame(0, 800), BeatFrame(98, 1000)}));
  rig.Drain();
  EXPECT_EQ(capture.LogCount(L"!!! Nano Driver: Data sample counter sequence error. Expected 102 "
                             L"(0x66), got 103 (0x67)"),
            1u);
  EXPECT_EQ(capture.LogCount(L"Expected 102 (0x66), got 101 (0x65)"), 1u);
  EXPECT_EQ(capture.LogCount(L"Data sample counter sequence error"), 3u);  // and 103 -> 65535
  const auto pressure = rig.Take(&FinapresNanoDriver::DMS_GetPressureSamples);
  ASSERT_EQ(pressure.size(), 5u);
  EXPECT_EQ(pressure[0].mPressure, 123);
  EXPECT_EQ(pressure[1].mTime - pressure[0].mTime, 50000u);
  EXPECT_EQ(pressure[2].mTime - pressure[1].mTime, 100000u);
  // 65535 is 104 samples before 103 on the wrapped scale; 0 follows it by one.
  EXPECT_EQ(pressure[2].mTime - pressure[3].mTime, 104u * 50000u);
  EXPECT_EQ(pressure[4].mTime - pressure[3].mTime, 50000u);
  const auto beats = rig.Take(&FinapresNanoDriver::DMS_GetBeatToBeatSamples);
  ASSERT_EQ(beats.size(), 1u);
  EXPECT_EQ(beats[0].mTime, pressure[0].mTime - 2 * 50000u);
  EXPECT_EQ(beats[0].mSystolic, 120);
  EXPECT_EQ(beats[0].mDiastolic, 80);
  EXPECT_EQ(beats[0].mMean, 92);
  EXPECT_EQ(beats[0].mHeartRate, 60);

  // Fetch contract: capacity, null records, null count.
  rig.unit.Send(Cat({DataFrame(1, 10), DataFrame(2, 10), DataFrame(3, 10)}));
  rig.Drain();
  std::vector<PressureSample> records(32);
  uint16_t count = 2;
  EXPECT_EQ(rig.driver.DMS_GetPressureSamples(&count, records.data()), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(rig.driver.DMS_GetPressureSamples(nullptr, records.data()), 6);
  EXPECT_EQ(rig.driver.DMS_GetPressureSamples(nullptr, nullptr), 0);
  count = 32;
  EXPECT_EQ(rig.driver.DMS_GetPressureSamples(&count, records.data()), 0);
  EXPECT_EQ(count, 0);
}

TEST(NanoDriver, PressureRingKeepsTheNewest2000) {
  Rig rig;
  Bytes burst;
  for (uint16_t i = 0; i < 2001; ++i) burst = Cat({burst, DataFrame(i, i)});
  rig.unit.Send(burst);
  while (rig.driver.DMS_GetPressureNbrSamples() < 2000) rig.driver.Poll();
  for (int i = 0; i < 10; ++i) rig.driver.Poll();
  EXPECT_EQ(rig.driver.DMS_GetPressureNbrSamples(), 2000);
  PressureSample first{};
  uint16_t count = 1;
  rig.driver.DMS_GetPressureSamples(&count, &first);
  EXPECT_EQ(first.mPressure, 0);  // bp 1 / 10: the record of counter 0 was dropped
}

TEST(NanoDriver, PhysioCalOffGoesOutAfterTheFourthValidBeat) {
  Rig rig;
  testing::LogCapture& capture = rig.log;
  ASSERT_EQ(rig.driver.DMS_SetPhysioCal(0), 0);
  ASSERT_EQ(rig.driver.DMS_SetMode(3), 0);
  rig.unit.ClearRequests();
  rig.unit.Send(Cat({BeatFrame(1, 900), BeatFrame(2, 0), BeatFrame(3, 900), BeatFrame(4, 900)}));
  rig.Drain();
  EXPECT_EQ(capture.TraceCount("Queued physiocal off ('h') command"), 0u);
  rig.unit.Send(Cat({BeatFrame(5, 900), BeatFrame(6, 900)}));
  rig.Drain();
  EXPECT_EQ(capture.TraceCount("Queued physiocal off ('h') command"), 1u);
  const auto requests = rig.unit.Requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "h00"), 1);
}

TEST(NanoDriver, PollReadsThroughNoiseToEveryFrameWaiting) {
  Rig rig;
  // 300 noise bytes (never a frame marker) before every 20th frame.
  const Bytes noise(300, 0x55);
  Bytes line;
  constexpr uint16_t kFrames = 100;
  for (uint16_t i = 0; i < kFrames; ++i) {
    if (i % 20 == 0) line = Cat({line, noise});
    line = Cat({line, DataFrame(i, 1000)});
  }
  rig.unit.Send(line);
  // Paced as the engine polls (a status query per pass, every 20 ms): 300
  // bytes once took 300 passes.
  DMSStatus status{};
  for (int pass = 0; pass < 60 && rig.driver.DMS_GetPressureNbrSamples() < kFrames; ++pass) {
    ASSERT_EQ(rig.driver.DMS_GetStatus(&status), 0);
    EXPECT_NE(status.mError, FinapresNanoDriver::kLinkSilenceError) << "pass " << pass;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(rig.driver.DMS_GetPressureNbrSamples(), kFrames);
  EXPECT_EQ(rig.log.LogCount(L"sequence error"), 0u);
}

TEST(NanoDriver, AStandingErrorIsClearedOnceASecondAndLoggedOnce) {
  Rig rig;
  const Bytes failing = StatusFrame(0x30, 17, 0, 0x40, 0x81);
  rig.unit.SetStatusFrame(failing);
  // 10 s of the engine's passes, the unit's status frames showing the error
  // all along.
  DMSStatus status{};
  int reported = 0;
  const int64_t start = rig.clock.NowMs();
  for (int pass = 0; pass < 100; ++pass) {
    rig.unit.Send(failing);
    rig.driver.DMS_ClearError();
    ASSERT_EQ(rig.driver.DMS_GetStatus(&status), 0);
    if (status.mError == 0x111) ++reported;
    rig.clock.Advance(100);
  }
  const int64_t seconds = (rig.clock.NowMs() - start) / 1000;
  const std::vector<std::string> requests = rig.unit.Requests();
  const auto clears = std::count(requests.begin(), requests.end(), "e06");
  EXPECT_GE(clears, seconds - 1);
  EXPECT_LE(clears, seconds + 1) << "the first at once, then one a second";
  EXPECT_EQ(rig.log.LogCount(L"!!! FinapresNanoDriver::DMS_ClearError() error 273"), 1u);
  EXPECT_GT(reported, 90) << "the engine learns the error while it stands";

  // Once cleared, the same error is news again.
  rig.unit.SetStatusFrame(StatusFrame(0x30, 0, 0, 0x40, 0x81));
  rig.unit.Send(StatusFrame(0x30, 0, 0, 0x40, 0x81));
  rig.Drain();
  rig.unit.Send(failing);
  rig.Drain();
  rig.unit.ClearRequests();
  rig.driver.DMS_ClearError();
  EXPECT_EQ(rig.log.LogCount(L"!!! FinapresNanoDriver::DMS_ClearError() error 273"), 2u);
  const std::vector<std::string> again = rig.unit.Requests();
  EXPECT_EQ(std::count(again.begin(), again.end(), "e06"), 1);
}

// A port that goes away and stays away (the adapter pulled for good) is
// tried again at the link's pace, and the log tells it once, however long
// the host keeps asking.
TEST(NanoDriver, AVanishedPortIsRetriedAtItsPaceAndLoggedOnce) {
  auto unit = std::make_unique<PtyUnit>();
  // The port's name goes with it: a pseudo-terminal's number may be taken
  // again by another test.
  const TempFolder folder;
  const std::filesystem::path link = platform::ToFsPath(folder.Wide()) / "port";
  std::filesystem::create_symlink(unit->Path(), link);
  testing::FastClock clock;
  testing::LogCapture log;
  FinapresNanoDriver driver({platform::FromFsPath(link)}, clock);
  ASSERT_EQ(driver.DMS_GetStatusConnect(), 1);
  unit.reset();
  std::filesystem::remove(link);
  const int64_t begin = clock.NowMs();
  DMSStatus status{};
  while (clock.NowMs() - begin < 1000) driver.DMS_GetStatus(&status);
  EXPECT_EQ(log.LogCount(L"!!! Nano Driver trying port reconnect"), 1u);
  EXPECT_LE(log.LogCount(L"COMPort failed to open handle for port "), 1u);
  EXPECT_LE(log.LogCount(L"!!! Nano driver: Failed to send 'm' message"), 1u);
  EXPECT_LE(log.TraceCount("trying port reconnect"), 1000u / 200u + 2u) << "tried at its pace";
}

TEST(NanoDriver, LinkSilenceAndAFreshDriver) {
  Rig rig;
  DMSStatus status{};
  rig.unit.Send(DataFrame(1, 1));
  rig.Drain();
  rig.driver.DMS_GetStatus(&status);
  EXPECT_EQ(status.mError, 0);
  rig.clock.Advance(1500);
  for (int i = 0; i < 2; ++i) {
    rig.driver.DMS_GetStatus(&status);
    EXPECT_EQ(status.mError, 321);
  }
  // A quiet line is not a hung-up one.
  EXPECT_EQ(rig.log.LogCount(L"trying port reconnect"), 0u);

  // No unit anywhere: settings still work, the device calls fail.
  testing::FastClock clock;
  FinapresNanoDriver fresh({}, clock);
  EXPECT_EQ(fresh.DMS_GetStatusConnect(), 5);
  EXPECT_EQ(fresh.DMS_Connect(), 2);
  EXPECT_EQ(fresh.DMS_SetPhysioCal(1), 2);
  char text[256];
  uint16_t length = sizeof text;
  EXPECT_EQ(fresh.DMS_GetVersion(1, text, &length), 8);
  EXPECT_EQ(fresh.DMS_GetVersion(0, text, &length), 0);
  EXPECT_STREQ(text, "MVX Nano driver v1.0 - Nano firmware v0.0.0.0, protocol v0");
  EXPECT_EQ(length, std::string(text).size());
  struct Setting {
    std::function<int32_t()> set;
    int32_t result;
  };
  const std::vector<Setting> settings = {
      {[&] { return fresh.DMS_SetTestSteadyPressure(350); }, 0},
      {[&] { return fresh.DMS_SetTestSteadyPressure(351); }, 8},
      {[&] { return fresh.DMS_SetTestSquarePressure(351); }, 8},
      {[&] { return fresh.DMS_SetTestSquareFrequency(0.5); }, 8},
      {[&] { return fresh.DMS_SetTestSquareFrequency(100.0); }, 0},
      {[&] { return fresh.DMS_SetTestSquareFrequency(100.5); }, 8},
  };
  for (const Setting& s : settings) EXPECT_EQ(s.set(), s.result);
  uint16_t steady = 0;
  double hertz = 0;
  fresh.DMS_GetTestSteadyPressure(&steady);
  fresh.DMS_GetTestSquareFrequency(&hertz);
  EXPECT_EQ(steady, 350);
  EXPECT_EQ(hertz, 100.0);
}

TEST(NanoDriver, DemonstrationEndsWhenARealModeIsAsked) {
  Rig rig;
  // Frames that came in between the start's flush and the mode change carry
  // the unit's own pressure: the demonstration does not record them.
  rig.unit.Send(Cat({DataFrame(0, 500), DataFrame(1, 500)}));
  rig.Drain();
  ASSERT_EQ(rig.driver.DMS_GetPressureNbrSamples(), 2);
  ASSERT_EQ(rig.driver.DMS_SetMode(6), 0);
  EXPECT_EQ(rig.driver.DMS_GetPressureNbrSamples(), 0);
  EXPECT_EQ(rig.driver.DriverState(), 6);
  EXPECT_TRUE(rig.unit.Requests() == std::vector<std::string>({"m", "s"}));
  Bytes second;
  for (uint16_t i = 2; i < 402; ++i) second = Cat({second, DataFrame(i, 500)});
  rig.unit.Send(second);
  while (rig.driver.DMS_GetPressureNbrSamples() < 400) rig.driver.Poll();
  std::vector<PressureSample> made(400);
  uint16_t count = 400;
  rig.driver.DMS_GetPressureSamples(&count, made.data());
  const auto [low, high] = std::minmax_element(
      made.begin(), made.end(),
      [](const PressureSample& a, const PressureSample& b) { return a.mPressure < b.mPressure; });
  EXPECT_LT(low->mPressure, 90);  // a pressure wave, not the unit's 50 mmHg
  EXPECT_GT(high->mPressure, 110);
  EXPECT_GE(rig.driver.DMS_GetBeatToBeatNbrSamples(), 1);

  // A real recording after the demonstration carries the unit's pressure.
  ASSERT_EQ(rig.driver.DMS_SetMode(3), 0);
  EXPECT_EQ(rig.driver.DriverState(), 3);
  rig.driver.DMS_GetPressureSamples(nullptr, nullptr);
  rig.unit.Send(Cat({DataFrame(402, 777), DataFrame(403, 777)}));
  while (rig.driver.DMS_GetPressureNbrSamples() < 2) rig.driver.Poll();
  count = 2;
  rig.driver.DMS_GetPressureSamples(&count, made.data());
  EXPECT_EQ(made[0].mPressure, 77);
  EXPECT_EQ(made[1].mPressure, 77);
}

}  // namespace
}  // namespace corvane
