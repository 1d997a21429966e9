// The acquisition engine: one object per process that owns the device
// back-end, a worker thread, and the two rings through which command lines
// come in and reply and data lines go out.
//
// Threads: host threads call QueueCommand and read mReplyRing; the worker
// thread does everything else. Members other than the rings, mAlive and the
// thread state are touched by the worker only (and by the constructing thread
// before the worker exists).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "api/finapres_api_i.h"
#include "engine/ring_buffer.h"
#include "engine/sample_collector.h"
#include "platform/event.h"
#include "support/interval_timer.h"
#include "support/mvx_string.h"
#include "support/thread.h"

namespace corvane {

using MVX::MVXString;

// Fixed reply texts of the text protocol.
inline constexpr wchar_t kReplyOK[] = L"<OK";
inline constexpr wchar_t kReplyFail[] = L"<Fail";
inline constexpr wchar_t kReplyInvalid[] = L"^Invalid command";
inline constexpr wchar_t kReplyCommError[] =
    L"^A device communication error has occurred. Please power-cycle the Corvane device and "
    L"relaunch Kymoview.";
inline constexpr wchar_t kReplyYes[] = L"=1";
inline constexpr wchar_t kReplyNo[] = L"=0";

// Module log text of an engine without a usable device, followed by the
// reason that the user is shown.
inline constexpr wchar_t kLogNoDevice[] = L"!!! DMSWrapper: no usable device: ";

// Trace and module log texts of a reply ring that overflows because the host
// stopped reading; the end texts are followed by the number dropped.
inline constexpr wchar_t kTraceReplyRingFull[] =
    L"!!! DMSWrapper::SendReply reply ring full, dropping whole replies";
inline constexpr wchar_t kTraceReplyRingRoomAgain[] =
    L"--- DMSWrapper::SendReply reply ring has room again, replies dropped: ";
inline constexpr wchar_t kLogReplyRingFull[] =
    L"!!! DMSWrapper: host stopped reading; reply and data lines are being dropped";
inline constexpr wchar_t kLogRepliesDropped[] =
    L"!!! DMSWrapper: reply and data lines dropped while the host was not reading: ";

// Names in the engine's flag map.
inline constexpr wchar_t kFlagNeedWarning[] = L"NeedWarning";
inline constexpr wchar_t kFlagUseComments[] = L"UseComments";
inline constexpr wchar_t kFlagEnableCuffSwitching[] = L"EnableCuffSwitching";
inline constexpr wchar_t kFlagEnforceHCU[] = L"EnforceHCU";
inline constexpr wchar_t kFlagPhysioCalOn[] = L"PhysioCalOn";
inline constexpr wchar_t kFlagCntKVSamplingOn[] = L"CntKVSamplingOn";
inline constexpr wchar_t kFlagZeroFailed[] = L"ZeroFailed";
inline constexpr wchar_t kFlagIsSampling[] = L"IsSampling";

// How the engine finds its back-end; the module uses ProbeBackEnd.
using BackEndProbe = std::function<std::unique_ptr<FinapresAPI_I>()>;

class DMSWrapper : public MVX::Thread {
 public:
  static constexpr uint32_t kCommandLineSize = 2048;
  static constexpr int64_t kDefaultCuffSwitchMs = 900000;  // 15 minutes
  static constexpr int32_t kConnectResultDisconnected = 5;

  // Probes for a back-end on the calling thread and, when one is usable,
  // starts the worker. `clock` drives every engine timer (tests pass their own).
  explicit DMSWrapper(const BackEndProbe& probe = BackEndProbe(),
                      const MVX::Clock& clock = MVX::SystemClock());
  ~DMSWrapper() override;

  // Host side.
  // Queues `line` (which already ends in "\n") and removes the queued part
  // from it; returns the bytes queued, 0 when refused.
  int32_t QueueCommand(MVXString& line);
  RingBuffer& ReplyRing() { return mReplyRing; }
  void Wake();
  // The worker signals every line it writes to the reply ring. A host that
  // found nothing to read clears the signal, looks once more, and then waits
  // for the next write instead of polling.
  void ClearReplySignal() { mReplyWritten.Reset(); }
  bool WaitForReply(uint32_t timeoutMs) { return mReplyWritten.Wait(timeoutMs); }
  bool IsAlive() const { return mAlive.load(std::memory_order_acquire); }
  // The text that tells the user why an inert engine has no device; only
  // meaningful while the worker is not running.
  const MVXString& InertReason() const { return mLastError; }

