// Threads that keep every core busy while they live: a module's worker and
// its host then share the processors as on a loaded machine.
#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace corvane::testing {

class CpuLoad {
 public:
  explicit CpuLoad(bool on) {
    if (!on) return;
    const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i) {
      mThreads.emplace_back([this] {
        while (!mStop.load(std::memory_order_relaxed)) {
        }
      });
    }
  }
  ~CpuLoad() {
    mStop.store(true);
    for (std::thread& thread : mThreads) thread.join();
  }
  CpuLoad(const CpuLoad&) = delete;
  CpuLoad& operator=(const CpuLoad&) = delete;

 private:
  std::atomic<bool> mStop{false};
  std::vector<std::thread> mThreads;
};

}  // namespace corvane::testing
