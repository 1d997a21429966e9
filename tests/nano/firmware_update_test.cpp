// The firmware update against a scripted wrist unit on a clock the test
// drives: what reaches the unit, what the progress window shows, and how each
// failure ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "firmware_image_writer.h"
#include "log_capture.h"
#include "nano/firmware_update.h"
#include "progress_recorder.h"
#include "support/utf8.h"
#include "temp_folder.h"

namespace {

using corvane::FirmwareImage;
using corvane::FirmwareUpdate;
using corvane::NanoMessage;
using corvane::nano::ModeFrame;

constexpr uint16_t kHardware = 0x0101;
constexpr int64_t kNever = INT64_MAX;

class FakeClock final : public corvane::LinkClock {
 public:
  int64_t NowMs() const override { return now; }
  void SleepMs(uint32_t ms) const override { now += ms; }
  mutable int64_t now = 1000;
};

// How the scripted unit behaves; the defaults make a good update.
struct Unit {
  uint8_t startMode = 1;
  bool answersFirstModeQuery = true;
  bool entersBootloader = true;
  bool acksErase = true;
  int64_t eraseMs = 1200;  // kNever: the erase never reports done
  int silentBlock = -1;    // no reply to this block
  int refusedBlock = -1;   // Nack 5 for this block
  int orderBlock = -1;     // the first arrival of this block wants `orderWanted`
  uint16_t orderWanted = 0;
  int alwaysWanted = -1;          // every block from this one wants this one again
  bool restartsFromZero = false;  // the last block wants block 0 again, every time
  bool restarts = true;
  bool portGoneAfterErase = false;  // every exchange after the erase's Ack fails at once
};

// The wrist unit's bootloader side, timed on the fake clock.
class FakeLink final : public corvane::UpdateLink {
 public:
  FakeLink(const Unit& unit, FakeClock& clock, uint32_t blockCount)
      : mUnit(unit), mClock(clock), mBlockCount(blockCount), mMode(unit.startMode) {}

  bool SendAndWait(NanoMessage& message, uint32_t timeoutMs) override {
    if (Gone()) return false;
    sent.push_back(message.Letter());
    const uint8_t* p = message.Payload();
    if (Silent() || (message.Letter() == 'F' && !mUnit.acksErase)) return NoReply(timeoutMs);
    mClock.now += 2;
    if (message.Letter() == 'u') mArmed = true;
    if (message.Letter() == 'F') {
      erase.assign(p, p + message.PayloadLength());
      mEraseDone = mUnit.eraseMs == kNever ? kNever : mClock.now + mUnit.eraseMs;
    }
    if (message.Letter() != 'B') return true;
    const int number = p[0] | p[1] << 8;
    blocks.push_back(number);
    if (number == mUnit.silentBlock) return NoReply(timeoutMs);
    if (number == mUnit.refusedBlock) return Nack(message, 5, 0, number);
    if (number == mUnit.orderBlock && !mOrderSent) {
      mOrderSent = true;
      return Nack(message, 1, mUnit.orderWanted, number);
    }
    if (mUnit.alwaysWanted >= 0 && number >= mUnit.alwaysWanted) {
      return Nack(message, 1, static_cast<uint16_t>(mUnit.alwaysWanted), number);
    }
    if (mUnit.restartsFromZero && number + 1 == static_cast<int>(mBlockCount))
      return Nack(message, 1, 0, number);
    written[number].assign(p + 2, p + 130);
    if (number + 1 == static_cast<int>(mBlockCount))
      mRestartAt = mUnit.restarts ? mClock.now + 1500 : kNever;
    return true;
  }

  std::optional<ModeFrame> QueryMode(uint32_t timeoutMs) override {
    if (Gone()) return std::nullopt;
    if (Silent() || !std::exchange(mAnswerModeQuery, true)) {
      mClock.now += timeoutMs;
      return std::nullopt;
    }
    mClock.now += 2;
    ModeFrame mode;
    if (mEnteredAt != 0 && mClock.now >= mEnteredAt) mMode = 7;
    if (mRestartAt != 0 && mClock.now >= mRestartAt) mMode = 1;
    mode.mode = mMode;
    mode.busy = (mEnteredAt != 0 && mClock.now < mEnteredAt) ||
                (mEraseDone != 0 && mClock.now < mEraseDone && mMode == 7);
    mode.eraseState = mEraseDone != 0 && mClock.now >= mEraseDone ? 1 : 0;
    return mode;
  }

