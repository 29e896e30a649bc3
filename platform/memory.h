// Memory for the buffers that hold whole files.
//
// AllocateBytes returns `bytes` bytes of uninitialised memory, or null; the
// block is aligned for any object of up to 16 bytes. FreeBytes releases it
// (null is allowed); with Wipe::kYes it clears the bytes first wherever their
// memory stays in the process (platform/blocks.h). The process heap's
// HeapAlloc hands out the same blocks, so FreeBytes releases those too.
#ifndef MIRDCNG_PLATFORM_MEMORY_H_
#define MIRDCNG_PLATFORM_MEMORY_H_

#include <cstddef>

#include "platform/blocks.h"

namespace mirdcng::platform {

using Wipe = blocks::Wipe;

#if defined(_WIN32)
inline void* AllocateBytes(std::size_t bytes) { return blocks::Allocate(bytes); }
inline void FreeBytes(void* block, Wipe wipe) { blocks::Free(block, wipe); }
#else
// The stand-in's are separate functions, so that tests can make them fail.
[[nodiscard]] void* AllocateBytes(std::size_t bytes);
void FreeBytes(void* block, Wipe wipe);
#endif

}  // namespace mirdcng::platform

#endif  // MIRDCNG_PLATFORM_MEMORY_H_
