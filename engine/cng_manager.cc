#include "engine/cng_manager.h"

#include <utility>

namespace mirdcng {

CNGManager::CNGManager(std::string caller_tag) : tag(std::move(caller_tag)) {
  if (BCryptOpenAlgorithmProvider(algorithm.out(), BCRYPT_AES_ALGORITHM, nullptr, 0) !=
      STATUS_SUCCESS) {
    algorithm.Forget();
    return;
  }
  if (BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH,
                        reinterpret_cast<PUCHAR>(&keyObjectLength), sizeof(ULONG),
                        &resultLength, 0) != STATUS_SUCCESS) {
    return;
  }
  keyObject = HeapBlock::Allocate(keyObjectLength, HeapBlock::Wipe::kYes);
  if (!keyObject) {
    return;
  }
  // The secret is copied into the key object; the constant itself is never
  // written through this pointer.
  auto secret = kFixedKey;
  if (BCryptGenerateSymmetricKey(
          algorithm.get(), key.out(), keyObject.get(), keyObjectLength, secret.data(),
          static_cast<ULONG>(secret.size()), 0) != STATUS_SUCCESS) {
    key.Forget();
  }
  SecureZeroMemory(secret.data(), secret.size());
}

bool CNGManager::OpenSource(const std::string& src, HeldFile& held,
                            platform::Opened& source) {
  source = platform::OpenForReading(src.c_str());
  if (!source.file) {
    return Fail(source.not_regular ? Cause::kSourceNotRegular : Cause::kSourceUnreadable,
                source.error);
  }
  held.identity = source.identity;
  return true;
}

CNGManager::~CNGManager() {
  // The key goes before its provider and before the key object it lives in;
  // the heap blocks and the tag follow as members.
  key.Reset();
  algorithm.Reset();
  SecureZeroMemory(tag.data(), tag.size());
}

}  // namespace mirdcng