  void StartMeasurement(uint8_t subCommand) override {
    sent.push_back(static_cast<char>('0' + subCommand));
    if (subCommand == 5 && mArmed && mUnit.entersBootloader) mEnteredAt = mClock.now + 400;
  }

  // What the unit has written: the blocks' data in block order.
  std::vector<uint8_t> Memory() const {
    std::vector<uint8_t> bytes;
    for (const auto& [number, data] : written) bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
  }

  std::string sent;                             // letters; '5' for 'e' 5
  std::vector<int> blocks;                      // block numbers as they came
  std::vector<uint8_t> erase;                   // the 'F' payload
  std::map<int, std::vector<uint8_t>> written;  // accepted blocks
  size_t exchangesWhileGone = 0;                // each a reopening of the port

 private:
  bool Gone() {
    if (!mUnit.portGoneAfterErase || mEraseDone == 0) return false;
    ++exchangesWhileGone;
    return true;
  }
  bool Silent() const { return mRestartAt != 0 && mClock.now < mRestartAt; }
  bool NoReply(uint32_t timeoutMs) {
    mClock.now += timeoutMs;
    return false;
  }
  static bool Nack(NanoMessage& message, uint8_t error, uint16_t wanted, int received) {
    const uint8_t payload[] = {error, static_cast<uint8_t>(wanted),
                               static_cast<uint8_t>(wanted >> 8), static_cast<uint8_t>(received),
                               static_cast<uint8_t>(received >> 8)};
    message = NanoMessage('B' | corvane::kNackFlag, payload);
    return false;
  }

  Unit mUnit;
  FakeClock& mClock;
  uint32_t mBlockCount;
  uint8_t mMode;
  bool mAnswerModeQuery = mUnit.answersFirstModeQuery;
  bool mArmed = false;
  bool mOrderSent = false;
  int64_t mEnteredAt = 0;
  int64_t mEraseDone = 0;
  int64_t mRestartAt = 0;
};

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return data;
}

// An image file of version 2.1.1.0 for kHardware in a folder of its own.
struct ImageFolder {
  explicit ImageFolder(const std::vector<uint8_t>& data, uint16_t hardware = kHardware) {
    const corvane::tools::ImageDescription d{
        2, 1, 1, 0, hardware, 0x5C, static_cast<uint32_t>(data.size())};
    folder.Write(MVX::Utf8ToWide(corvane::tools::ImageFileName(d, false)),
                 corvane::tools::ImageXml(d, data));
  }
  TempFolder folder;
  FirmwareImage image{MVX::Path(folder.Wide())};
};

std::vector<int> Range(int from, int to) {
  std::vector<int> numbers;
  for (int i = from; i < to; ++i) numbers.push_back(i);
  return numbers;
}

