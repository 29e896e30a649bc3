// Small blocks from the C allocator; large ones mapped on their own, aligned
// to a huge page and advised to use huge pages.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/blocks.h"

#if defined(__SANITIZE_ADDRESS__)
#define MIRDCNG_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIRDCNG_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(MIRDCNG_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#define MIRDCNG_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define MIRDCNG_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define MIRDCNG_POISON(address, size) ((void)(address), (void)(size))
#define MIRDCNG_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace mirdcng::blocks {
namespace {

// Every block is preceded by its header: the length of the mapping it begins
// (0 for a block of the C allocator) and the size asked for. Sixteen bytes
// keep the block aligned as malloc's own blocks are.
struct alignas(16) Header {
  std::size_t mapped;
  std::size_t size;
};
static_assert(sizeof(Header) == 16);

// From this size on, a block is mapped on its own. Below it the C allocator's
// reuse of freed memory serves better than fresh pages.
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Whole huge pages from a huge-page boundary, so that every page of the block
// can be a huge one. Untouched pages cost nothing.
Header* MapLarge(std::size_t total) {
  const std::size_t length = (total + kHugePage - 1) & ~(kHugePage - 1);
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
  if (const std::size_t after = kHugePage - (aligned - start); after != 0) {
    munmap(reinterpret_cast<void*>(aligned + length), after);
  }
  void* block = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
  // Advice only: without huge pages the mapping works all the same.
  madvise(block, length, MADV_HUGEPAGE);
#endif
  auto* header = static_cast<Header*>(block);
  header->mapped = length;
  // Under AddressSanitizer the slack after the block is out of bounds, as it
  // is after the C allocator's blocks.
  MIRDCNG_POISON(static_cast<char*>(block) + total, length - total);
  return header;
}

}  // namespace

void* Allocate(std::size_t size) noexcept {
  if (size > SIZE_MAX - 2 * kHugePage) {
    return nullptr;
  }
  const std::size_t total = size + sizeof(Header);
  Header* header = nullptr;
  if (size >= kLargeBlock) {
    header = MapLarge(total);
  } else if ((header = static_cast<Header*>(std::malloc(total))) != nullptr) {
    header->mapped = 0;
  }
  if (header == nullptr) {
    return nullptr;
  }
  header->size = size;
  // The header is out of bounds too, under AddressSanitizer.
  MIRDCNG_POISON(header, sizeof(Header));
  return header + 1;
}

void Free(void* block, Wipe wipe) noexcept {
  if (block == nullptr) {
    return;
  }
  Header* header = static_cast<Header*>(block) - 1;
  MIRDCNG_UNPOISON(header, sizeof(Header));
  if (header->mapped == 0) {
    if (wipe == Wipe::kYes && header->size != 0) {
      explicit_bzero(block, header->size);
    }
    std::free(header);
    return;
  }
  MIRDCNG_UNPOISON(header, header->mapped);
  munmap(header, header->mapped);
}

}  // namespace mirdcng::blocks
