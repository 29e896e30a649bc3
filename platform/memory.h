// Memory for the buffers that hold whole files.
//
// AllocateBytes returns `bytes` bytes of uninitialised memory, or null; the
// block is aligned for any object of up to 16 bytes. FreeBytes releases it
// (null is allowed) without wiping it: callers wipe what held secrets first.
// The process heap's HeapAlloc and HeapFree hand out the same blocks.
//
// On Windows these are the process heap itself. The stand-in maps large
// blocks (a megabyte and more) straight from the system in huge pages where
// the system offers them: a fresh whole-file buffer is then made of a few
// hundred pages instead of a hundred thousand, each of which costs a fault
// and, under a virtual machine, a walk of its page tables.
#ifndef MIRDCNG_PLATFORM_MEMORY_H_
#define MIRDCNG_PLATFORM_MEMORY_H_

#include <cstddef>

#include "platform/cng.h"

namespace mirdcng::platform {

#if defined(_WIN32)
inline void* AllocateBytes(std::size_t bytes) {
  return HeapAlloc(GetProcessHeap(), 0, bytes);
}
inline void FreeBytes(void* block) { HeapFree(GetProcessHeap(), 0, block); }

// The process heap reuses freed blocks of its own accord.
class ReuseOneBlock {
 public:
  ReuseOneBlock() {}  // user-provided: a scope object, not an unused variable
  ~ReuseOneBlock() {}
  ReuseOneBlock(const ReuseOneBlock&) = delete;
  ReuseOneBlock& operator=(const ReuseOneBlock&) = delete;
};
#else
[[nodiscard]] void* AllocateBytes(std::size_t bytes);
void FreeBytes(void* block);

// ReuseOneBlock, while it lives, keeps the first large block that its thread
// frees, instead of giving it back to the system, and hands it out again to
// the thread's next large allocation that it fits well; whatever it still
// keeps goes back when it ends. It serves an operation that lets go of one
// whole-file buffer just before it makes another of about the same size: the
// second then costs no page faults and no clearing. Only one block is ever
// handed out again, so the operation's peak memory does not grow. The kept
// block's bytes are not cleared: only blocks that need no wipe, or were wiped
// by their owner, go back anyway. An inner ReuseOneBlock does nothing.
class ReuseOneBlock {
 public:
  ReuseOneBlock();
  ~ReuseOneBlock();
  ReuseOneBlock(const ReuseOneBlock&) = delete;
  ReuseOneBlock& operator=(const ReuseOneBlock&) = delete;

 private:
  bool owner_;
};
#endif

}  // namespace mirdcng::platform

#endif  // MIRDCNG_PLATFORM_MEMORY_H_
