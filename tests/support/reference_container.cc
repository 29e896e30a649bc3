// Containers read and made with the reference cipher, whichever system
// library provides it.
#include <algorithm>

#include "engine/container_format.h"
#include "tests/support/reference_cipher.h"

namespace mirdcng::testing {

std::optional<Bytes> ReferenceOpen(std::span<const std::uint8_t> file) {
  if (file.size() < kHeaderLength || file[kMarkerOffset] != kContainerMarker) {
    return std::nullopt;
  }
  return ReferenceDecrypt(kFixedKey, file.subspan(kIvOffset, kIvLength),
                          file.subspan(kHeaderLength));
}

Bytes CraftContainer(std::uint8_t tag_length_byte, std::span<const std::uint8_t> iv,
                     std::span<const std::uint8_t> content) {
  const Bytes ciphertext = ReferenceEncrypt(kFixedKey, iv, content);
  Bytes file(kHeaderLength + ciphertext.size());
  auto next = file.begin();
  *next++ = kContainerMarker;
  *next++ = tag_length_byte;
  next = std::copy(iv.begin(), iv.end(), next);
  std::copy(ciphertext.begin(), ciphertext.end(), next);
  return file;
}

}  // namespace mirdcng::testing
