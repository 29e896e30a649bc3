// The process heap, on the blocks that whole files are held in
// (platform/blocks.h). Windows hands out a valid block for a request of zero
// bytes, so this does too.
#include <cstring>

#include "platform/blocks.h"
#include "platform/cng.h"
#include "platform/fault_injection.h"
#include "platform/memory.h"

namespace {

// Any non-null value serves: there is one heap, and it cannot be closed.
int process_heap_tag;

[[maybe_unused]] LPVOID NullBlock(NTSTATUS) { return nullptr; }

// Tests watch what the library leaves in the memory it frees.
void* Noted(void* block, [[maybe_unused]] std::size_t bytes) {
#if defined(MIRDCNG_FAULT_INJECTION)
  mirdcng::platform::internal::NoteAllocated(block, bytes);
#endif
  return block;
}

void FreeNoted(void* block, mirdcng::blocks::Wipe wipe) {
#if defined(MIRDCNG_FAULT_INJECTION)
  mirdcng::platform::internal::NoteFreed(block, wipe == mirdcng::blocks::Wipe::kYes);
#endif
  mirdcng::blocks::Free(block, wipe);
}

}  // namespace

namespace mirdcng::platform {

void* AllocateBytes(std::size_t bytes) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kAllocateBytes, NullBlock);
  return Noted(blocks::Allocate(bytes), bytes);
}

void FreeBytes(void* block, Wipe wipe) { FreeNoted(block, wipe); }

}  // namespace mirdcng::platform

HANDLE GetProcessHeap() { return &process_heap_tag; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (heap != &process_heap_tag) {
    return nullptr;
  }
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kHeapAlloc, NullBlock);
  void* block = Noted(mirdcng::blocks::Allocate(bytes), bytes);
  if (block != nullptr && (flags & HEAP_ZERO_MEMORY) != 0) {
    std::memset(block, 0, bytes);
  }
  return block;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (heap != &process_heap_tag) {
    return 0;
  }
  FreeNoted(block, mirdcng::blocks::Wipe::kNo);
  return 1;
}

void* SecureZeroMemory(void* block, SIZE_T length) {
  if (block != nullptr && length != 0) {
    explicit_bzero(block, length);
  }
  return block;
}
