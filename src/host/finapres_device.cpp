#include "host/finapres_device.h"

#include <algorithm>
#include <cstring>

#include "engine/dms_wrapper.h"
#include "platform/time.h"

namespace corvane {

FinapresDevice* gDevice = nullptr;
FinapresDevice* gLastFound = nullptr;

namespace {

constexpr uint32_t kReplyPollMs = 10;

// The reply buffer of ReadReply; host calls come from one thread at a time.
char gReplyBuffer[FinapresDevice::kReplyBufferSize];

bool EngineRunning(DMSWrapper& engine) { return engine.IsRunning(); }

}  // namespace

DMSWrapper& EnsureEngine() {
  if (gEngine == nullptr) gEngine = new DMSWrapper();
  return *gEngine;
}

FinapresDevice::FinapresDevice() { gLastFound = this; }

FinapresDevice::~FinapresDevice() {
  gLastFound = nullptr;
  DMSWrapper& engine = EnsureEngine();
  if (EngineRunning(engine)) engine.ReplyRing().DiscardAll();
  SendCommand(L">dev/exit");
  if (gEngine != nullptr) {
    DMSWrapper* dying = gEngine;
    dying->RequestStop();
    if (dying->IsRunning()) dying->WaitForEnd();
    delete dying;
    gEngine = nullptr;
  }
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
