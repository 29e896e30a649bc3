// ByteBuffer: a growable array of bytes that may hold plaintext, such as a
// small destination gathered into one write (a file itself is held in one
// block, engine/held_file.h).
//
// Three things set it apart from a plain vector: growing it leaves the new
// bytes uninitialised (they are written over at once, so zeroing them first
// is wasted work), its storage comes from the platform's memory for
// whole-file buffers (huge pages for large ones), and it is wiped before its
// memory can serve the process again.
#ifndef MIRDCNG_ENGINE_BYTE_BUFFER_H_
#define MIRDCNG_ENGINE_BYTE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/memory.h"

namespace mirdcng {

// BufferAllocator hands out the platform's memory for whole-file buffers and
// has it wiped as it goes back (platform/memory.h).
template <class T>
class BufferAllocator {
 public:
  using value_type = T;
  template <class U>
  struct rebind {
    using other = BufferAllocator<U>;
  };

  BufferAllocator() = default;
  template <class U>
  explicit BufferAllocator(const BufferAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    static_assert(alignof(T) <= 16);
    if (n > SIZE_MAX / sizeof(T)) {
      throw std::bad_array_new_length();
    }
    void* block = platform::AllocateBytes(n * sizeof(T));
    if (block == nullptr) {
      throw std::bad_alloc();
    }
    return static_cast<T*>(block);
  }

  void deallocate(T* block, std::size_t /*n*/) noexcept {
    platform::FreeBytes(block, platform::Wipe::kYes);
  }

  // Value-less construction default-initialises: bytes stay as they were.
  template <class U>
  void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(place)) U;
  }
  template <class U, class... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const BufferAllocator&, const BufferAllocator&) { return true; }
};

using ByteBuffer = std::vector<std::uint8_t, BufferAllocator<std::uint8_t>>;

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_BYTE_BUFFER_H_
