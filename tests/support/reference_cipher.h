// An independent AES-128-CBC with PKCS#7 padding, straight from the system's
// cipher library (OpenSSL's EVP on Linux, CNG on Windows) and never through the
// library's own code: what files are checked against, and how containers are
// crafted by hand.
#ifndef MIRDCNG_TESTS_SUPPORT_REFERENCE_CIPHER_H_
#define MIRDCNG_TESTS_SUPPORT_REFERENCE_CIPHER_H_

#include <optional>
#include <span>

#include "tests/support/temp_dir.h"

namespace mirdcng::testing {

// ReferenceEncrypt returns the padded CBC ciphertext of `plaintext`.
Bytes ReferenceEncrypt(std::span<const std::uint8_t> key,
                       std::span<const std::uint8_t> iv,
                       std::span<const std::uint8_t> plaintext);

// ReferenceDecrypt returns the plaintext, or nothing when the ciphertext does
// not decrypt (bad length or padding).
std::optional<Bytes> ReferenceDecrypt(std::span<const std::uint8_t> key,
                                      std::span<const std::uint8_t> iv,
                                      std::span<const std::uint8_t> ciphertext);

// ReferenceOpen decrypts the container `file` with the IV it records, under
// the library's fixed key, and returns its content: plaintext and tag trailer
// together. Nothing when `file` is not a container or does not decrypt.
std::optional<Bytes> ReferenceOpen(std::span<const std::uint8_t> file);

// CraftContainer builds a container by hand: marker, `tag_length_byte`, `iv`,
// and the reference ciphertext of `content` (plaintext and trailer) under the
// library's fixed key.
Bytes CraftContainer(std::uint8_t tag_length_byte, std::span<const std::uint8_t> iv,
                     std::span<const std::uint8_t> content);

}  // namespace mirdcng::testing

#endif  // MIRDCNG_TESTS_SUPPORT_REFERENCE_CIPHER_H_
