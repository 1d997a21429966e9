// The base class of a worker thread with a cooperative stop flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace MVX {

class Thread {
 public:
  enum State : int32_t {
    kNeverStarted = 0,
    kRunning = 1,
    kEnded = 3,
    kStartFailed = 4,
  };

  Thread() = default;
  // Joins a thread that is still joinable.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Sets the stop flag; Run looks at it once per pass.
  virtual void RequestStop() { mStop.store(true, std::memory_order_release); }
  // The thread's body.
  virtual void Run() = 0;

  // Starts a new thread running Run, after stopping and joining a previous one.
  void Start();
  // Waits, without a time-out, until the thread has ended.
  void WaitForEnd();

  int32_t GetState() const { return mState.load(std::memory_order_acquire); }
  bool IsRunning() const { return GetState() == kRunning; }
  bool StopRequested() const { return mStop.load(std::memory_order_acquire); }
  // True when the calling thread is this object's thread.
  bool IsCurrentThread() const;

 private:
  void JoinUnlessSelf();

  std::unique_ptr<std::thread> mThread;         // null before the first start
  std::atomic<int32_t> mState{kNeverStarted};  // State
  std::atomic<bool> mStop{false};              // set by RequestStop, cleared by Start
};

}  // namespace MVX
