#include "engine/dms_wrapper.h"

#include <algorithm>

#include "api/finapres_dll_driver.h"
#include "platform/time.h"
#include "support/debug_trace.h"
#include "support/module_log.h"

namespace corvane {

DMSWrapper* gEngine = nullptr;

namespace {

constexpr uint32_t kIdleWaitMs = 20;
// Free reply space, after a reply, that ends an overflow episode.
constexpr int32_t kEpisodeEndFreeBytes = static_cast<int32_t>(RingBuffer::kSize / 4);

// How close the reply ring has come to overflowing, over the module's life.
std::atomic<int32_t> gReplySpaceLowWater{static_cast<int32_t>(RingBuffer::kSize)};
// Replies dropped because the reply ring was full, over the module's life.
std::atomic<uint64_t> gDroppedReplies{0};

std::unique_ptr<FinapresAPI_I> DefaultProbe() { return ProbeBackEnd(); }

// Why the engine has no device: the library's load failure when there was
// one, else what the library answered to its connect, else that nothing
// answered.
MVXString NoDeviceReason() {
  const MVXString& loadFailure = LibraryLoadFailureText();
  if (!loadFailure.empty()) return loadFailure;
  const int32_t connect = LibraryConnectResult();
  if (connect != kNoLibraryConnect && connect != dmsError_NoError && connect != dmsError_Online) {
    return ConnectFailureText(connect);
  }
  return L"No Corvane device answered. Please make sure the device is plugged in and turned on.";
}

}  // namespace

DMSWrapper::DMSWrapper(const BackEndProbe& probe, const MVX::Clock& clock)
    : mClock(&clock),
      mStartupTimer(0, clock),
      mDevice(probe ? probe() : DefaultProbe()),
      mSampleCollector(mDevice),
      mCuffSwitchTimer(kDefaultCuffSwitchMs, clock) {
  mStartupTimer.SetStart(0);
  for (const wchar_t* name : {kFlagNeedWarning, kFlagUseComments, kFlagEnableCuffSwitching,
                              kFlagEnforceHCU, kFlagPhysioCalOn}) {
    mFlags[name] = true;
  }
  if (mDevice == nullptr || !mDevice->LoadedOk()) {
    // Inert: no worker. Keep the reason for the user (see InertReason), and
    // leave it in the host's log, where it outlives the error dialog.
    mLastError = NoDeviceReason();
    MVX::ModuleLog::Write(kLogNoDevice + mLastError);
    return;
  }
  if (const uint32_t delay = mDevice->GetStartupDelayMs(); delay != 0) {
    mStartupTimer.SetPeriod(delay);
  }
  mWakeEvent.emplace();
  mAlive.store(true, std::memory_order_release);
  Start();
}

DMSWrapper::~DMSWrapper() {
  if (GetState() == kRunning) {
    RequestStop();
    if (GetState() == kRunning) WaitForEnd();
  }
  WaitForEnd();
  // An episode still open ends with the engine; the trace only, since this
  // can run while the module is being unloaded, when the host's log service
  // must not be called.
  if (mDroppedInEpisode != 0) {
    MVX_TRACE(MVX::kUnitDMSWrapper, kTraceReplyRingRoomAgain + std::to_wstring(mDroppedInEpisode));
  }
  mWakeEvent.reset();
  if (gEngine == this) gEngine = nullptr;
}

void DMSWrapper::Wake() {
  if (mWakeEvent) mWakeEvent->Set();
}

bool DMSWrapper::Flag(const wchar_t* name) const {
  const auto it = mFlags.find(name);
  return it != mFlags.end() && it->second;
}

void DMSWrapper::Run() {
  for (;;) {
    bool busy = false;
    if (!ProcessCommands(busy) || !PollDevice(busy)) {
      if (Flag(kFlagIsSampling)) StopSampling();
      mAlive.store(false, std::memory_order_release);
      RequestStop();
      return;
    }
    if (!busy) mWakeEvent->Wait(kIdleWaitMs);
    if (StopRequested()) {
      DisconnectAtEnd();
      return;
    }
  }
}

void DMSWrapper::DisconnectAtEnd() {
  // A stop request can overtake the host's ">dev/exit": the exchange ends
  // early when a data line written meanwhile is read as its reply, and the
  // worker then stops before it takes the command. It must not leave the
  // device connected all the same.
  if (mConnectResult == kConnectResultDisconnected) return;
  MVX_TRACE(MVX::kUnitDMSWrapper, L"--- Disconnecting at the worker's end");
  mDevice->DMS_Disconnect();
  mConnectResult = kConnectResultDisconnected;
}

bool DMSWrapper::TakeCommandLine() {
  if (mSkippingLongLine) {
    // The rest of an over-long line: drop it up to its line feed.
    if (mCommandRing.DiscardLine() == 0) {
      mCommandRing.DiscardAll();
      return false;
    }
    mSkippingLongLine = false;
    mLastError = L"Invalid command";
    SendReply(kReplyInvalid);
    return false;
  }
  mCommandLineLength =
      static_cast<int32_t>(mCommandRing.ReadLine(mCommandLine.data(), kCommandLineSize));
  if (mCommandLineLength != 0) return true;
  if (mCommandRing.Waiting() >= kCommandLineSize) {
    // No line feed within the longest line there can be: the line is too
    // long to deliver. Drop it rather than block every later line.
    MVX_TRACE(MVX::kUnitDMSWrapper, L"!!! Command line too long, discarded");
    if (mCommandRing.DiscardLine() == 0) {
      mCommandRing.DiscardAll();
      mSkippingLongLine = true;
      return false;
    }
    mLastError = L"Invalid command";
    SendReply(kReplyInvalid);
  }
  return false;
}

bool DMSWrapper::ProcessCommands(bool& busy) {
  if (mStartupTimer.Remaining() > 0) return true;
  if (mCommandLineLength == 0 && !TakeCommandLine()) {
    if (!mCommandRing.Empty()) busy = true;
    return true;
  }
  const bool result = InterpretLine(MVXString::FromAnsi(mCommandLine.data()));
  if (!mCommandRing.Empty()) busy = true;
  mCommandLineLength = 0;
  return result;
}

int32_t DMSWrapper::QueueCommand(MVXString& line) {
  if (mDevice == nullptr || !mDevice->LoadedOk()) {
    MVX_TRACE(MVX::kUnitDMSWrapper, L"!!! ! mDevice->LoadedOk()");
    return 0;
  }
  const std::string bytes = line.ToUtf8();
  const uint32_t n = std::min(static_cast<uint32_t>(bytes.size()), mCommandRing.FreeSpace());
  const uint32_t written = mCommandRing.Write(bytes.data(), n);
  if (written == 0) return 0;
  // Remove the characters whose bytes went into the ring; the rest stays with
  // the caller. Counted in UTF-8 bytes, which for command lines (ASCII) are
  // characters.
  line.erase(0, std::min<size_t>(written, line.size()));
  Wake();
  platform::YieldThread();
  return static_cast<int32_t>(written);
}

int32_t DMSWrapper::SendReply(const MVXString& reply) {
  return WriteReplies(MVXString(reply + L"\n").ToUtf8(), 1);
}

int32_t DMSWrapper::SendReplies(std::span<const MVXString> replies) {
  if (replies.empty()) return 0;
  std::string bytes;
  for (const MVXString& reply : replies) bytes += MVXString(reply + L"\n").ToUtf8();
  return WriteReplies(bytes, replies.size());
}

int32_t DMSWrapper::WriteReplies(const std::string& bytes, size_t lines) {
  // More than the ring holds can never fit; the cap keeps the count in range.
  const auto length = static_cast<int32_t>(std::min<size_t>(bytes.size(), RingBuffer::kSize));
  const auto free = static_cast<int32_t>(RingBuffer::kCapacity - mReplyRing.Waiting());
  if (free - length < gReplySpaceLowWater.load()) {
    gReplySpaceLowWater.store(free - length);
    MVX_TRACE(MVX::kUnitDMSWrapper,
              L"--- DMSWrapper::SendReply reply space drops to " + std::to_wstring(free - length));
    platform::YieldThread();
  }
  // Whole replies only: a cut reply would lose its line feed and run into the
  // next line, corrupting both. Lines that must go together go all or none.
  if (length > free) {
    for (size_t i = 0; i < lines; ++i) NoteDroppedReply();
    return 0;
  }
  if (free - length >= kEpisodeEndFreeBytes) EndDropEpisode();
  const uint32_t written = mReplyRing.Write(bytes.data(), static_cast<uint32_t>(length));
  mReplyWritten.Set();
  return static_cast<int32_t>(written);
}

// An episode is the run of replies dropped while the host does not read. Its
// first drop and its end each leave one trace line and one log line, however
// long it lasts, so that a host that stopped reading for minutes does not
// also flood the trace. It ends only once the host has made real room: a
// host that reads just as fast as lines come keeps the ring at the brim, and
// each line it takes would otherwise end one episode and start the next.
void DMSWrapper::NoteDroppedReply() {
  gDroppedReplies.fetch_add(1, std::memory_order_relaxed);
  if (mDroppedInEpisode++ != 0) return;
  MVX_TRACE(MVX::kUnitDMSWrapper, kTraceReplyRingFull);
  MVX::ModuleLog::Write(kLogReplyRingFull);
}

void DMSWrapper::EndDropEpisode() {
  if (mDroppedInEpisode == 0) return;
  const std::wstring count = std::to_wstring(mDroppedInEpisode);
  mDroppedInEpisode = 0;
  MVX_TRACE(MVX::kUnitDMSWrapper, kTraceReplyRingRoomAgain + count);
  MVX::ModuleLog::Write(kLogRepliesDropped + count);
}

uint64_t DMSWrapper::DroppedReplies() { return gDroppedReplies.load(std::memory_order_relaxed); }

}  // namespace corvane
