// The two-pass transform that every operation drives the cipher through:
// block length, IV buffer, a size query, an output block of that size, then
// the transform itself.
#include <cstring>

#include "engine/cng_manager.h"

namespace mirdcng {

bool CNGManager::QueryBlockLength(ULONG& length) {
  return BCryptGetProperty(algorithm.get(), BCRYPT_BLOCK_LENGTH,
                           reinterpret_cast<PUCHAR>(&length), sizeof(ULONG),
                           &resultLength, 0) == STATUS_SUCCESS &&
         length == kIvLength;
}

bool CNGManager::RunPasses(Direction direction, PUCHAR input, ULONG input_length,
                           ULONG iv_length, ULONG& first_count, PUCHAR& output,
                           ULONG& second_count) {
  const auto cipher = direction == Direction::kEncrypt ? BCryptEncrypt : BCryptDecrypt;
  if (cipher(key.get(), input, input_length, nullptr, iv.get(), iv_length, nullptr, 0,
             &first_count, BCRYPT_BLOCK_PADDING) != STATUS_SUCCESS) {
    return false;
  }
  // Ciphertext needs no wiping; plaintext does.
  const auto wipe =
      direction == Direction::kDecrypt ? HeapBlock::Wipe::kYes : HeapBlock::Wipe::kNo;
  output_ = HeapBlock::Allocate(first_count, wipe);
  if (!output_) {
    return false;
  }
  output = output_.get();
  // first_count and second_count may be the same field (plainLength).
  const ULONG output_size = first_count;
  return cipher(key.get(), input, input_length, nullptr, iv.get(), iv_length, output,
                output_size, &second_count, BCRYPT_BLOCK_PADDING) == STATUS_SUCCESS;
}

bool CNGManager::DecryptCiphertext(const ContainerView& container) {
  cipherText = container.ciphertext.data();
  cipherLength = static_cast<ULONG>(container.ciphertext.size());
  ULONG block_length = 0;
  if (!QueryBlockLength(block_length)) {
    return false;
  }
  iv = HeapBlock::Allocate(block_length, HeapBlock::Wipe::kYes);
  if (!iv) {
    return false;
  }
  std::memcpy(iv.get(), container.iv.data(), kIvLength);
  return RunPasses(Direction::kDecrypt, cipherText, cipherLength, block_length,
                   plainLength, plainText, plainLength);
}

}  // namespace mirdcng
