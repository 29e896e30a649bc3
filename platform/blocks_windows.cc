// The process heap: every module of the process shares it, so a block one
// library allocates the other can free.
#include <windows.h>

#include "platform/blocks.h"

namespace mirdcng::blocks {

void* Allocate(std::size_t size) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }

void Free(void* block, Wipe wipe) noexcept {
  if (block == nullptr) {
    return;
  }
  // The heap may keep any block's memory for its next allocation.
  if (wipe == Wipe::kYes) {
    const SIZE_T size = HeapSize(GetProcessHeap(), 0, block);
    if (size != static_cast<SIZE_T>(-1)) {
      SecureZeroMemory(block, size);
    }
  }
  HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace mirdcng::blocks
