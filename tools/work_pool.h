// Workers for the forms that work on many files. Each file is read whole and
// held, with its result in the same block, while it is worked on, so a worker
// takes the next file
// only while the bytes that all workers hold stay within a budget; a file that
// alone exceeds it waits until no other is held, and then runs alone. Files
// are taken in their order.
#ifndef MIRDCNG_TOOLS_WORK_POOL_H_
#define MIRDCNG_TOOLS_WORK_POOL_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace mirdcng::tool {

struct PoolLimits {
  unsigned workers = 1;      // at least 1
  std::uint64_t budget = 0;  // bytes held at once
};

// PoolReport is what the workers held at their busiest.
struct PoolReport {
  std::size_t most_at_once = 0;  // files worked on at the same time
  std::uint64_t most_held = 0;   // bytes held at the same time
};

// RunPool runs `work` on each index below `count`, on `limits.workers`
// threads, each index once and holding `held(index)` bytes meanwhile.
PoolReport RunPool(std::size_t count,
                   const std::function<std::uint64_t(std::size_t)>& held,
                   const std::function<void(std::size_t)>& work, PoolLimits limits);

// ProcessorsAvailable is the number of processors this process may run on.
unsigned ProcessorsAvailable();

// DefaultMemoryBudget is the budget when none is given: a quarter of the
// machine's physical memory (1 GiB when it cannot be learnt).
std::uint64_t DefaultMemoryBudget();

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_WORK_POOL_H_
