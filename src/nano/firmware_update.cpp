#include "nano/firmware_update.h"

#include <algorithm>
#include <array>
#include <string>

#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane {

namespace nano {

NanoMessage MakeErase(uint32_t declaredLength, uint8_t checksum) {
  const uint32_t marked = kEraseMarker | checksum;
  std::array<uint8_t, 8> payload{};
  for (size_t i = 0; i < 4; ++i) {
    payload[i] = static_cast<uint8_t>(declaredLength >> (8 * i));
    payload[4 + i] = static_cast<uint8_t>(marked >> (8 * i));
  }
  return NanoMessage(kErase, payload);
}

NanoMessage MakeBlock(const FirmwareImage::Block& block) { return NanoMessage(kBlock, block); }

BlockNack DecodeBlockNack(const NanoMessage& nack) {
  std::array<uint8_t, 5> bytes{};
  std::copy_n(nack.Payload(), std::min(nack.PayloadLength(), bytes.size()), bytes.begin());
  BlockNack decoded;
  decoded.error = bytes[0];
  decoded.wanted = static_cast<uint16_t>(bytes[1] | bytes[2] << 8);
  decoded.received = static_cast<uint16_t>(bytes[3] | bytes[4] << 8);
  return decoded;
}

}  // namespace nano

namespace {

constexpr wchar_t kWindowTitle[] = L"Updating Vive Zore wrist unit";
constexpr wchar_t kTextEntering[] = L"Entering update mode";
constexpr wchar_t kTextPreparing[] = L"Preparing for update";
constexpr wchar_t kTextTransferring[] = L"Transferring new image";
constexpr wchar_t kTextRestarting[] = L"Restarting Vive Zore";

constexpr uint8_t kNormalMode = 1;
constexpr uint32_t kBusyPollMs = 30;
constexpr uint32_t kModePollMs = 50;
constexpr uint32_t kEraseSettleMs = 1000;
constexpr uint32_t kBlockPauseMs = 50;
constexpr uint32_t kRestartSettleMs = 500;
constexpr uint32_t kRestartPollMs = 1000;

// Progress bar shares of the four phases.
constexpr int32_t kEnterBase = 0;
constexpr int32_t kEnterSpan = 10;
constexpr int32_t kEraseBase = 10;
constexpr int32_t kEraseSpan = 40;
constexpr int32_t kTransferBase = 50;
constexpr int32_t kTransferSpan = 25;
constexpr int32_t kRestartBase = 75;
constexpr int32_t kRestartSpan = 25;
constexpr int32_t kDone = 100;

void Log(const std::wstring& line) { MVX::ModuleLog::Write(line); }

bool InBootloader(const std::optional<nano::ModeFrame>& mode) {
  return mode.has_value() && mode->mode == nano::kDeviceModeBootloader;
}

bool SendVersionRequest(UpdateLink& link) {
  NanoMessage request = nano::MakeVersionRequest(nano::kVersionFirmware);
  return link.SendAndWait(request, FirmwareUpdate::kQueryTimeoutMs);
}

}  // namespace

FirmwareUpdate::FirmwareUpdate(UpdateLink& link, const LinkClock& clock,
                               MVX::ProgressWindows* windows)
    : mLink(link), mClock(clock), mWindows(windows), mTimer(0, clock) {}

bool FirmwareUpdate::CheckUnit(FirmwareImage& image, const UnitFirmware& unit) {
  image.Load(unit.hardwareId);
  // No reply to this first query says nothing about the bootloader: the unit
  // answered the version request, so it is taken as running normally.
  const bool inBootloader = InBootloader(QueryMode(kQueryTimeoutMs));
  if (!inBootloader) return !image.NeedsUpdate(unit.version) || Run(image);
  if (!image.IsLoaded()) {
    // Erasing without data to write would leave the unit with no program.
    Log(L"!!! Nano Driver: the wrist unit waits in its bootloader and no firmware image is "
        L"installed");
    return false;
  }
  return Run(image);
}

bool FirmwareUpdate::Run(FirmwareImage& image) {
  if (!image.IsLoaded()) return false;
  mWindow = mWindows != nullptr ? mWindows->Open(kWindowTitle, kTextEntering) : nullptr;
  const bool done = EnterBootloader() && Erase(image) && Transfer(image) && Restart();
  if (done) ShowProgress(kDone);
  mWindow.reset();
  return done;
}

bool FirmwareUpdate::EnterBootloader() {
  mTimer.SetPeriod(kEnterBudgetMs);
  std::optional<nano::ModeFrame> mode = QueryMode(kQueryTimeoutMs);
  while (mode && mode->busy != 0 && !mTimer.Elapsed()) {
    mClock.SleepMs(kBusyPollMs);
    ShowTimedProgress(kEnterBase, kEnterSpan);
    mode = QueryMode(kQueryTimeoutMs);
  }
  if (InBootloader(mode)) return true;

  NanoMessage update = nano::MakeUpdateRequest();
  mLink.SendAndWait(update, kQueryTimeoutMs);
  mLink.StartMeasurement(nano::kEventBootloader);
  mClock.SleepMs(kModePollMs);
  while (!mTimer.Elapsed()) {
    mClock.SleepMs(kModePollMs);
    if (InBootloader(QueryMode(kQueryTimeoutMs))) break;
    ShowTimedProgress(kEnterBase, kEnterSpan);
  }
  if (InBootloader(QueryMode(kQueryTimeoutMs))) return true;
  Log(L"!!! Nano Driver: failed to change to bootloader mode during patching");
  return false;
}

