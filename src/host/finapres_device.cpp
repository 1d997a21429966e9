#include "host/finapres_device.h"

#include <algorithm>
#include <cstring>

#include "engine/dms_wrapper.h"
#include "platform/process_exit.h"
#include "platform/time.h"

namespace corvane {

FinapresDevice* gDevice = nullptr;
FinapresDevice* gLastFound = nullptr;

namespace {

constexpr uint32_t kReplyPollMs = 10;

// How long an unload waits for the worker to end after the exit exchange: a
// worker that answered ends within a pass; one that did not answer has had
// its 5 s already, and the host must not stay frozen much longer.
constexpr uint32_t kUnloadEndWaitMs = 2000;
constexpr uint32_t kUnloadEndWaitNoAnswerMs = 500;

// Set while CloseForUnload destroys the facade.
bool gUnloading = false;
// Cleared when an unload had to leave a running worker behind.
bool gEngineEnded = true;

// The reply buffer of ReadReply; host calls come from one thread at a time.
char gReplyBuffer[FinapresDevice::kReplyBufferSize];

bool EngineRunning(DMSWrapper& engine) { return engine.IsRunning(); }

}  // namespace

DMSWrapper& EnsureEngine() {
  if (gEngine == nullptr) {
    gEngine = new DMSWrapper();
    // After the engine, so that at exit this comes before the destructors of
    // the vendor library that the engine has loaded.
    platform::RunBeforeStaticsAtExit([] { CloseForUnload(); });
  }
  return *gEngine;
}

FinapresDevice::FinapresDevice() { gLastFound = this; }

FinapresDevice::~FinapresDevice() {
  gLastFound = nullptr;
  // An unload makes no engine just to stop it: with the loader lock held its
  // probe and worker would only stall.
  if (gUnloading && gEngine == nullptr) return;
  DMSWrapper& engine = EnsureEngine();
  if (EngineRunning(engine)) engine.ReplyRing().DiscardAll();
  const bool answered = SendCommand(L">dev/exit");
  if (gEngine == nullptr) return;
  DMSWrapper* dying = gEngine;
  dying->RequestStop();
  uint32_t wait = MVX::Thread::kWaitForever;
  if (gUnloading) wait = answered ? kUnloadEndWaitMs : kUnloadEndWaitNoAnswerMs;
  if (!dying->WaitForEnd(wait)) {
    gEngineEnded = false;
    return;
  }
  delete dying;
  gEngine = nullptr;
}

bool CloseForUnload() {
  // The engine alone (InitOnMainThread without FindDevice) holds a connection
  // and a worker too: a facade made for the purpose says goodbye for it.
  if (gDevice == nullptr && gEngine != nullptr) gDevice = new FinapresDevice();
  gUnloading = true;
  gEngineEnded = true;
  delete gDevice;
  gDevice = nullptr;
  gUnloading = false;
  return gEngineEnded;
}

bool FinapresDevice::ReadLine(char* buffer, int size) {
  DMSWrapper& engine = EnsureEngine();
  if (!EngineRunning(engine)) return false;
  engine.Wake();
  platform::YieldThread();
  return engine.ReplyRing().ReadLine(buffer, static_cast<uint32_t>(std::max(size, 0))) != 0;
}

int FinapresDevice::ReadBuffSize() {
  DMSWrapper& engine = EnsureEngine();
  if (!EngineRunning(engine)) return 0;
  engine.Wake();
  platform::YieldThread();
  return static_cast<int>(engine.ReplyRing().Waiting());
}

void FinapresDevice::FlushReadBuffer() {
  DMSWrapper& engine = EnsureEngine();
  if (EngineRunning(engine)) engine.ReplyRing().DiscardAll();
}

int FinapresDevice::WriteBuffer(const char* text, int /*length*/) {
  DMSWrapper& engine = EnsureEngine();
  MVX::MVXString line = MVX::MVXString::FromAnsi(text != nullptr ? text : "");
  if (!EngineRunning(engine)) return 0;
  return engine.QueueCommand(line);
}

bool FinapresDevice::Initialise() {
  EnsureEngine();
  FlushReadBuffer();
  return SendCommand(L">dev/init");
}

bool FinapresDevice::IsFailed() {
  DMSWrapper& engine = EnsureEngine();
  return !(EngineRunning(engine) && engine.IsAlive());
}

bool FinapresDevice::SendCommand(const MVX::MVXString& command) {
  DMSWrapper& engine = EnsureEngine();
  MVX::MVXString line = command + L"\n";
  if (!EngineRunning(engine) || engine.QueueCommand(line) == 0) return false;
  return ReadReply() == L"<OK";
}

bool FinapresDevice::Query(const MVX::MVXString& command, MVX::MVXString& out) {
  DMSWrapper& engine = EnsureEngine();
  MVX::MVXString line = command + L"\n";
  if (!EngineRunning(engine) || engine.QueueCommand(line) == 0) return false;
  out = ReadReply();
  if (out.empty() || out[0] != L'=') return false;
  out.erase(0, 1);
  return true;
}

MVX::MVXString FinapresDevice::ReadReply() {
  const uint64_t start = platform::SystemTimeAsFileTime() / 10000u;
  for (;;) {
    if (ReadLine(gReplyBuffer, kReplyBufferSize)) return MVX::MVXString::FromAnsi(gReplyBuffer);
    if (platform::SystemTimeAsFileTime() / 10000u - start >= kReplyTimeoutMs) return {};
    platform::SleepMs(kReplyPollMs);
  }
}

bool FinapresDevice::GetUniqueID(uint32_t* id) {
  EnsureEngine();
  if (mUniqueID != 0) {
    *id = mUniqueID;
    return true;
  }
  FlushReadBuffer();
  if (!Query(L"?dev/serialnum", mSerialNumber)) return false;
  for (const wchar_t c : mSerialNumber) {
    mUniqueID = mUniqueID * 42u - 48u + static_cast<uint32_t>(c);
  }
  *id = mUniqueID;
  return mUniqueID != 0;
}

int FinapresDevice::GetLastErrorMsg(char* buffer) {
  DMSWrapper& engine = EnsureEngine();
  if (mLastErrorText.empty()) {
    if (!EngineRunning(engine)) {
      // No worker to ask: an engine without a device keeps the reason it
      // found none, and the user must still learn it.
      if (engine.GetState() == MVX::Thread::kNeverStarted) mLastErrorText = engine.InertReason();
      if (mLastErrorText.empty()) return 0;
    } else {
      FlushReadBuffer();
      if (!Query(L"?dev/lasterror", mLastErrorText)) return 0;
    }
  }
  if (buffer == nullptr) return static_cast<int>(mLastErrorText.size() + 1);
  if (mLastErrorText.empty()) return 0;  // nothing to convert; the buffer stays as it was
  bool ok = false;
  const std::string text = mLastErrorText.ToDefaultCodePage(ok);
  std::memcpy(buffer, text.c_str(), std::min(text.size(), mLastErrorText.size()) + 1);
  mLastErrorText.clear();
  return ok ? 1 : 0;
}

}  // namespace corvane
