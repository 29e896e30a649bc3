#include "mirdutils/chunk_memory.h"

#include <cstdint>
#include <new>

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
  if (size > SIZE_MAX - 2 * kHugePage) {
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

std::byte* AllocateChunk(std::size_t size) {
  return size >= kLargeChunk ? MapChunk(size) : new (std::nothrow) std::byte[size];
}

void FreeChunk(std::byte* bytes, std::size_t size) {
  if (bytes == nullptr) {
    return;
  }
  if (size >= kLargeChunk) {
    munmap(bytes, MappedLength(size));
  } else {
    delete[] bytes;
  }
}

#else
// Windows, and AddressSanitizer, which watches the C++ allocator's blocks.

std::byte* AllocateChunk(std::size_t size) { return new (std::nothrow) std::byte[size]; }

void FreeChunk(std::byte* bytes, std::size_t /*size*/) { delete[] bytes; }

#endif

}  // namespace mirdutils
