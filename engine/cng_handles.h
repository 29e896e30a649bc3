// Owners of the two CNG handles the engine holds. Each releases its handle
// when it goes, or earlier through Reset.
#ifndef MIRDCNG_ENGINE_CNG_HANDLES_H_
#define MIRDCNG_ENGINE_CNG_HANDLES_H_

#include <utility>

#include "platform/cng.h"

namespace mirdcng {

// CngHandle owns one handle of the kind `Traits` describes: its type, and
// how it is released.
template <class Traits>
class CngHandle {
 public:
  using Handle = typename Traits::Handle;

  CngHandle() = default;
  ~CngHandle() { Reset(); }
  CngHandle(const CngHandle&) = delete;
  CngHandle& operator=(const CngHandle&) = delete;

  Handle get() const { return handle_; }
  // out receives a handle that this object then owns.
  Handle* out() {
    Reset();
    return &handle_;
  }
  explicit operator bool() const { return handle_ != nullptr; }

  // Forget drops whatever a failed call left behind, without releasing it.
  void Forget() { handle_ = nullptr; }

  void Reset() {
    if (handle_ != nullptr) {
      Traits::Release(std::exchange(handle_, nullptr));
    }
  }

 private:
  Handle handle_ = nullptr;
};

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static void Release(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};

// The key object a key lives in must outlive it.
struct KeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static void Release(Handle handle) { BCryptDestroyKey(handle); }
};

// AlgorithmHandle owns an open provider; KeyHandle owns a key.
using AlgorithmHandle = CngHandle<AlgorithmTraits>;
using KeyHandle = CngHandle<KeyTraits>;

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_CNG_HANDLES_H_
