// Storage for the queue pipe's chunks.
//
// AllocateChunk returns `size` bytes, or null when memory runs out; FreeChunk
// gives them back and takes the size they were allocated with. A chunk that
// takes a whole large write (a megabyte and more) is mapped on its own, in
// huge pages where the system offers them: filling it then costs a few
// hundred page faults instead of one for every 4 KiB.
#ifndef MIRDUTILS_CHUNK_MEMORY_H_
#define MIRDUTILS_CHUNK_MEMORY_H_

#include <cstddef>

namespace mirdutils {

[[nodiscard]] std::byte* AllocateChunk(std::size_t size);
void FreeChunk(std::byte* bytes, std::size_t size);

// ChunkDeleter frees a chunk of `size` bytes, for a unique_ptr that owns it.
struct ChunkDeleter {
  std::size_t size = 0;
  void operator()(std::byte* bytes) const { FreeChunk(bytes, size); }
};

}  // namespace mirdutils

#endif  // MIRDUTILS_CHUNK_MEMORY_H_
