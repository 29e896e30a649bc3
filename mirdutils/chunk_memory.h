// The pipe library's memory. Every allocation it makes comes from here: none
// throws, each reports exhaustion as null, and a test build can make any one
// of them fail (mirdutils/fault_injection.h).
//
// AllocateChunk returns `size` bytes for a queue pipe's content, or null;
// FreeChunk gives them back, and takes the size they were allocated with. A
// chunk that takes a whole large write (a megabyte and more) is mapped on its
// own, in huge pages where the system offers them: filling it then costs a few
// hundred page faults instead of one for every 4 KiB. The content may be
// plaintext: FreeChunk wipes the first `used` bytes of a chunk before its
// memory is reused in the process (a mapped chunk's pages leave the process,
// and the system clears them before it hands them out again).
#ifndef MIRDUTILS_CHUNK_MEMORY_H_
#define MIRDUTILS_CHUNK_MEMORY_H_

#include <cstddef>
#include <new>
#include <utility>

namespace mirdutils {

#if defined(MIRDUTILS_FAULT_INJECTION)
// AllocationFails counts an allocation and reports whether a test chose it to
// fail.
bool AllocationFails() noexcept;
#else
inline bool AllocationFails() noexcept { return false; }
#endif

[[nodiscard]] std::byte* AllocateChunk(std::size_t size) noexcept;
void FreeChunk(std::byte* bytes, std::size_t size, std::size_t used) noexcept;

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
