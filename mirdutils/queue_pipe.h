// QueuePipe: bytes held in memory, read back in the order they were written.
//
// Each write is copied once, into chunks that the pipe owns; a read copies
// out of the oldest chunk and frees it as soon as it has been read through.
// Small writes share a chunk of kMinChunk bytes; a larger write gets a chunk
// of exactly its own size, so a large content costs the pipe its own size
// and nothing more, and no byte is ever moved inside the pipe.
#ifndef MIRDUTILS_QUEUE_PIPE_H_
#define MIRDUTILS_QUEUE_PIPE_H_

#include <cstddef>
#include <deque>
#include <memory>

#include "mirdutils/pipe_base.h"

namespace mirdutils {

class QueuePipe final : public zulpipe {
 public:
  static constexpr std::size_t kMinChunk = std::size_t{64} << 10;

  long long Read(std::byte* buffer, std::size_t size) override;
  bool Write(const std::byte* data, std::size_t size) override;

 private:
  struct Chunk {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t capacity = 0;
    std::size_t end = 0;  // bytes written into it
  };

  std::deque<Chunk> chunks_;
  std::size_t read_offset_ = 0;  // into chunks_.front()
};

}  // namespace mirdutils

#endif  // MIRDUTILS_QUEUE_PIPE_H_
