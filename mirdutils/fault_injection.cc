#include "mirdutils/fault_injection.h"

#include <atomic>

#include "mirdutils/chunk_memory.h"

namespace mirdutils {
namespace {

std::atomic<int> count{0};
std::atomic<int> fail_at{0};
std::atomic<bool> failed{false};

}  // namespace

bool AllocationFails() noexcept {
  const int nth = ++count;
  if (nth != fail_at.load()) {
    return false;
  }
  failed = true;
  return true;
}

namespace testing {

void FailAllocation(int nth) {
  fail_at = 0;
  count = 0;
  failed = false;
  fail_at = nth;
}

int AllocationCount() { return count; }

bool AllocationFailed() { return failed; }

}  // namespace testing
}  // namespace mirdutils