TEST(FirmwareUpdate, WritesTheImageAndShowsRisingProgress) {
  const std::vector<uint8_t> data = Pattern(3000);  // 24 blocks, the last with 56 bytes
  std::vector<int> resent = Range(0, 6);
  for (int b : Range(3, 24)) resent.push_back(b);
  const struct {
    const char* name;
    Unit unit;
    std::string sent;  // letters before the blocks
    std::vector<int> blocks;
  } cases[] = {
      {"normal unit", {}, "u5FB", Range(0, 24)},
      {"already in its bootloader", {.startMode = 7}, "FB", Range(0, 24)},
      {"erase never reports done", {.eraseMs = kNever}, "u5FB", Range(0, 24)},
      {"block 5 out of order, wants 3", {.orderBlock = 5, .orderWanted = 3}, "u5FB", resent},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    corvane::testing::LogCapture log;
    FakeClock clock;
    ImageFolder files(data);
    FakeLink link(c.unit, clock, 24);
    corvane::testing::ProgressRecorder windows;
    FirmwareUpdate update(link, clock, &windows);
    ASSERT_TRUE(update.CheckUnit(files.image, corvane::UnitFirmware{kHardware, {2, 1, 0, 100}}));

    EXPECT_EQ(link.sent.substr(0, c.sent.size()), c.sent);
    EXPECT_EQ(link.blocks, c.blocks);
    std::vector<uint8_t> expected = data;
    expected.resize(24 * 128, 0xFF);
    EXPECT_EQ(link.Memory(), expected);
    EXPECT_EQ(link.erase, (std::vector<uint8_t>{0xB8, 0x0B, 0, 0, 0x5C, 0, 0xEF, 0xBE}));

    EXPECT_EQ(windows.opened, 1);
    EXPECT_EQ(windows.open, 0);
    EXPECT_EQ(windows.texts,
              (std::vector<std::wstring>{L"Updating Vive Zore wrist unit|Entering update mode",
                                         L"Preparing for update", L"Transferring new image",
                                         L"Restarting Vive Zore"}));
    ASSERT_FALSE(windows.percents.empty());
    EXPECT_EQ(windows.percents.back(), 100);
    for (const int32_t phaseStart : {10, 75}) {
      EXPECT_NE(std::find(windows.percents.begin(), windows.percents.end(), phaseStart),
                windows.percents.end());
    }
    if (c.unit.orderBlock < 0) {
      EXPECT_TRUE(std::is_sorted(windows.percents.begin(), windows.percents.end()));
      EXPECT_GE(windows.percents.front(), 0);
    }
    EXPECT_EQ(log.LogCount(L" Nano Driver: updating wrist unit firmware image to "
                           L"ViveZore.V2.1.1.0.xml"),
              1u);
    EXPECT_EQ(log.LogCount(L" Nano Driver: erase complete. Transferring 24 image blocks"), 1u);
    EXPECT_EQ(log.LogCount(L" Nano Driver: Image update complete and wrist unit rebooted"), 1u);
    const size_t orderErrors = c.unit.orderBlock < 0 ? 0 : 1;
    EXPECT_EQ(log.LogCount(L"  !!! Nano Driver: Packet order error: wanted 3, got 5"), orderErrors);
    EXPECT_EQ(log.TraceCount("  !!! Packet order error: wanted 3, got 5"), orderErrors);
  }
}

