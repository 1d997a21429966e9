// The base class of a worker thread with a cooperative stop flag.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/worker_thread.h"

namespace MVX {

class Thread {
 public:
  enum State : int32_t {
    kNeverStarted = 0,
    kRunning = 1,
    kEnded = 3,
    kStartFailed = 4,
  };
  static constexpr uint32_t kWaitForever = corvane::platform::WorkerThread::kForever;

  Thread() = default;
  // Waits for a thread that is still running.
  virtual ~Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Sets the stop flag; Run looks at it once per pass.
  virtual void RequestStop() { mStop.store(true, std::memory_order_release); }
  // The thread's body.
  virtual void Run() = 0;

  // Starts a new thread running Run, after stopping and waiting for a
  // previous one.
  void Start();
  // Waits until the thread has ended and runs none of the module's code any
  // more, or `timeoutMs` has passed; true when it has ended (or never ran).
  bool WaitForEnd(uint32_t timeoutMs = kWaitForever) { return mThread.WaitForEnd(timeoutMs); }

  int32_t GetState() const { return mState.load(std::memory_order_acquire); }
  bool IsRunning() const { return GetState() == kRunning; }
  bool StopRequested() const { return mStop.load(std::memory_order_acquire); }
  // True when the calling thread is this object's thread.
  bool IsCurrentThread() const { return mThread.IsCurrentThread(); }

 private:
  std::atomic<int32_t> mState{kNeverStarted};  // State
  std::atomic<bool> mStop{false};              // set by RequestStop, cleared by Start
  // Last, so that it is destroyed first: its destructor waits for a running
  // body, which still uses the members above.
  corvane::platform::WorkerThread mThread;
};

}  // namespace MVX
