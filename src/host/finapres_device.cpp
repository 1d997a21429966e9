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

bool FinapresDevice::TakeKeptLine(char* buffer, int size) {
  if (mKeptLines.empty()) return false;
  const std::string& line = mKeptLines.front();
  // As with the ring: a line is delivered only with room for its terminator.
  if (size <= 0 || line.size() >= static_cast<size_t>(size)) return false;
  std::memcpy(buffer, line.c_str(), line.size() + 1);
  mKeptLines.pop_front();
  return true;
}

uint32_t FinapresDevice::KeptBytes() const {
  uint32_t bytes = 0;
  for (const std::string& line : mKeptLines) bytes += static_cast<uint32_t>(line.size() + 1);
  return bytes;
}

// Lines that the worker wrote stay readable after it has ended: a failing
// pass tells the host why through its last replies. The thread state is read
// before the ring, so a stopped worker's last line is always seen. The worker
// is woken only when nothing is waiting: a host that reads what is there has
// no need of another pass.
bool FinapresDevice::ReadLine(char* buffer, int size) {
  DMSWrapper& engine = EnsureEngine();
  if (TakeKeptLine(buffer, size)) return true;
  const bool running = EngineRunning(engine);
  RingBuffer& ring = engine.ReplyRing();
  const auto capacity = static_cast<uint32_t>(std::max(size, 0));
  if (ring.ReadLine(buffer, capacity) != 0) return true;
  if (!running) return false;
  // Any line written from here on signals; one written before is read below.
  engine.ClearReplySignal();
  engine.Wake();
  platform::YieldThread();
  return ring.ReadLine(buffer, capacity) != 0;
}

bool FinapresDevice::ReadLineWithin(char* buffer, int size, int32_t timeoutMs) {
  DMSWrapper& engine = EnsureEngine();
  const auto start = static_cast<int64_t>(platform::SystemTimeAsFileTime() / 10000u);
  if (ReadLine(buffer, size)) return true;
  for (;;) {
    const auto now = static_cast<int64_t>(platform::SystemTimeAsFileTime() / 10000u);
    const int64_t remaining = timeoutMs - (now - start);
    if (remaining <= 0) return false;
    engine.WaitForReply(static_cast<uint32_t>(remaining));
    if (ReadLine(buffer, size)) return true;
  }
}

int FinapresDevice::ReadBuffSize() {
  DMSWrapper& engine = EnsureEngine();
  if (EngineRunning(engine)) {
    engine.Wake();
    platform::YieldThread();
  }
  return static_cast<int>(KeptBytes() + engine.ReplyRing().Waiting());
}

void FinapresDevice::FlushReadBuffer() {
  DMSWrapper& engine = EnsureEngine();
  mKeptLines.clear();
  engine.ReplyRing().DiscardAll();
}

int FinapresDevice::WriteBuffer(const char* text, int /*length*/) {
  DMSWrapper& engine = EnsureEngine();
  MVX::MVXString line = MVX::MVXString::FromAnsi(text != nullptr ? text : "");
  if (!EngineRunning(engine)) return 0;
  return engine.QueueCommand(line);
}

// The facade's own flush before an exchange: stale answers and data lines go,
// so the exchange takes its own answer; a message or abort line the worker
// wrote meanwhile is the host's and is kept for its next ReadLine.
void FinapresDevice::DropStaleReplies(DMSWrapper& engine) {
  while (engine.ReplyRing().ReadLine(gReplyBuffer, kReplyBufferSize) != 0) {
    const char first = gReplyBuffer[0];
    if (first != '+' && first != '=' && first != '<') mKeptLines.emplace_back(gReplyBuffer);
  }
  engine.ReplyRing().DiscardAll();  // a line too long for any reader
}

bool FinapresDevice::Initialise() {
  DropStaleReplies(EnsureEngine());
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
  return ReadReply(ReplyKind::kCommandResult) == L"<OK";
}

bool FinapresDevice::Query(const MVX::MVXString& command, MVX::MVXString& out) {
  DMSWrapper& engine = EnsureEngine();
  MVX::MVXString line = command + L"\n";
  if (!EngineRunning(engine) || engine.QueueCommand(line) == 0) return false;
  out = ReadReply(ReplyKind::kQueryAnswer);
  if (out.empty() || out[0] != L'=') return false;
  out.erase(0, 1);
  return true;
}

MVX::MVXString FinapresDevice::ReadReply(ReplyKind kind) {
  DMSWrapper& engine = EnsureEngine();
  const auto isReply = [kind](const std::string& line) {
    if (kind == ReplyKind::kQueryAnswer) return line.rfind('=', 0) == 0;
    return line.rfind("<OK", 0) == 0 || line.rfind("<Fail", 0) == 0;
  };
  const uint64_t start = platform::SystemTimeAsFileTime() / 10000u;
  for (;;) {
    const bool running = EngineRunning(engine);
    if (running) {
      engine.Wake();
      platform::YieldThread();
    }
    if (engine.ReplyRing().ReadLine(gReplyBuffer, kReplyBufferSize) != 0) {
      const std::string line = gReplyBuffer;
      if (isReply(line)) return MVX::MVXString::FromAnsi(gReplyBuffer);
      // Data lines are lost here as the flush before the exchange loses
      // them; every other line still reaches the host.
      if (line.rfind('+', 0) != 0) mKeptLines.push_back(line);
    } else if (!running) {
      return {};  // the worker has ended and left nothing more
    }
    if (platform::SystemTimeAsFileTime() / 10000u - start >= kReplyTimeoutMs) return {};
    if (engine.ReplyRing().Empty()) platform::SleepMs(kReplyPollMs);
  }
}

bool FinapresDevice::GetUniqueID(uint32_t* id) {
  EnsureEngine();
  if (mUniqueID != 0) {
    *id = mUniqueID;
    return true;
  }
  DropStaleReplies(EnsureEngine());
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
      DropStaleReplies(engine);
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
