// The process heap, on the C allocator. Windows hands out a valid block for a
// request of zero bytes, so this does too.
#include <cstdlib>
#include <cstring>

#include "platform/cng.h"
#include "platform/fault_injection.h"

namespace {

// Any non-null value serves: there is one heap, and it cannot be closed.
int process_heap_tag;

[[maybe_unused]] LPVOID NullBlock(NTSTATUS) { return nullptr; }

}  // namespace

HANDLE GetProcessHeap() { return &process_heap_tag; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (heap != &process_heap_tag) {
    return nullptr;
  }
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kHeapAlloc, NullBlock);
  const SIZE_T size = bytes == 0 ? 1 : bytes;
  return (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size)
                                         : std::malloc(size);
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (heap != &process_heap_tag) {
    return 0;
  }
  std::free(block);
  return 1;
}

void* SecureZeroMemory(void* block, SIZE_T length) {
  if (block != nullptr && length != 0) {
    explicit_bzero(block, length);
  }
  return block;
}