  // Worker side.
  void Run() override;
  // Sends one reply line; returns the bytes written, 0 when it did not fit.
  // A reply that does not fit whole is dropped and counted.
  int32_t SendReply(const MVXString& reply);
  // Sends `replies` together, or, when they do not all fit, drops and counts
  // every one of them; returns the bytes written.
  int32_t SendReplies(std::span<const MVXString> replies);
  // Replies dropped for want of room, over the module's life (any thread).
  static uint64_t DroppedReplies();

  // Flag map: a name that is absent reads as false and is not added.
  bool Flag(const wchar_t* name) const;
  void SetFlag(const wchar_t* name, bool value) { mFlags[name] = value; }

  FinapresAPI_I& Device() { return *mDevice; }
  bool TestEnabled() const { return mTestEnabled; }
  const MVX::Clock& EngineClock() const { return *mClock; }

 private:
  friend class DMSWrapperTestAccess;

  // On a stop request: disconnects a device still connected.
  void DisconnectAtEnd();
  bool ProcessCommands(bool& busy);
  bool TakeCommandLine();
  // Command interpreter.
  bool InterpretLine(const MVXString& line);
  bool HandleDev(MVXString rest);
  bool HandleIn(MVXString rest);
  bool HandleSampler(const MVXString& tail);
  bool HandleSetting(const MVXString& word, const MVXString& parameter);
  void AnswerStartWarning();
  void AnswerArithmetic(const MVXString& word);
  // Device start-up and HCU zeroing.
  void DoInit();
  void ZeroHCU();
  void CheckHCUZero();
  // Sampling control and status monitoring.
  void StartSampling();
  void StopSampling();
  bool PollDevice(bool& busy);
  bool PollWhileSampling(bool& busy);
  bool CheckCuffSwitch();
  bool ReportDeviceError();
  // Counting and reporting of replies dropped on a full reply ring.
  void NoteDroppedReply();
  // Writes `bytes`, which hold `lines` whole replies, all or none.
  int32_t WriteReplies(const std::string& bytes, size_t lines);
  void EndDropEpisode();
  // Reports `code` as ReportDeviceError reports a status error: user message,
  // abort request, stop, log; once until the last-error code is reset.
  void ReportError(int32_t code);
  // Writes "<prefix><long description>" to the trace when `result` is not 0.
  void TraceFailure(const wchar_t* prefix, int32_t result);

  const MVX::Clock* mClock;                           // not owned
  MVX::IntervalTimer mStartupTimer;                   // back-end start-up delay
  std::array<char, kCommandLineSize> mCommandLine{};  // the line in hand, NUL-terminated
  int32_t mCommandLineLength = 0;                     // bytes it took; 0 = none in hand
  bool mSkippingLongLine = false;                     // dropping an over-long line's rest
  std::shared_ptr<FinapresAPI_I> mDevice;             // the back-end; may be null
  SampleCollector mSampleCollector;                   // holds a second reference to mDevice
  int32_t mCuffMode = 0;                              // 2 = switch cuffs, else the cuff
  int32_t mStartCuff = 0;                             // 0 = cuff 1, 1 = cuff 2
  MVX::IntervalTimer mCuffSwitchTimer;                // switching interval
  int32_t mLastCuff = 0;                              // cuff last set or reported
  RingBuffer mCommandRing;                            // host → worker
  RingBuffer mReplyRing;                              // worker → host
  uint32_t mDroppedInEpisode = 0;                     // replies dropped since the ring filled
  std::optional<platform::Event> mWakeEvent;          // auto-reset; wakes the worker
  platform::Event mReplyWritten;                      // set after each reply written
  std::atomic<bool> mAlive{false};                    // usable; answered by "isok"
  std::map<MVXString, bool> mFlags;                   // named switches
  MVXString mLastError;                               // last error text for the user
  int32_t mLastErrorCode = 0;                         // error code last reported
  int32_t mConnectResult = kConnectResultDisconnected;
  int32_t mMeasureMode = kModeMeasure;  // mode for the next start
  int32_t mTestMode = kModeTestSquare;  // selected test mode, 4..6
  bool mTestEnabled = false;            // test mode switched on
};

// What the user is told when the Controller's connect answers `result`
// (neither success nor online).
MVXString ConnectFailureText(int32_t result);

// The module's single engine; null when none exists (see the facade).
extern DMSWrapper* gEngine;

}  // namespace corvane
