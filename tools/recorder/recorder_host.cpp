#include "recorder_host.h"

#include <algorithm>
#include <chrono>

#include "recorder_platform.h"
#include "support/utf8.h"

namespace corvane::recorder {
namespace {

constexpr Guid kUnknownId = {0, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

// One progress bar: made by the factory, freed with its last reference.
// Without a terminal a line is printed at each tenth and each new text, so
// that a log of the output still shows the progress.
class TerminalProgress final : public HostProgress {
 public:
  TerminalProgress(TerminalProgressService& service, std::string title, std::string text)
      : mService(service), mTitle(std::move(title)), mText(std::move(text)) {}

  int32_t CORVANE_STDCALL QueryInterface(const Guid&, void** out) override {
    *out = nullptr;
    return kNoInterface;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return ++mRefs; }
  uint32_t CORVANE_STDCALL Release() override {
    const uint32_t left = --mRefs;
    if (left == 0) delete this;
    return left;
  }
  int32_t CORVANE_STDCALL SetProgress(int32_t percent, const wchar_t* text) override {
    std::string caption = text != nullptr ? MVX::WideToUtf8(text) : std::string();
    std::lock_guard lock(mMutex);
    const bool force = caption != mText || percent / 10 != mPercent / 10 || percent >= 100;
    if (caption != mText) {
      // A new phase, with a pace of its own.
      mPhaseStart = std::chrono::steady_clock::now();
      mPhasePercent = percent;
    }
    mPercent = percent;
    mText = std::move(caption);
    const bool cancelled = mService.Cancelled();
    if (cancelled && !mToldCancel) {
      // The answer is the host's wish; a task such as a firmware update may
      // not stop halfway, so the user learns why nothing happens yet.
      mToldCancel = true;
      mService.console().Message("Ctrl-C: the recorder stops once \"" + mTitle +
                                 "\" has ended; the device module does not interrupt it");
    }
    const PhasePace pace{percent - mPhasePercent, Seconds(mPhaseStart)};
    mService.console().Status(ProgressLine(mTitle, percent, mText, Elapsed(), pace), force);
    if (LiveFeed* live = mService.live()) live->Progress(mTitle, percent, mText, false);
    return cancelled ? 1 : 0;
  }
  int32_t CORVANE_STDCALL Close() override {
    std::lock_guard lock(mMutex);
    if (mClosed) return 0;
    mClosed = true;
    mService.console().EndStatus();
    if (LiveFeed* live = mService.live()) live->Progress(mTitle, mPercent, mText, true);
    // How far the bar got says nothing sure about the task's outcome (a
    // timed phase fills its share even when it fails): the owner of the task
    // reports that.
    mService.log().Write("recorder: progress window \"" + mTitle + "\" closed after " +
                         MinutesSeconds(Elapsed()) + " at " + std::to_string(mPercent) + "% (" +
                         mText + ")");
    return 0;
  }

 private:
  static double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  }
  double Elapsed() const { return Seconds(mStart); }

  TerminalProgressService& mService;
  const std::string mTitle;
  const std::chrono::steady_clock::time_point mStart = std::chrono::steady_clock::now();
  std::mutex mMutex;
  std::string mText;
  int32_t mPercent = 0;
  std::chrono::steady_clock::time_point mPhaseStart = mStart;
  int32_t mPhasePercent = 0;  // the percentage when the phase began
  bool mClosed = false;
  bool mToldCancel = false;
  std::atomic<uint32_t> mRefs{1};
};

// The object the progress service creates; it opens the bars.
class ProgressFactory final : public HostProgressFactory {
 public:
  explicit ProgressFactory(TerminalProgressService& service) : mService(service) {}

