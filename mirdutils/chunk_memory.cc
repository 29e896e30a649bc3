#include "mirdutils/chunk_memory.h"

#include <cstdint>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <string.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define MIRDUTILS_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIRDUTILS_ADDRESS_SANITIZER 1
#endif
#endif
#if !defined(_WIN32) && !defined(MIRDUTILS_ADDRESS_SANITIZER)
#include <sys/mman.h>
#define MIRDUTILS_MAP_LARGE_CHUNKS 1
#endif

namespace mirdutils {
namespace {

// Wipe clears bytes in a way the compiler may not leave out because they are
// about to be freed.
void Wipe(std::byte* bytes, std::size_t size) {
  if (size == 0) {
    return;
  }
#if defined(_WIN32)
  SecureZeroMemory(bytes, size);
#else
  explicit_bzero(bytes, size);
#endif
}

std::byte* AllocateHeapChunk(std::size_t size) {
  return AllocationFails() ? nullptr : new (std::nothrow) std::byte[size];
}

void FreeHeapChunk(std::byte* bytes, std::size_t used) {
  Wipe(bytes, used);
  delete[] bytes;
}

}  // namespace

#if defined(MIRDUTILS_MAP_LARGE_CHUNKS)
namespace {

constexpr std::size_t kLargeChunk = std::size_t{1} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Whole huge pages, starting on a huge-page boundary, so that every page of
// the chunk can be a huge one.
std::size_t MappedLength(std::size_t size) {
  return (size + kHugePage - 1) & ~(kHugePage - 1);
}

std::byte* MapChunk(std::size_t size) {
  if (AllocationFails() || size > SIZE_MAX - 2 * kHugePage) {
    return nullptr;
  }
  const std::size_t length = MappedLength(size);
  void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) {
    return nullptr;
  }
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned != start) {
    munmap(raw, aligned - start);
  }
  munmap(reinterpret_cast<void*>(aligned + length), kHugePage - (aligned - start));
  auto* chunk = reinterpret_cast<std::byte*>(aligned);
#if defined(MADV_HUGEPAGE)
  madvise(chunk, length, MADV_HUGEPAGE);  // advice: without it all works the same
#endif
  return chunk;
}

}  // namespace

std::byte* AllocateChunk(std::size_t size) noexcept {
  return size >= kLargeChunk ? MapChunk(size) : AllocateHeapChunk(size);
}

void FreeChunk(std::byte* bytes, std::size_t size, std::size_t used) noexcept {
  if (bytes == nullptr) {
    return;
  }
  if (size >= kLargeChunk) {
    // No wipe: the pages go back to the system, out of the process, and the
    // system clears them before anyone else gets them.
    munmap(bytes, MappedLength(size));
  } else {
    FreeHeapChunk(bytes, used);
  }
}

#else
// Windows, and AddressSanitizer, which watches the C++ allocator's blocks.

std::byte* AllocateChunk(std::size_t size) noexcept { return AllocateHeapChunk(size); }

void FreeChunk(std::byte* bytes, std::size_t /*size*/, std::size_t used) noexcept {
  if (bytes != nullptr) {
    FreeHeapChunk(bytes, used);
  }
}

#endif

}  // namespace mirdutils
