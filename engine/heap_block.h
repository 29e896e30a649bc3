// HeapBlock: the one owner of a block from the process heap.
//
// Blocks come uninitialised (flags 0), as the engine never relies on their
// first content. A block made with Wipe::kYes is zeroed before it is freed,
// for blocks that hold keys, IVs or plaintext.
#ifndef MIRDCNG_ENGINE_HEAP_BLOCK_H_
#define MIRDCNG_ENGINE_HEAP_BLOCK_H_

#include <cstddef>
#include <utility>

#include "platform/cng.h"

namespace mirdcng {

class HeapBlock {
 public:
  enum class Wipe { kNo, kYes };

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

  PUCHAR get() const { return data_; }
  std::size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }

  void Release() {
    if (data_ == nullptr) {
      return;
    }
    if (wipe_ == Wipe::kYes) {
      SecureZeroMemory(data_, size_);
    }
    HeapFree(GetProcessHeap(), 0, data_);
    data_ = nullptr;
    size_ = 0;
  }

 private:
  PUCHAR data_ = nullptr;
  std::size_t size_ = 0;
  Wipe wipe_ = Wipe::kNo;
};

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_HEAP_BLOCK_H_
