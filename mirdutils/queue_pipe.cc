#include "mirdutils/queue_pipe.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "mirdutils/chunk_memory.h"

namespace mirdutils {

struct QueuePipe::Chunk {
  Chunk(std::byte* chunk_bytes, std::size_t chunk_capacity)
      : bytes(chunk_bytes), capacity(chunk_capacity) {}
  ~Chunk() { FreeChunk(bytes); }
  Chunk(const Chunk&) = delete;
  Chunk& operator=(const Chunk&) = delete;

  std::unique_ptr<Chunk> next;
  std::byte* const bytes;
  const std::size_t capacity;
  std::size_t end = 0;  // bytes written into it
};

QueuePipe::QueuePipe() noexcept = default;

QueuePipe::~QueuePipe() {
  // One chunk at a time: a long list must not unwind through the stack.
  while (head_) {
    PopFront();
  }
}

void QueuePipe::PopFront() {
  std::unique_ptr<Chunk> front = std::move(head_);
  head_ = std::move(front->next);
  if (!head_) {
    tail_ = nullptr;
  }
  read_offset_ = 0;
}

QueuePipe::Chunk* QueuePipe::Append(std::byte* bytes, std::size_t capacity) {
  if (bytes == nullptr) {
    return nullptr;
  }
  std::unique_ptr<Chunk> chunk(New<Chunk>(bytes, capacity));
  if (!chunk) {
    return nullptr;
  }
  Chunk* added = chunk.get();
  (tail_ != nullptr ? tail_->next : head_) = std::move(chunk);
  tail_ = added;
  return added;
}

long long QueuePipe::Read(std::byte* buffer, std::size_t size) {
  if (failed_) {
    return -1;
  }
  std::size_t copied = 0;
  while (copied < size && head_) {
    const std::size_t step = std::min(size - copied, head_->end - read_offset_);
    std::memcpy(buffer + copied, head_->bytes + read_offset_, step);
    copied += step;
    read_offset_ += step;
    if (read_offset_ == head_->end) {
      // Read through: its memory goes now, not when the pipe does. (The tail
      // chunk goes too; the next write makes a fresh one.)
      PopFront();
    }
  }
  return static_cast<long long>(copied);
}

bool QueuePipe::Write(const std::byte* data, std::size_t size) {
  if (failed_) {
    return false;
  }
  if (size == 0) {
    return true;
  }
  Chunk* last = tail_;
  const std::size_t spare =
      last != nullptr ? std::min(size, last->capacity - last->end) : 0;
  // The new chunk comes before any byte is copied, so that a write is taken
  // whole or not at all.
  Chunk* fresh = nullptr;
  if (spare < size) {
    const std::size_t capacity = std::max(size - spare, kMinChunk);
    std::byte* bytes = AllocateChunk(capacity);
    fresh = Append(bytes, capacity);
    if (fresh == nullptr) {
      FreeChunk(bytes);
      failed_ = true;
      return false;
    }
  }
  if (spare > 0) {
    std::memcpy(last->bytes + last->end, data, spare);
    last->end += spare;
  }
  if (fresh != nullptr) {
    std::memcpy(fresh->bytes, data + spare, size - spare);
    fresh->end = size - spare;
  }
  return true;
}

bool QueuePipe::Adopt(std::byte* block, std::size_t size) {
  if (failed_) {
    return false;
  }
  if (size == 0) {
    FreeChunk(block);
    return true;
  }
  // No memory for the record: nothing is taken and nothing is lost, so the
  // pipe stays usable; the caller still has the block.
  Chunk* adopted = Append(block, size);
  if (adopted == nullptr) {
    return false;
  }
  // Full, whatever more the block may hold: a later write starts a chunk of
  // its own after it.
  adopted->end = size;
  return true;
}

}  // namespace mirdutils
