#include "mirdutils/queue_pipe.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace mirdutils {

long long QueuePipe::Read(std::byte* buffer, std::size_t size) {
  std::size_t copied = 0;
  while (copied < size && !chunks_.empty()) {
    Chunk& front = chunks_.front();
    const std::size_t step = std::min(size - copied, front.end - read_offset_);
    std::memcpy(buffer + copied, front.bytes.get() + read_offset_, step);
    copied += step;
    read_offset_ += step;
    if (read_offset_ == front.end) {
      // Read through: its memory goes now, not when the pipe does. (The tail
      // chunk goes too; the next write makes a fresh one.)
      chunks_.pop_front();
      read_offset_ = 0;
    }
  }
  return static_cast<long long>(copied);
}

bool QueuePipe::Write(const std::byte* data, std::size_t size) {
  if (size == 0) {
    return true;
  }
  std::size_t spare = 0;
  if (!chunks_.empty()) {
    const Chunk& tail = chunks_.back();
    spare = std::min(size, tail.capacity - tail.end);
  }
  // Every allocation comes before any byte is taken, so that a write that
  // fails leaves the pipe as it was.
  if (spare < size) {
    const std::size_t capacity = std::max(size - spare, kMinChunk);
    Chunk chunk{std::unique_ptr<std::byte[]>(new (std::nothrow) std::byte[capacity]),
                capacity, 0};
    if (!chunk.bytes) {
      return false;
    }
    chunks_.push_back(std::move(chunk));  // may throw, leaving the pipe as it was
    if (spare > 0) {
      Chunk& tail = chunks_[chunks_.size() - 2];
      std::memcpy(tail.bytes.get() + tail.end, data, spare);
      tail.end += spare;
    }
    Chunk& fresh = chunks_.back();
    std::memcpy(fresh.bytes.get(), data + spare, size - spare);
    fresh.end = size - spare;
    return true;
  }
  Chunk& tail = chunks_.back();
  std::memcpy(tail.bytes.get() + tail.end, data, size);
  tail.end += size;
  return true;
}

}  // namespace mirdutils
