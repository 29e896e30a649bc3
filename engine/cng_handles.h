// Owners of the two CNG handles the engine holds. Each releases its handle
// when it goes, or earlier through Reset.
#ifndef MIRDCNG_ENGINE_CNG_HANDLES_H_
#define MIRDCNG_ENGINE_CNG_HANDLES_H_

#include <utility>

#include "platform/cng.h"

namespace mirdcng {

// AlgorithmHandle owns an open provider (BCryptCloseAlgorithmProvider).
class AlgorithmHandle {
 public:
  AlgorithmHandle() = default;
  ~AlgorithmHandle() { Reset(); }
  AlgorithmHandle(const AlgorithmHandle&) = delete;
  AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;

  BCRYPT_ALG_HANDLE get() const { return handle_; }
  // out receives a handle that this object then owns.
  BCRYPT_ALG_HANDLE* out() {
    Reset();
    return &handle_;
  }
  explicit operator bool() const { return handle_ != nullptr; }

  // Forget drops whatever a failed open left behind, without closing it.
  void Forget() { handle_ = nullptr; }

  void Reset() {
    if (handle_ != nullptr) {
      BCryptCloseAlgorithmProvider(std::exchange(handle_, nullptr), 0);
    }
  }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// KeyHandle owns a key (BCryptDestroyKey). The key object it lives in must
// outlive it.
class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() { Reset(); }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;

  BCRYPT_KEY_HANDLE get() const { return handle_; }
  BCRYPT_KEY_HANDLE* out() {
    Reset();
    return &handle_;
  }
  explicit operator bool() const { return handle_ != nullptr; }

  // Forget drops whatever a failed generation left behind, without destroying it.
  void Forget() { handle_ = nullptr; }

  void Reset() {
    if (handle_ != nullptr) {
      BCryptDestroyKey(std::exchange(handle_, nullptr));
    }
  }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_CNG_HANDLES_H_
