#include "tests/support/reference_cipher.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace mirdcng::testing {
namespace {

struct ContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

std::optional<Bytes> Run(bool encrypt, std::span<const std::uint8_t> key,
                         std::span<const std::uint8_t> iv,
                         std::span<const std::uint8_t> in) {
  std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter> context(EVP_CIPHER_CTX_new());
  if (key.size() != 16 || iv.size() != 16 || !context ||
      EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data(),
                        encrypt ? 1 : 0) != 1) {
    throw std::runtime_error("reference cipher setup failed");
  }
  Bytes out(in.size() + 16);
  int first = 0;
  int last = 0;
  if (EVP_CipherUpdate(context.get(), out.data(), &first, in.data(),
                       static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(context.get(), out.data() + first, &last) != 1) {
    return std::nullopt;
  }
  out.resize(static_cast<std::size_t>(first + last));
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
