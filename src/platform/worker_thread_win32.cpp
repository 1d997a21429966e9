// The worker runs as a long callback of the process's thread pool, not on a
// thread of its own.
//
// Why: when the host unloads the module with the worker still running, the
// module stops it in DLL_PROCESS_DETACH, under the loader lock. A thread that
// ends needs that lock for its own end (thread-detach notifications), so its
// handle is never signalled there and a wait for it hangs for ever. An event
// that the body sets itself does not help either: the thread would still run
// the rest of our code (the body's return, the thread routine's epilogue)
// after setting it, and the unloader could unmap that code meanwhile.
// SetEventWhenCallbackReturns closes that gap: the pool sets the event after
// our callback has returned, from the pool's own code, and the pool thread
// goes on living without our module. Waiting for that event is therefore safe
// under the loader lock, and once it is set nothing of ours runs on the thread.
#include <windows.h>

#include <atomic>
#include <utility>

#include "platform/worker_thread.h"

namespace corvane::platform {

struct WorkerThread::Impl {
  Impl() : ended(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Impl() {
    if (ended != nullptr) CloseHandle(ended);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  HANDLE ended;                      // manual reset; set by the pool after the body
  std::function<void()> body;        // runs on the pool thread
  std::atomic<DWORD> threadId{0};    // the pool thread while the body runs
  std::atomic<bool> started{false};  // the callback was queued
};

namespace {

VOID CALLBACK RunBody(PTP_CALLBACK_INSTANCE instance, PVOID context) {
  auto* impl = static_cast<WorkerThread::Impl*>(context);
  impl->threadId.store(GetCurrentThreadId());
  // The body runs for the engine's whole life: let the pool add threads for
  // its other work instead of waiting for this one.
  CallbackMayRunLong(instance);
  SetEventWhenCallbackReturns(instance, impl->ended);
  impl->body();
  impl->threadId.store(0);
}

}  // namespace

WorkerThread::~WorkerThread() {
  if (mImpl == nullptr || !mImpl->started.load()) return;
  if (IsCurrentThread()) {
    // The body is ending its own object: its state must outlive it, since the
    // pool still sets the event after the body returns. Left to the process.
    new std::shared_ptr<Impl>(std::move(mImpl));
    return;
  }
  WaitForEnd(kForever);
}

bool WorkerThread::Start(std::function<void()> body) {
  WaitForEnd(kForever);
  auto impl = std::make_shared<Impl>();
  if (impl->ended == nullptr) return false;
  impl->body = std::move(body);
  if (!TrySubmitThreadpoolCallback(RunBody, impl.get(), nullptr)) return false;
  impl->started.store(true);
  mImpl = std::move(impl);
  return true;
}

bool WorkerThread::WaitForEnd(uint32_t timeoutMs) {
  if (mImpl == nullptr || !mImpl->started.load()) return true;
  if (IsCurrentThread()) return false;
  return WaitForSingleObject(mImpl->ended, timeoutMs) == WAIT_OBJECT_0;
}

bool WorkerThread::IsCurrentThread() const {
  return mImpl != nullptr && mImpl->threadId.load() == GetCurrentThreadId();
}

}  // namespace corvane::platform