bool FirmwareUpdate::Erase(const FirmwareImage& image) {
  ShowProgress(kEraseBase);
  ShowText(kTextPreparing);
  Log(L" Nano Driver: updating wrist unit firmware image to " + image.FileName());
  NanoMessage erase = nano::MakeErase(image.DeclaredLength(), image.Checksum());
  if (!mLink.SendAndWait(erase, kEraseAckTimeoutMs)) return false;

  mClock.SleepMs(kEraseSettleMs);
  mTimer.SetPeriod(kEraseBudgetMs);
  while (!mTimer.Elapsed()) {
    ShowTimedProgress(kEraseBase, kEraseSpan);
    const std::optional<nano::ModeFrame> mode = QueryMode(kEraseQueryTimeoutMs);
    if (!mode) continue;
    if (mode->busy == 0 && (mode->eraseState == 1 || mode->eraseState == 2)) break;
    mClock.SleepMs(kModePollMs);
  }
  // An erase that did not finish in time is not fatal: the blocks show it.
  return true;
}

bool FirmwareUpdate::Transfer(FirmwareImage& image) {
  const uint32_t count = image.BlockCount();
  const uint32_t total = count - image.BlockCursor();
  ShowText(kTextTransferring);
  Log(L" Nano Driver: erase complete. Transferring " + std::to_wstring(total) + L" image blocks");

  // A working unit asks for a block again only now and then; one that keeps
  // asking would hold the thread for ever.
  uint32_t resyncs = 0;
  uint32_t sameWanted = 0;
  uint32_t lastWanted = 0;
  FirmwareImage::Block block{};
  while (image.NextBlock(block)) {
    NanoMessage message = nano::MakeBlock(block);
    if (mLink.SendAndWait(message, kBlockTimeoutMs)) {
      mClock.SleepMs(kBlockPauseMs);
      const uint32_t remaining = count - image.BlockCursor();
      ShowProgress(kTransferBase +
                   static_cast<int32_t>(uint64_t{kTransferSpan} * (total - remaining) / total));
      continue;
    }
    if (!message.IsNack()) return false;
    const nano::BlockNack nack = nano::DecodeBlockNack(message);
    if (nack.error != nano::kPacketOrderError) return false;

    const std::wstring numbers =
        std::to_wstring(nack.wanted) + L", got " + std::to_wstring(nack.received);
    MVX_TRACE(MVX::kUnitNanoDriver, L"  !!! Packet order error: wanted " + numbers);
    Log(L"  !!! Nano Driver: Packet order error: wanted " + numbers);
    sameWanted = (resyncs > 0 && nack.wanted == lastWanted) ? sameWanted + 1 : 1;
    lastWanted = nack.wanted;
    ++resyncs;
    if (nack.wanted >= count) {
      Log(L"  !!! Nano Driver: the wrist unit wants block " + std::to_wstring(nack.wanted) +
          L" of an image of " + std::to_wstring(count) + L" blocks; update abandoned");
      return false;
    }
    if (sameWanted > kMaxSameBlockWanted || resyncs > count) {
      Log(L"  !!! Nano Driver: packet order errors do not stop (" + std::to_wstring(resyncs) +
          L" so far, block " + std::to_wstring(nack.wanted) + L" wanted " +
          std::to_wstring(sameWanted) + L" times in a row); update abandoned");
      return false;
    }
    image.SetBlockCursor(nack.wanted);
  }
  return true;
}

bool FirmwareUpdate::Restart() {
  // The unit restarts by itself after the last block.
  Log(L" Nano Driver: transfer complete. Rebooting wrist unit");
  mClock.SleepMs(kRestartSettleMs);
  mTimer.SetPeriod(kRestartBudgetMs);
  ShowText(kTextRestarting);
  while (!mTimer.Elapsed()) {
    mClock.SleepMs(kRestartPollMs);
    ShowTimedProgress(kRestartBase, kRestartSpan);
    if (SendVersionRequest(mLink)) break;
  }
  const std::optional<nano::ModeFrame> mode = QueryMode(kQueryTimeoutMs);
  if (mode && mode->busy == 0 && mode->mode == kNormalMode) {
    Log(L" Nano Driver: Image update complete and wrist unit rebooted");
    return true;
  }
  Log(L"  !!! Nano Driver: Wrist unit Reboot didn't complete successfully");
  return false;
}

std::optional<nano::ModeFrame> FirmwareUpdate::QueryMode(uint32_t timeoutMs) {
  const int64_t asked = mClock.NowMs();
  std::optional<nano::ModeFrame> mode = mLink.QueryMode(timeoutMs);
  if (!mode) {
    const int64_t pace = std::max<int64_t>(timeoutMs, kFailedQueryPaceMs);
    const int64_t spent = mClock.NowMs() - asked;
    if (spent < pace) mClock.SleepMs(static_cast<uint32_t>(pace - spent));
  }
  return mode;
}

// A phase's time running out shows one short of its share: the bar reaches
// the next phase's mark, and 100, only when the step has really happened.
void FirmwareUpdate::ShowTimedProgress(int32_t base, int32_t span) {
  const double period = static_cast<double>(mTimer.Period());
  const double remaining = static_cast<double>(std::max<int64_t>(0, mTimer.Remaining()));
  const auto share = static_cast<int32_t>(span * (period - remaining) / period);
  ShowProgress(base + std::min(share, span - 1));
}

void FirmwareUpdate::ShowProgress(int32_t percent) {
  if (mWindow) mWindow->SetProgress(percent);
}

void FirmwareUpdate::ShowText(std::wstring_view text) {
  if (mWindow) mWindow->SetText(text);
}

}  // namespace corvane
