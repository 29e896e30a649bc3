// The process heap, on the C allocator for small blocks and on anonymous
// mappings in huge pages for large ones. Windows hands out a valid block for a
// request of zero bytes, so this does too.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/cng.h"
#include "platform/fault_injection.h"
#include "platform/memory.h"

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

namespace {

// Any non-null value serves: there is one heap, and it cannot be closed.
int process_heap_tag;

// Every block is preceded by its header: the length of the mapping it begins,
// or 0 for a block of the C allocator. Sixteen bytes keep the block aligned
// as malloc's own blocks are.
struct alignas(16) Header {
  std::size_t mapped;
};
static_assert(sizeof(Header) == 16);

// From this size on, a block is mapped on its own. Below it the C allocator's
// reuse of freed memory serves better than fresh pages.
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kShortTail = std::size_t{64} << 10;

[[maybe_unused]] LPVOID NullBlock(NTSTATUS) { return nullptr; }

// MappedLength is the length of the mapping for a block of `total` bytes.
// Whole huge pages, except that a short tail past the last one (a file of a
// round size plus its header) goes in small pages: a few small faults cost
// less than clearing a whole huge page for it.
std::size_t MappedLength(std::size_t total) {
  static const auto small_page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t whole = total & ~(kHugePage - 1);
  const std::size_t tail = total - whole;
  if (tail == 0) {
    return whole;
  }
  return whole +
         (tail <= kShortTail ? (tail + small_page - 1) & ~(small_page - 1) : kHugePage);
}

// A mapping that starts on a huge-page boundary, so that every whole huge
// page in it can be a huge one. Untouched pages cost nothing.
void* MapLarge(std::size_t total) {
  const std::size_t length = MappedLength(total);
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
  // Under AddressSanitizer, the header and the slack after the block are out
  // of bounds, as they are around the C allocator's blocks.
  MIRDCNG_POISON(header, sizeof(Header));
  MIRDCNG_POISON(static_cast<char*>(block) + total, length - total);
  return header + 1;
}

}  // namespace

namespace mirdcng::platform {
namespace {

// What a ReuseOneBlock on this thread keeps: the block it holds for the next
// large allocation, and whether it has already handed one out.
struct ReuseState {
  bool active = false;
  bool used = false;
  Header* kept = nullptr;
};
thread_local ReuseState reuse;

void Unmap(Header* header) {
  MIRDCNG_UNPOISON(header, sizeof(Header));
  MIRDCNG_UNPOISON(header, header->mapped);
  munmap(header, header->mapped);
}

// TakeKept returns the kept block when `total` bytes fit in it and would not
// leave most of it unused, and ends the reuse.
Header* TakeKept(std::size_t total) {
  Header* kept = reuse.kept;
  if (kept == nullptr) {
    return nullptr;
  }
  MIRDCNG_UNPOISON(kept, sizeof(Header));
  const std::size_t mapped = kept->mapped;
  MIRDCNG_POISON(kept, sizeof(Header));
  if (MappedLength(total) > mapped || total < mapped / 2) {
    return nullptr;
  }
  reuse.kept = nullptr;
  reuse.used = true;
  MIRDCNG_UNPOISON(kept, total);
  MIRDCNG_POISON(kept, sizeof(Header));
  MIRDCNG_POISON(reinterpret_cast<char*>(kept) + total, mapped - total);
  return kept;
}

// AllocateBlock serves both AllocateBytes and HeapAlloc, each of which tests
// can make fail on its own.
void* AllocateBlock(std::size_t bytes) {
  if (bytes > SIZE_MAX - kHugePage - sizeof(Header)) {
    return nullptr;
  }
  const std::size_t total = bytes + sizeof(Header);
  if (bytes >= kLargeBlock) {
    if (Header* kept = TakeKept(total)) {
      return kept + 1;
    }
    return MapLarge(total);
  }
  auto* header = static_cast<Header*>(std::malloc(total));
  if (header == nullptr) {
    return nullptr;
  }
  header->mapped = 0;
  return header + 1;
}

}  // namespace

void* AllocateBytes(std::size_t bytes) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kAllocateBytes, NullBlock);
  return AllocateBlock(bytes);
}

void FreeBytes(void* block) {
  if (block == nullptr) {
    return;
  }
  Header* header = static_cast<Header*>(block) - 1;
  MIRDCNG_UNPOISON(header, sizeof(Header));
  if (header->mapped == 0) {
    std::free(header);
    return;
  }
  if (reuse.active && !reuse.used && reuse.kept == nullptr) {
    // Kept, and out of bounds until it is handed out again.
    MIRDCNG_POISON(header, header->mapped);
    reuse.kept = header;
    return;
  }
  Unmap(header);
}

ReuseOneBlock::ReuseOneBlock() : owner_(!reuse.active) {
  if (owner_) {
    reuse = ReuseState{true, false, nullptr};
  }
}

ReuseOneBlock::~ReuseOneBlock() {
  if (!owner_) {
    return;
  }
  if (reuse.kept != nullptr) {
    Unmap(reuse.kept);
  }
  reuse = ReuseState{};
}

}  // namespace mirdcng::platform

HANDLE GetProcessHeap() { return &process_heap_tag; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (heap != &process_heap_tag) {
    return nullptr;
  }
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kHeapAlloc, NullBlock);
  void* block = mirdcng::platform::AllocateBlock(bytes);
  if (block != nullptr && (flags & HEAP_ZERO_MEMORY) != 0) {
    std::memset(block, 0, bytes);
  }
  return block;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (heap != &process_heap_tag) {
    return 0;
  }
  mirdcng::platform::FreeBytes(block);
  return 1;
}

void* SecureZeroMemory(void* block, SIZE_T length) {
  if (block != nullptr && length != 0) {
    explicit_bzero(block, length);
  }
  return block;
}
