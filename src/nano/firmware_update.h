// The wrist unit's firmware update over its serial link, and the search's
// decision whether a unit that answered needs one.
//
// The update brings the unit into its bootloader (mode 7), erases its program
// memory, sends the image in numbered 128-byte blocks (going back to the block
// the unit asks for when it reports one out of order) and waits for the unit
// to restart in its normal mode. A progress window of the host shows how far
// it has got. Every wait goes through the link's clock, so tests run the
// minutes-long time-outs in milliseconds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "nano/firmware_image.h"
#include "nano/link_clock.h"
#include "nano/nano_catalogue.h"
#include "nano/nano_message.h"
#include "support/interval_timer.h"
#include "support/progress_window.h"

namespace corvane {

namespace nano {

inline constexpr uint8_t kErase = 'F';
inline constexpr uint8_t kBlock = 'B';
// Nack error of a block that came out of order.
inline constexpr uint8_t kPacketOrderError = 1;
// The erase command's second word: this marker OR the image's checksum byte.
inline constexpr uint32_t kEraseMarker = 0xBEEF0000u;

// 'F': declared length, then kEraseMarker | checksum, both little-endian.
NanoMessage MakeErase(uint32_t declaredLength, uint8_t checksum);
// 'B': one block as FirmwareImage::NextBlock cuts it (number, then data).
NanoMessage MakeBlock(const FirmwareImage::Block& block);

// The payload of a block's Nack.
struct BlockNack {
  uint8_t error = 0;      // kPacketOrderError or another device error
  uint16_t wanted = 0;    // the block the unit wants next
  uint16_t received = 0;  // the block it got
};
// Zero beyond what the Nack carries.
BlockNack DecodeBlockNack(const NanoMessage& nack);

}  // namespace nano

// What the update needs of the driver's link; the driver implements it.
class UpdateLink {
 public:
  virtual ~UpdateLink() = default;
  // Sends `message` and waits up to `timeoutMs` for the reply of its letter:
  // true on it. On false, `message` holds the unit's Nack when one came back
  // (IsNack() tells), else anything that is not a Nack.
  virtual bool SendAndWait(NanoMessage& message, uint32_t timeoutMs) = 0;
  // The mode query ('m'): the fields of the reply, or nothing without one.
  virtual std::optional<nano::ModeFrame> QueryMode(uint32_t timeoutMs) = 0;
  // 'e' with `subCommand`, as the device API starts a measurement.
  virtual void StartMeasurement(uint8_t subCommand) = 0;
};

// What the unit's version reply tells, as far as the update uses it.
struct UnitFirmware {
  uint16_t hardwareId = 0;  // from any version record; 0 from one of zeros
  FirmwareVersion version;  // the running program's; 0.0.0.0 when not told
};

class FirmwareUpdate {
 public:
  static constexpr uint32_t kQueryTimeoutMs = 100;
  static constexpr int64_t kEnterBudgetMs = 20000;
  static constexpr uint32_t kEraseAckTimeoutMs = 2000;
  static constexpr int64_t kEraseBudgetMs = 50000;
  static constexpr uint32_t kEraseQueryTimeoutMs = 1000;
  static constexpr uint32_t kBlockTimeoutMs = 10000;
  static constexpr int64_t kRestartBudgetMs = 40000;
  // A unit that keeps asking for the same block more often than this in a
  // row will not take the image.
  static constexpr uint32_t kMaxSameBlockWanted = 10;
  // A mode query that got no answer, the unit silent or its port gone,
  // takes at least this long before the next, so that a vanished port is
  // not reopened in a tight loop.
  static constexpr uint32_t kFailedQueryPaceMs = 200;

  // `windows` null: no progress window.
  FirmwareUpdate(UpdateLink& link, const LinkClock& clock, MVX::ProgressWindows* windows);

  // The search's step after a unit answered the version request: loads
  // `image` for the unit's hardware, asks for the mode and updates the unit
  // when it waits in its bootloader or the image calls for it. An image for
  // other hardware is never written. True when the unit can be used.
  bool CheckUnit(FirmwareImage& image, const UnitFirmware& unit);

  // The four phases with a loaded image; true when the unit restarted.
  bool Run(FirmwareImage& image);

 private:
  bool EnterBootloader();
  bool Erase(const FirmwareImage& image);
  bool Transfer(FirmwareImage& image);
  bool Restart();
  // The link's mode query, paced when it fails (kFailedQueryPaceMs).
  std::optional<nano::ModeFrame> QueryMode(uint32_t timeoutMs);
  // base + span * elapsed share of the timer's period.
  void ShowTimedProgress(int32_t base, int32_t span);
  void ShowProgress(int32_t percent);
  void ShowText(std::wstring_view text);

  UpdateLink& mLink;
  const LinkClock& mClock;
  MVX::ProgressWindows* mWindows;                // null: none
  std::unique_ptr<MVX::ProgressWindow> mWindow;  // open during Run only
  MVX::IntervalTimer mTimer;                     // the timed phase's budget
};

}  // namespace corvane
