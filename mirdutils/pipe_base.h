// The type behind the opaque zulpipe: one interface, one class per kind of
// pipe. The C functions check their arguments; the classes see only valid
// ones, and throw nothing.
#ifndef MIRDUTILS_PIPE_BASE_H_
#define MIRDUTILS_PIPE_BASE_H_

#include <cstddef>

#include "mirdutils/chunk_memory.h"

struct zulpipe {
  zulpipe() = default;
  virtual ~zulpipe() = default;
  zulpipe(const zulpipe&) = delete;
  zulpipe& operator=(const zulpipe&) = delete;

  // Read copies up to `size` bytes into `buffer`, which is not null; returns
  // the count, 0 at the end, or -1 when the source cannot be read.
  virtual long long Read(std::byte* buffer, std::size_t size) = 0;

  // Write takes all `size` bytes at `data`, which is not null, and returns
  // true, or takes none and returns false.
  virtual bool Write(const std::byte* data, std::size_t size) = 0;

  // Adopt takes `block` (a chunk, not null) whose first `size` bytes are
  // content, as Write takes a copy of them, and returns true; or frees it and
  // returns false. A pipe that cannot be written takes nothing.
  virtual bool Adopt(std::byte* block, std::size_t /*size*/) {
    mirdutils::FreeChunk(block);
    return false;
  }
};

#endif  // MIRDUTILS_PIPE_BASE_H_
