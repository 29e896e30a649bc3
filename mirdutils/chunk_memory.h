// The pipe library's memory. Every allocation it makes comes from here: none
// throws, each reports exhaustion as null, and a test build can make any one
// of them fail (mirdutils/fault_injection.h).
//
// AllocateChunk returns `size` bytes for a queue pipe's content, or null;
// FreeChunk gives them back. Chunks are the blocks that libmirdcng holds whole
// files in (platform/blocks.h), so that a large one is mapped in huge pages,
// and so that a block of content that libmirdcng hands over whole
// (mirdutils/adopt.h) is freed as any chunk is. The content may be plaintext:
// FreeChunk wipes a chunk wherever its memory stays in the process.
#ifndef MIRDUTILS_CHUNK_MEMORY_H_
#define MIRDUTILS_CHUNK_MEMORY_H_

#include <cstddef>
#include <new>
#include <utility>

#include "platform/blocks.h"

namespace mirdutils {

#if defined(MIRDUTILS_FAULT_INJECTION)
// AllocationFails counts an allocation and reports whether a test chose it to
// fail.
bool AllocationFails() noexcept;
#else
inline bool AllocationFails() noexcept { return false; }
#endif

[[nodiscard]] inline std::byte* AllocateChunk(std::size_t size) noexcept {
  return AllocationFails() ? nullptr
                           : static_cast<std::byte*>(mirdcng::blocks::Allocate(size));
}

inline void FreeChunk(std::byte* bytes) noexcept {
  mirdcng::blocks::Free(bytes, mirdcng::blocks::Wipe::kYes);
}

// New makes a T, or returns null when there is no memory for it.
// REQUIRES: T's constructor does not throw.
template <class T, class... Args>
[[nodiscard]] T* New(Args&&... args) noexcept {
  if (AllocationFails()) {
    return nullptr;
  }
  return new (std::nothrow) T(std::forward<Args>(args)...);
}

}  // namespace mirdutils

#endif  // MIRDUTILS_CHUNK_MEMORY_H_