  int32_t CORVANE_STDCALL QueryInterface(const Guid&, void** out) override {
    *out = nullptr;
    return kNoInterface;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return ++mRefs; }
  uint32_t CORVANE_STDCALL Release() override {
    const uint32_t left = --mRefs;
    if (left == 0) delete this;
    return left;
  }
  int32_t CORVANE_STDCALL Reserved3() override { return 0; }
  int32_t CORVANE_STDCALL Reserved4() override { return 0; }
  int32_t CORVANE_STDCALL Reserved5() override { return 0; }
  int32_t CORVANE_STDCALL Reserved6() override { return 0; }
  int32_t CORVANE_STDCALL Reserved7() override { return 0; }
  int32_t CORVANE_STDCALL OpenWindow(int32_t, const wchar_t* title, const wchar_t* text, int32_t,
                                     HostProgress** result) override {
    const std::string heading = title != nullptr ? MVX::WideToUtf8(title) : std::string();
    const std::string caption = text != nullptr ? MVX::WideToUtf8(text) : std::string();
    mService.console().Message(heading + (caption.empty() ? "" : ": " + caption) + " ...");
    mService.log().Write("recorder: progress window \"" + heading + "\" opened: " + caption);
    *result = new TerminalProgress(mService, heading, caption);
    return 0;
  }

 private:
  TerminalProgressService& mService;
  std::atomic<uint32_t> mRefs{1};
};

template <typename Object>
int32_t Hand(Object* object, void** out) {
  object->AddRef();
  *out = object;
  return 0;
}

}  // namespace

bool SameGuid(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::equal(std::begin(a.data4), std::end(a.data4), std::begin(b.data4));
}

int32_t RecorderHostObject::QueryInterface(const Guid& iid, void** out) {
  if (SameGuid(iid, kUnknownId)) return Hand(this, out);
  *out = nullptr;
  return kNoInterface;
}

int32_t RecorderHostObject::GetHostService(HostUnknown** service) {
  *service = nullptr;
  return 0;
}

bool LogFile::Open(const std::string& path, bool append) {
  std::lock_guard lock(mMutex);
  mFile = OpenFile(path, append ? "a" : "w");
  if (mFile == nullptr) return false;
  if (append && std::fseek(mFile, 0, SEEK_END) == 0 && std::ftell(mFile) > 0) {
    std::fputs("----- a new run with the same --out -----\n", mFile);
  }
  return true;
}

void LogFile::Close() {
  std::lock_guard lock(mMutex);
  if (mFile != nullptr) std::fclose(mFile);
  mFile = nullptr;
}

void LogFile::Write(const std::string& line) {
  std::lock_guard lock(mMutex);
  if (mFile == nullptr) return;
  std::fputs(line.c_str(), mFile);
  std::fputc('\n', mFile);
  std::fflush(mFile);
}

int32_t LogFile::QueryInterface(const Guid& iid, void** out) {
  if (SameGuid(iid, kLogServiceId) || SameGuid(iid, kUnknownId)) return Hand(this, out);
  *out = nullptr;
  return kNoInterface;
}

// The start exchange (null line) keeps the module's own start: the log's
// times then count from the module's first line.
int32_t LogFile::WriteLine(const wchar_t* line, uint32_t*) {
  if (line == nullptr) return 0;
  const std::string text = MVX::WideToUtf8(line);
  if (DeviceEvents* events = mEvents.load()) events->Observe(text);
  Write(text);
  return 0;
}

int32_t TerminalProgressService::QueryInterface(const Guid& iid, void** out) {
  if (SameGuid(iid, kProgressServiceId) || SameGuid(iid, kUnknownId)) return Hand(this, out);
  *out = nullptr;
  return kNoInterface;
}

int32_t TerminalProgressService::GetKeyValue(uint16_t* value) {
  *value = 1;
  return 0;
}

int32_t TerminalProgressService::CreateObject(uint32_t, const Guid& iid, void** out) {
  if (!SameGuid(iid, kProgressFactoryId)) {
    *out = nullptr;
    return kNoInterface;
  }
  *out = static_cast<HostProgressFactory*>(new ProgressFactory(*this));
  return 0;
}

int32_t HostkitClassObject::QueryInterface(const Guid& iid, void** out) {
  if (SameGuid(iid, kLogServiceId)) return Hand(&mLog, out);
  if (SameGuid(iid, kProgressServiceId)) return Hand(&mProgress, out);
  if (SameGuid(iid, kUnknownId)) return Hand(this, out);
  *out = nullptr;
  return kNoInterface;
}

}  // namespace corvane::recorder
