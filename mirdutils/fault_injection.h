// Test-only control over the pipe library's memory: make one allocation fail.
//
// It exists only in the mirdutils_testing variant of the library
// (MIRDUTILS_FAULT_INJECTION defined); the shipped library is built without
// it. The fault is process-wide.
#ifndef MIRDUTILS_FAULT_INJECTION_H_
#define MIRDUTILS_FAULT_INJECTION_H_

namespace mirdutils::testing {

// FailAllocation makes the `nth` allocation of the library from now on (1 for
// the next one) fail, and no other; 0 makes none fail. Counting starts again.
void FailAllocation(int nth);

// AllocationCount returns how many allocations were made since the last
// FailAllocation, the failed one included.
int AllocationCount();

// AllocationFailed reports whether the allocation chosen to fail has come.
bool AllocationFailed();

}  // namespace mirdutils::testing

#endif  // MIRDUTILS_FAULT_INJECTION_H_
