#include "mirdutils/chunk_memory.h"

#include <cstdint>
#include <new>

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace mirdutils {
namespace {

// Under AddressSanitizer every chunk comes from the allocator it watches.
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeChunks = false;
#else
constexpr bool kMapLargeChunks = true;
#endif

constexpr std::size_t kLargeChunk = std::size_t{1} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

bool IsMapped(std::size_t size) { return kMapLargeChunks && size >= kLargeChunk; }

// Whole huge pages, starting on a huge-page boundary, so that every page of
// the chunk can be a huge one.
std::size_t MappedLength(std::size_t size) {
  return (size + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

std::byte* AllocateChunk(std::size_t size) {
  if (!IsMapped(size)) {
    return new (std::nothrow) std::byte[size];
  }
#if defined(_WIN32)
  return nullptr;
#else
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
#endif
}

void FreeChunk(std::byte* bytes, std::size_t size) {
  if (bytes == nullptr) {
    return;
  }
  if (!IsMapped(size)) {
    delete[] bytes;
    return;
  }
#if !defined(_WIN32)
  munmap(bytes, MappedLength(size));
#endif
}

}  // namespace mirdutils
