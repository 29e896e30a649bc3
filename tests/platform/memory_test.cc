// The platform's memory for whole-file buffers: small blocks from the C
// allocator, large ones mapped on their own, both behind HeapAlloc.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/cng.h"

namespace mirdcng::platform {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Sizes on both sides of the point where blocks start to be mapped, and of
// the huge-page boundaries a mapping is rounded to.
constexpr std::size_t kSizes[] = {
    0, 1, 4096, kMiB - 1, kMiB, 2 * kMiB - 16, 2 * kMiB, 2 * kMiB + 1, 5 * kMiB + 3};

TEST(PlatformMemory, BlocksAreAlignedAndWholeOnBothSidesOfTheLargeSize) {
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    auto* block = static_cast<std::uint8_t*>(AllocateBytes(size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
    // Every byte is usable and keeps what was written; a neighbour block
    // does not overlap it.
    auto* other = static_cast<std::uint8_t*>(AllocateBytes(size));
    ASSERT_NE(other, nullptr);
    std::memset(block, 0xA5, size);
    std::memset(other, 0x5A, size);
    for (const std::size_t at : {std::size_t{0}, size / 2, size - 1}) {
      if (size != 0) {
        EXPECT_EQ(block[at], 0xA5) << "at " << at;
      }
    }
    FreeBytes(other, Wipe::kYes);
    FreeBytes(block, Wipe::kNo);
  }
  FreeBytes(nullptr, Wipe::kYes);
}

TEST(PlatformMemory, HeapAllocZeroesOnRequestAndRefusesTheImpossible) {
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    // A block that held something, freed, so that the next may reuse it.
    void* dirty = HeapAlloc(GetProcessHeap(), 0, size);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xFF, size);
    ASSERT_TRUE(HeapFree(GetProcessHeap(), 0, dirty));

    auto* block =
        static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    ASSERT_NE(block, nullptr);
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < size; ++i) {
      nonzero += block[i] != 0 ? 1 : 0;
    }
    EXPECT_EQ(nonzero, 0u);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
  }
  EXPECT_EQ(AllocateBytes(SIZE_MAX), nullptr);
  EXPECT_EQ(AllocateBytes(SIZE_MAX - 4096), nullptr);
  EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, SIZE_MAX), nullptr);
}

#if defined(__SANITIZE_ADDRESS__)
#define MIRDCNG_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIRDCNG_TEST_ASAN 1
#endif
#endif

#if defined(MIRDCNG_TEST_ASAN)
// A mapped block is guarded as the C allocator's are: the byte after its end
// and its bookkeeping before it are out of bounds.
TEST(PlatformMemoryDeathTest, AddressSanitizerSeesPastTheEndOfAMappedBlock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr std::size_t kSize = 3 * kMiB + 5;
  auto* block = static_cast<volatile std::uint8_t*>(AllocateBytes(kSize));
  ASSERT_NE(block, nullptr);
  block[kSize - 1] = 1;
  EXPECT_DEATH(block[kSize] = 1, "");
  EXPECT_DEATH(block[-1] = 1, "");
  FreeBytes(const_cast<std::uint8_t*>(block), Wipe::kNo);
}
#endif

}  // namespace
}  // namespace mirdcng::platform
