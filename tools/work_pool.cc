#include "tools/work_pool.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace mirdcng::tool {
namespace {

// Shared is the state the workers take files from, under its mutex.
class Shared {
 public:
  Shared(std::size_t count, const std::function<std::uint64_t(std::size_t)>& held,
         std::uint64_t budget)
      : count_(count), held_(held), budget_(budget) {}

  // Take waits until the next file fits within the budget and returns its
  // index, or `count` when there is none left.
  std::size_t Take(std::uint64_t& bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (next_ == count_) {
        return count_;
      }
      bytes = held_(next_);
      if (busy_ == 0 || holding_ + bytes <= budget_) {
        break;
      }
      released_.wait(lock);
    }
    ++busy_;
    holding_ += bytes;
    report_.most_at_once = std::max(report_.most_at_once, busy_);
    report_.most_held = std::max(report_.most_held, holding_);
    return next_++;
  }

  void Release(std::uint64_t bytes) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      --busy_;
      holding_ -= bytes;
    }
    released_.notify_all();
  }

  PoolReport report() const { return report_; }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  const std::size_t count_;
  const std::function<std::uint64_t(std::size_t)>& held_;
  const std::uint64_t budget_;
  std::size_t next_ = 0;
  std::size_t busy_ = 0;
  std::uint64_t holding_ = 0;
  PoolReport report_;
};

}  // namespace

PoolReport RunPool(std::size_t count,
                   const std::function<std::uint64_t(std::size_t)>& held,
                   const std::function<void(std::size_t)>& work, PoolLimits limits) {
  Shared shared(count, held, limits.budget);
  const auto worker = [&] {
    std::uint64_t bytes = 0;
    for (std::size_t index; (index = shared.Take(bytes)) != count;) {
      work(index);
      shared.Release(bytes);
    }
  };
  const std::size_t threads = std::min<std::size_t>(std::max(limits.workers, 1U), count);
  std::vector<std::thread> others;
  for (std::size_t i = 1; i < threads; ++i) {
    others.emplace_back(worker);
  }
  worker();  // this thread is a worker too
  for (std::thread& other : others) {
    other.join();
  }
  return shared.report();
}

unsigned ProcessorsAvailable() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
#endif
  return std::max(std::thread::hardware_concurrency(), 1U);
}

std::uint64_t DefaultMemoryBudget() {
  std::uint64_t physical = 0;
#if defined(_WIN32)
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) != 0) {
    physical = status.ullTotalPhys;
  }
#else
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) {
    physical = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  }
#endif
  return physical != 0 ? physical / 4 : std::uint64_t{1} << 30;
}

}  // namespace mirdcng::tool
