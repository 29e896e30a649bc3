// ByteBuffer: the growable array of bytes that holds a whole file, a file and
// its tag, or a decrypted result.
//
// Two things set it apart from a plain vector: growing it leaves the new bytes
// uninitialised (a file is read straight over them, so zeroing them first is
// wasted work), and its storage is wiped before it goes back to the allocator,
// since it often holds plaintext.
#ifndef MIRDCNG_ENGINE_BYTE_BUFFER_H_
#define MIRDCNG_ENGINE_BYTE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/cng.h"

namespace mirdcng {

template <class T>
class WipingAllocator {
 public:
  using value_type = T;

  WipingAllocator() = default;
  template <class U>
  explicit WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }

  void deallocate(T* block, std::size_t n) noexcept {
    SecureZeroMemory(block, n * sizeof(T));
    std::allocator<T>{}.deallocate(block, n);
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

  friend bool operator==(const WipingAllocator&, const WipingAllocator&) {
    return true;
  }
};

using ByteBuffer = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_BYTE_BUFFER_H_
