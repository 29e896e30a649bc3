// The reference cipher of the Windows build: CNG called directly, with its own
// provider, key and IV, never through the library's engine.
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/cng.h"
#include "tests/support/reference_cipher.h"

namespace mirdcng::testing {
namespace {

std::optional<Bytes> Run(bool encrypt, std::span<const std::uint8_t> key,
                         std::span<const std::uint8_t> iv,
                         std::span<const std::uint8_t> in) {
  if (key.size() != 16 || iv.size() != 16) {
    throw std::runtime_error("reference cipher: AES-128 takes a 16-byte key and IV");
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
    throw std::runtime_error("reference cipher: no AES provider");
  }
  ULONG object_length = 0;
  ULONG written = 0;
  BCRYPT_KEY_HANDLE handle = nullptr;
  std::vector<UCHAR> object;
  Bytes secret(key.begin(), key.end());
  if (BCRYPT_SUCCESS(BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH,
                                       reinterpret_cast<PUCHAR>(&object_length),
                                       sizeof object_length, &written, 0))) {
    object.resize(object_length);
  }
  if (object.empty() || !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(
                            algorithm, &handle, object.data(), object_length,
                            secret.data(), static_cast<ULONG>(secret.size()), 0))) {
    BCryptCloseAlgorithmProvider(algorithm, 0);
    throw std::runtime_error("reference cipher: cannot make the key");
  }

  Bytes chain(iv.begin(), iv.end());
  Bytes input(in.begin(), in.end());
  Bytes out(in.size() + 16);
  ULONG produced = 0;
  const ULONG input_length = static_cast<ULONG>(input.size());
  const NTSTATUS status =
      encrypt ? BCryptEncrypt(handle, input.data(), input_length, nullptr, chain.data(),
                              16, out.data(), static_cast<ULONG>(out.size()), &produced,
                              BCRYPT_BLOCK_PADDING)
              : BCryptDecrypt(handle, input.data(), input_length, nullptr, chain.data(),
                              16, out.data(), static_cast<ULONG>(out.size()), &produced,
                              BCRYPT_BLOCK_PADDING);
  BCryptDestroyKey(handle);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!BCRYPT_SUCCESS(status)) {
    if (encrypt) {
      throw std::runtime_error("reference cipher: encryption failed");
    }
    return std::nullopt;
  }
  out.resize(produced);
  return out;
}

}  // namespace

Bytes ReferenceEncrypt(std::span<const std::uint8_t> key,
                       std::span<const std::uint8_t> iv,
                       std::span<const std::uint8_t> plaintext) {
  return *Run(true, key, iv, plaintext);
}

std::optional<Bytes> ReferenceDecrypt(std::span<const std::uint8_t> key,
                                      std::span<const std::uint8_t> iv,
                                      std::span<const std::uint8_t> ciphertext) {
  return Run(false, key, iv, ciphertext);
}

}  // namespace mirdcng::testing
