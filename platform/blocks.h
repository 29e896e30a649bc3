// Blocks: the memory that whole files are held in, shared by libmirdcng and
// its pipe library so that a block one of them makes the other can release.
//
// Allocate returns `size` bytes of uninitialised memory, aligned for any object
// of up to 16 bytes, or null; a request of zero bytes gets a valid block. Free
// releases a block from Allocate (null is allowed), whichever of the two
// libraries made it. With Wipe::kYes the block's bytes are cleared first
// wherever its memory stays in the process; a block whose pages go straight
// back to the system is not cleared, since the system clears pages before it
// hands them out again.
//
// On Windows a block is a block of the process heap. Elsewhere a small block
// comes from the C allocator, and a large one (a megabyte and more) is mapped
// on its own in huge pages where the system offers them: a fresh whole-file
// buffer is then a few hundred pages instead of a hundred thousand, each of
// which costs a fault and, under a virtual machine, a trip through the
// hypervisor.
//
// Both libraries compile this same code. A block crosses from one to the
// other only through the pipe library's adoption entry point (mirdutils/adopt.h),
// whose name changes should the layout of a block ever change.
#ifndef MIRDCNG_PLATFORM_BLOCKS_H_
#define MIRDCNG_PLATFORM_BLOCKS_H_

#include <cstddef>

namespace mirdcng::blocks {

enum class Wipe { kNo, kYes };

[[nodiscard]] void* Allocate(std::size_t size) noexcept;
void Free(void* block, Wipe wipe) noexcept;

}  // namespace mirdcng::blocks

#endif  // MIRDCNG_PLATFORM_BLOCKS_H_