TEST(FirmwareUpdate, TheProbeUpdatesOnlyWhenTheImageOrTheBootloaderCallsForIt) {
  const corvane::UnitFirmware current{kHardware, {2, 1, 1, 0}};
  const corvane::UnitFirmware older{kHardware, {2, 1, 0, 9}};
  // A unit that answered with a bootloader record, or with one of zeros: its
  // hardware, and no program version.
  const corvane::UnitFirmware bootloaderRecord{3, {}};
  const corvane::UnitFirmware zeros{0, {}};
  const std::wstring kOtherHardware = L"is built for hardware 257, the wrist unit is hardware ";
  const std::wstring kWaits =
      L"!!! Nano Driver: the wrist unit waits in its bootloader and no firmware image is installed";
  const struct {
    const char* name;
    Unit unit;
    corvane::UnitFirmware firmware;
    bool imageFile;
    uint16_t imageHardware;
    bool result;
    bool updated;
    std::wstring logLine;
  } cases[] = {
      {"same version", {}, current, true, kHardware, true, false, L""},
      {"older version", {}, older, true, kHardware, true, true, L""},
      {"mode query unanswered, same version",
       {.answersFirstModeQuery = false},
       current,
       true,
       kHardware,
       true,
       false,
       L""},
      {"mode query unanswered, older",
       {.answersFirstModeQuery = false},
       older,
       true,
       kHardware,
       true,
       true,
       L""},
      {"bootloader, newer than the image",
       {.startMode = 7},
       current,
       true,
       kHardware,
       true,
       true,
       L""},
      {"bootloader without an image",
       {.startMode = 7},
       current,
       false,
       kHardware,
       false,
       false,
       kWaits},
      {"bootloader, image for other hardware",
       {.startMode = 7},
       older,
       true,
       0x0202,
       false,
       false,
       kWaits},
      {"older, image for other hardware",
       {},
       older,
       true,
       0x0202,
       true,
       false,
       L"is built for hardware 514, the wrist unit is hardware 257"},
      {"bootloader record of other hardware",
       {},
       bootloaderRecord,
       true,
       kHardware,
       true,
       false,
       kOtherHardware + L"3"},
      {"bootloader record of other hardware, in the bootloader",
       {.startMode = 7},
       bootloaderRecord,
       true,
       kHardware,
       false,
       false,
       kOtherHardware + L"3"},
      {"record of zeros", {}, zeros, true, kHardware, true, false, kOtherHardware + L"0"},
      {"bootloader record of the same hardware: the version is unknown",
       {},
       {kHardware, {}},
       true,
       kHardware,
       true,
       true,
       L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    corvane::testing::LogCapture log;
    FakeClock clock;
    ImageFolder files(Pattern(300), c.imageHardware);
    if (!c.imageFile) std::filesystem::remove_all(corvane::platform::ToFsPath(files.folder.Wide()));
    FakeLink link(c.unit, clock, 3);
    corvane::testing::ProgressRecorder windows;
    FirmwareUpdate update(link, clock, &windows);
    EXPECT_EQ(update.CheckUnit(files.image, c.firmware), c.result);
    EXPECT_EQ(link.sent.find('F') != std::string::npos, c.updated);
    EXPECT_EQ(windows.opened, c.updated ? 1 : 0);
    EXPECT_EQ(windows.open, 0);
    if (!c.logLine.empty()) {
      EXPECT_EQ(log.LogCount(c.logLine), 1u);
    }
  }
}

TEST(FirmwareUpdate, EachFailureEndsTheUpdateAndReleasesTheWindow) {
  const struct {
    const char* name;
    Unit unit;
    std::vector<int> blocks;
    std::wstring logLine;  // the last module-log line
    int64_t minimumMs;     // time the update took at least
    size_t imageBytes = 300;
    size_t maxExchangesWhileGone = 0;  // checked when not 0
  } cases[] = {
      {"no bootloader",
       {.entersBootloader = false},
       {},
       L"!!! Nano Driver: failed to change to bootloader mode during patching",
       20000},
      {"erase not acknowledged",
       {.acksErase = false},
       {},
       L" Nano Driver: updating wrist unit firmware image to ViveZore.V2.1.1.0.xml",
       2000},
      {"block without reply", {.silentBlock = 1}, {0, 1}, L"", 10000},
      {"block refused", {.refusedBlock = 2}, {0, 1, 2}, L"", 0},
      {"no restart",
       {.restarts = false},
       {0, 1, 2},
       L"  !!! Nano Driver: Wrist unit Reboot didn't complete successfully",
       40000},
      {"same block wanted again and again",
       {.alwaysWanted = 1},
       {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
       L"  !!! Nano Driver: packet order errors do not stop (11 so far, block 1 wanted 11 times in "
       L"a row); update abandoned",
       0,
       2000},
      {"more resynchronisations than blocks",
       {.restartsFromZero = true},
       {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2},
       L"  !!! Nano Driver: packet order errors do not stop (4 so far, block 0 wanted 4 times in "
       L"a row); update abandoned",
       0},
      {"a block beyond the image wanted",
       {.orderBlock = 1, .orderWanted = 3},
       {0, 1},
       L"  !!! Nano Driver: the wrist unit wants block 3 of an image of 3 blocks; update abandoned",
       0},
      // Every failed query waits its time-out, so the vanished port is tried
      // about once a second, not in a tight loop, until the erase's budget
      // is spent; the first block then fails.
      {"port gone during the erase",
       {.portGoneAfterErase = true},
       {},
       L" Nano Driver: erase complete. Transferring 3 image blocks",
       50000,
       300,
       60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    corvane::testing::LogCapture log;
    FakeClock clock;
    ImageFolder files(Pattern(c.imageBytes));
    files.image.Load(kHardware);
    FakeLink link(c.unit, clock, static_cast<uint32_t>((c.imageBytes + 127) / 128));
    corvane::testing::ProgressRecorder windows;
    FirmwareUpdate update(link, clock, &windows);
    const int64_t start = clock.now;
    EXPECT_FALSE(update.Run(files.image));
    EXPECT_GE(clock.now - start, c.minimumMs);
    if (c.maxExchangesWhileGone != 0) {
      EXPECT_GT(link.exchangesWhileGone, 0u);
      EXPECT_LE(link.exchangesWhileGone, c.maxExchangesWhileGone);
      EXPECT_LT(clock.now - start, c.minimumMs + 5000) << "the budget holds";
    }
    EXPECT_EQ(link.blocks, c.blocks);
    EXPECT_EQ(windows.opened, 1);
    EXPECT_EQ(windows.open, 0);
    EXPECT_EQ(log.LogCount(L"Image update complete"), 0u);
    EXPECT_EQ(std::count(windows.percents.begin(), windows.percents.end(), 100), 0);
    if (!c.logLine.empty()) {
      EXPECT_EQ(log.Log().back(), c.logLine);
    }
  }
}

}  // namespace
