// A thread that runs one body and tells when it has ended: the body has
// returned and the thread will run none of this module's code any more.
//
// The second half matters when the module is unloaded with a worker still
// running: the unloading thread must know that the worker has left the
// module's code before the code is unmapped, and on Windows it cannot wait
// for a thread handle there (see worker_thread_win32.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace corvane::platform {

class WorkerThread {
 public:
  static constexpr uint32_t kForever = 0xFFFFFFFFu;

  WorkerThread() = default;
  // Waits without a time-out for a body still running, unless called on the
  // worker itself, which lets go instead.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `body` on a new thread. Only after a previous body has ended; false
  // when no thread could be had.
  bool Start(std::function<void()> body);
  // Waits up to `timeoutMs` for the body to end. True when it has ended, or
  // when none was started; false on time-out or when called on the worker.
  bool WaitForEnd(uint32_t timeoutMs);
  // True when the calling thread runs the body.
  bool IsCurrentThread() const;

  struct Impl;  // per platform

 private:
  std::shared_ptr<Impl> mImpl;  // one per started body; null before the first
};

}  // namespace corvane::platform
