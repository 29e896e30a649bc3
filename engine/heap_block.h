// HeapBlock: the one owner of a block from the process heap, or of one of
// the platform's memory for whole files (the same blocks, platform/memory.h).
//
// Blocks come uninitialised (flags 0), as the engine never relies on their
// first content. A block made with Wipe::kYes, for keys, IVs or plaintext, is
// wiped as it is freed, wherever its memory would stay in the process
// (platform/memory.h).
#ifndef MIRDCNG_ENGINE_HEAP_BLOCK_H_
#define MIRDCNG_ENGINE_HEAP_BLOCK_H_

#include <algorithm>
#include <cstddef>
#include <utility>

#include "platform/cng.h"
#include "platform/memory.h"

namespace mirdcng {

class HeapBlock {
 public:
  using Wipe = platform::Wipe;

  HeapBlock() = default;
  ~HeapBlock() { Release(); }

  HeapBlock(HeapBlock&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        wipe_(other.wipe_) {}
  HeapBlock& operator=(HeapBlock&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      wipe_ = other.wipe_;
    }
    return *this;
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  // Allocate returns a block of `size` bytes, or an empty HeapBlock when the
  // heap refuses.
  static HeapBlock Allocate(std::size_t size, Wipe wipe) {
    HeapBlock block;
    block.data_ = static_cast<PUCHAR>(HeapAlloc(GetProcessHeap(), 0, size));
    block.size_ = block.data_ != nullptr ? size : 0;
    block.wipe_ = wipe;
    return block;
  }

  // ForWholeFile returns a block of `size` bytes of the platform's memory for
  // whole files, wiped as it goes, or an empty HeapBlock when there is none.
  // A file passes through its block as plaintext, before or after its
  // transform, whichever way it goes.
  static HeapBlock ForWholeFile(std::size_t size) {
    HeapBlock block;
    block.data_ = static_cast<PUCHAR>(platform::AllocateBytes(size));
    block.size_ = block.data_ != nullptr ? size : 0;
    block.wipe_ = Wipe::kYes;
    return block;
  }

  PUCHAR get() const { return data_; }
  // The bytes that count: all of the block, or fewer after Shrink.
  std::size_t size() const { return size_; }
  Wipe wipe() const { return wipe_; }
  explicit operator bool() const { return data_ != nullptr; }

  // Shrink counts only the first `size` bytes from now on; the rest stays
  // allocated, and is wiped with the block.
  void Shrink(std::size_t size) { size_ = std::min(size, size_); }

  // Detach gives the block up without freeing it: its new owner frees it
  // with platform::FreeBytes, wiping it as wipe() says.
  [[nodiscard]] PUCHAR Detach() {
    size_ = 0;
    return std::exchange(data_, nullptr);
  }

  void Release() {
    platform::FreeBytes(std::exchange(data_, nullptr), wipe_);
    size_ = 0;
  }

 private:
  PUCHAR data_ = nullptr;
  std::size_t size_ = 0;
  Wipe wipe_ = Wipe::kNo;
};

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_HEAP_BLOCK_H_
