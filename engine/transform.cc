// The two-pass transform that every operation drives the cipher through:
// block length, IV buffer, a size query, an output block of that size, then
// the transform itself.
#include <cstring>

#include "engine/cng_manager.h"

namespace mirdcng {
namespace {

// A ciphertext that is not a whole number of blocks, or whose padding is
// wrong, is the file's fault; any other status is the cipher's.
Cause CauseOf(NTSTATUS status) {
  return status == STATUS_INVALID_BUFFER_SIZE || status == STATUS_DATA_ERROR
             ? Cause::kMalformed
             : Cause::kCipherFailed;
}

}  // namespace

bool CNGManager::QueryBlockLength(ULONG& length) {
  const bool answered =
      BCryptGetProperty(algorithm.get(), BCRYPT_BLOCK_LENGTH,
                        reinterpret_cast<PUCHAR>(&length), sizeof(ULONG), &resultLength,
                        0) == STATUS_SUCCESS;
  return (answered && length == kIvLength) || Fail(Cause::kCipherFailed);
}

bool CNGManager::RunPasses(Direction direction, PUCHAR input, ULONG input_length,
                           ULONG iv_length, ULONG& first_count, PUCHAR& output,
                           ULONG& second_count) {
  // A key that was never made for want of memory for its object (the size
  // was known, the block was not had) fails as what it is.
  if (!key && !keyObject && keyObjectLength != 0) {
    return Fail(Cause::kOutOfMemory);
  }
  const auto cipher = direction == Direction::kEncrypt ? BCryptEncrypt : BCryptDecrypt;
  NTSTATUS status = cipher(key.get(), input, input_length, nullptr, iv.get(), iv_length,
                           nullptr, 0, &first_count, BCRYPT_BLOCK_PADDING);
  if (status != STATUS_SUCCESS) {
    return Fail(CauseOf(status));
  }
  // Ciphertext needs no wiping; plaintext does.
  const auto wipe =
      direction == Direction::kDecrypt ? HeapBlock::Wipe::kYes : HeapBlock::Wipe::kNo;
  output_ = HeapBlock::Allocate(first_count, wipe);
  if (!output_) {
    return Fail(Cause::kOutOfMemory);
  }
  output = output_.get();
  // first_count and second_count may be the same field (plainLength).
  const ULONG output_size = first_count;
  status = cipher(key.get(), input, input_length, nullptr, iv.get(), iv_length, output,
                  output_size, &second_count, BCRYPT_BLOCK_PADDING);
  return status == STATUS_SUCCESS || Fail(CauseOf(status));
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
    return Fail(Cause::kOutOfMemory);
  }
  std::memcpy(iv.get(), container.iv.data(), kIvLength);
  return RunPasses(Direction::kDecrypt, cipherText, cipherLength, block_length,
                   plainLength, plainText, plainLength);
}

}  // namespace mirdcng
