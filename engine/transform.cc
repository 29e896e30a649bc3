// The two-pass transform that every operation drives the cipher through:
// block length, IV buffer, a size query, then the transform itself, in the
// block that holds the input.
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

bool CNGManager::RunPasses(Direction direction, PUCHAR data, ULONG input_length,
                           std::size_t capacity, ULONG iv_length, ULONG& first_count,
                           ULONG& second_count) {
  // A key that was never made for want of memory for its object (the size
  // was known, the block was not had) fails as what it is.
  if (!key && !keyObject && keyObjectLength != 0) {
    return Fail(Cause::kOutOfMemory);
  }
  const auto cipher = direction == Direction::kEncrypt ? BCryptEncrypt : BCryptDecrypt;
  NTSTATUS status = cipher(key.get(), data, input_length, nullptr, iv.get(), iv_length,
                           nullptr, 0, &first_count, BCRYPT_BLOCK_PADDING);
  if (status != STATUS_SUCCESS) {
    return Fail(CauseOf(status));
  }
  // The callers' blocks have room for the padding that encryption adds, and
  // decryption gives no more than it takes: an answer beyond that is the
  // cipher's fault, and nothing is written past the block.
  if (first_count > capacity) {
    return Fail(Cause::kCipherFailed);
  }
  // first_count and second_count may be the same field (plainLength).
  const ULONG output_size = first_count;
  // Input and output are one buffer: both cipher APIs allow exactly that, an
  // output equal to the input (an overlap by any other offset they do not).
  status = cipher(key.get(), data, input_length, nullptr, iv.get(), iv_length, data,
                  output_size, &second_count, BCRYPT_BLOCK_PADDING);
  return status == STATUS_SUCCESS || Fail(CauseOf(status));
}

std::array<std::span<const std::uint8_t>, 2> CNGManager::Restore(HeldFile& held) {
  const bool sealed = held.state == HeldFile::State::kSealed;
  if (!sealed && held.state != HeldFile::State::kUnsealed) {
    return {};
  }
  held.state = HeldFile::State::kRead;
  // Either way the cipher starts again from the IV the container records.
  // Encryption is deterministic under a given IV, PKCS#7 padding included,
  // so the ciphertext made again is the one that was decrypted, byte for byte.
  PUCHAR data = held.block.get() + (sealed ? kHeaderLength : 0);
  const std::uint8_t* file_iv =
      (sealed ? held.block.get() : held.header.data()) + kIvOffset;
  std::memcpy(iv.get(), file_iv, kIvLength);
  const auto cipher = sealed ? BCryptDecrypt : BCryptEncrypt;
  const auto input_length =
      static_cast<ULONG>(sealed ? held.cipher_length : held.plain_length);
  const auto capacity = static_cast<ULONG>(held.cipher_length);
  ULONG count = 0;
  if (cipher(key.get(), data, input_length, nullptr, iv.get(), kIvLength, data, capacity,
             &count, BCRYPT_BLOCK_PADDING) != STATUS_SUCCESS) {
    return {};
  }
  if (sealed) {
    return {std::span<const std::uint8_t>(), std::span(data, held.source_length)};
  }
  return {std::span<const std::uint8_t>(held.header), std::span(data, count)};
}

}  // namespace mirdcng
