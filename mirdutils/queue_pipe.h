// QueuePipe: bytes held in memory, read back in the order they were written.
//
// Each write is copied once, into chunks that the pipe owns; a read copies
// out of the oldest chunk and frees it as soon as it has been read through.
// Small writes share a chunk of kMinChunk bytes; a larger write gets a chunk
// of exactly its own size, so a large content costs the pipe its own size
// and nothing more, and no byte is ever moved inside the pipe. An adopted
// block becomes a chunk as it is, with no copy at all. The chunks hold
// plaintext: they are wiped before their memory can be used again in the
// process (chunk_memory.h).
//
// A write that finds no memory fails the pipe for good: every later read and
// write fails, so that a reader never takes what is left for all of it.
#ifndef MIRDUTILS_QUEUE_PIPE_H_
#define MIRDUTILS_QUEUE_PIPE_H_

#include <cstddef>
#include <memory>

#include "mirdutils/pipe_base.h"

namespace mirdutils {

class QueuePipe final : public zulpipe {
 public:
  static constexpr std::size_t kMinChunk = std::size_t{64} << 10;

  QueuePipe() noexcept;
  ~QueuePipe() override;

  long long Read(std::byte* buffer, std::size_t size) override;
  bool Write(const std::byte* data, std::size_t size) override;
  bool Adopt(std::byte* block, std::size_t size) override;

 private:
  struct Chunk;

  // Append adds a chunk of `capacity` bytes at `bytes` after the last one and
  // returns it, or returns null, leaving them to the caller, when there is
  // no memory for its record.
  [[nodiscard]] Chunk* Append(std::byte* bytes, std::size_t capacity);
  void PopFront();

  std::unique_ptr<Chunk> head_;
  Chunk* tail_ = nullptr;
  std::size_t read_offset_ = 0;  // into head_
  bool failed_ = false;
};

}  // namespace mirdutils

#endif  // MIRDUTILS_QUEUE_PIPE_H_
