// The CNG stand-in: the "AES" provider with AES-128 keys in CBC mode on
// OpenSSL's libcrypto (EVP, so AES-NI is used where the processor has it), and
// the system-preferred random generator on the kernel's (getrandom).
//
// It copies Windows' behaviour wherever the library can observe it: the
// statuses, size queries that leave the IV alone, the IV left holding the last
// ciphertext block, in-place operation, and a padding check of every pad byte.
#include <openssl/evp.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <limits>
#include <memory>
#include <new>

#include "platform/cng.h"
#include "platform/fault_injection.h"

namespace {

constexpr ULONG kAesBlock = 16;
constexpr ULONG kAes128KeyLength = 16;
constexpr std::uint32_t kProviderMagic = 0x41455350;  // "AESP"
constexpr std::uint32_t kKeyMagic = 0x4145534B;       // "AESK"
constexpr std::uint32_t kDeadMagic = 0;
// EVP takes int lengths; larger buffers go through in whole-block chunks.
constexpr std::size_t kEvpChunk = std::size_t{1} << 30;

struct Provider {
  std::uint32_t magic = kProviderMagic;
};

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

// The EVP contexts are keyed once, when the key is made, so that a call only
// sets its IV.
struct Key {
  CipherContext encrypt;
  CipherContext decrypt;
};

// A key lives in the caller's key object, as on Windows, and its handle is
// the start of that block. The block begins with a magic word, kept as raw
// bytes outside the Key so that it outlives it: BCryptDestroyKey marks the
// word dead after the Key is destroyed, and a destroyed handle then fails the
// check. The Key follows at the first suitably aligned byte, so
// "ObjectLength" includes room for that.
constexpr std::size_t kKeyOffset = sizeof(std::uint32_t);
constexpr ULONG kKeyObjectLength =
    static_cast<ULONG>(kKeyOffset + sizeof(Key) + alignof(Key) - 1);

[[maybe_unused]] NTSTATUS Status(NTSTATUS status) { return status; }

std::uint32_t MagicOf(BCRYPT_HANDLE handle) {
  std::uint32_t magic = kDeadMagic;
  if (handle != nullptr) {
    std::memcpy(&magic, handle, sizeof magic);
  }
  return magic;
}

void SetMagic(BCRYPT_HANDLE handle, std::uint32_t magic) {
  std::memcpy(handle, &magic, sizeof magic);
}

// Where in the key object starting at `block` the Key is placed.
void* KeyPlace(void* block) {
  const auto after_magic = reinterpret_cast<std::uintptr_t>(block) + kKeyOffset;
  const std::uintptr_t aligned = (after_magic + alignof(Key) - 1) & ~(alignof(Key) - 1);
  return reinterpret_cast<void*>(aligned);
}

Provider* AsProvider(BCRYPT_HANDLE handle) {
  return MagicOf(handle) == kProviderMagic ? static_cast<Provider*>(handle) : nullptr;
}

Key* AsKey(BCRYPT_HANDLE handle) {
  return MagicOf(handle) == kKeyMagic ? std::launder(static_cast<Key*>(KeyPlace(handle)))
                                      : nullptr;
}

// The AES-128-CBC implementation, fetched once per process, as the platform's
// own provider resolves its algorithm once.
const EVP_CIPHER* Aes128Cbc() {
  static EVP_CIPHER* const cipher = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
  return cipher;
}

NTSTATUS WriteUlong(ULONG value, PUCHAR output, ULONG output_len, ULONG* result) {
  *result = sizeof(ULONG);
  if (output == nullptr) {
    return STATUS_SUCCESS;
  }
  if (output_len < sizeof(ULONG)) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memcpy(output, &value, sizeof value);
  return STATUS_SUCCESS;
}

// MakeKey builds a Key at `place` keyed with `secret`, or returns null.
Key* MakeKey(void* place, const UCHAR* secret) {
  auto* key = new (place) Key;
  key->encrypt.reset(EVP_CIPHER_CTX_new());
  key->decrypt.reset(EVP_CIPHER_CTX_new());
  if (key->encrypt == nullptr || key->decrypt == nullptr ||
      EVP_EncryptInit_ex2(key->encrypt.get(), Aes128Cbc(), secret, nullptr, nullptr) !=
          1 ||
      EVP_DecryptInit_ex2(key->decrypt.get(), Aes128Cbc(), secret, nullptr, nullptr) !=
          1) {
    key->~Key();
    return nullptr;
  }
  return key;
}

// Runs whole blocks through a keyed context whose IV is already set. `out`
// may be `in` itself (the engine transforms in place): EVP allows that as
// long as the context holds no partial block from an earlier call, and with
// its padding off and whole blocks only it never does.
bool CbcBlocks(EVP_CIPHER_CTX* context, const UCHAR* in, UCHAR* out, std::size_t length) {
  while (length > 0) {
    const std::size_t step = std::min(length, kEvpChunk);
    int produced = 0;
    if (EVP_CipherUpdate(context, out, &produced, in, static_cast<int>(step)) != 1 ||
        static_cast<std::size_t>(produced) != step) {
      return false;
    }
    in += step;
    out += step;
    length -= step;
  }
  return true;
}

bool SetIv(EVP_CIPHER_CTX* context, const UCHAR* iv) {
  return EVP_CipherInit_ex2(context, nullptr, nullptr, iv, -1, nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(context, 0) == 1;
}

// Checks shared by both directions; STATUS_SUCCESS when the call may go on.
NTSTATUS CheckCipherCall(Key* key, PUCHAR input, ULONG input_len, PUCHAR iv, ULONG iv_len,
                         ULONG* result, ULONG flags) {
  if (key == nullptr) {
    return STATUS_INVALID_HANDLE;
  }
  if (result == nullptr || (flags & ~BCRYPT_BLOCK_PADDING) != 0 ||
      (input == nullptr && input_len != 0) || iv == nullptr || iv_len != kAesBlock) {
    return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
}

// EncryptedSize gives the output size of an encryption of `input_len` bytes:
// the next whole block with padding (a whole block more when the input is
// whole), the input size without. False when there is none.
bool EncryptedSize(ULONG input_len, bool padded, ULONG* size) {
  if (!padded) {
    *size = input_len;
    return input_len % kAesBlock == 0;
  }
  *size = (input_len & ~(kAesBlock - 1)) + kAesBlock;
  return input_len <= std::numeric_limits<ULONG>::max() - kAesBlock;
}

// EncryptPaddedTail encrypts the last `tail` (0 to 15) bytes of the input with
// their PKCS#7 padding as one block. The tail is copied out before the block
// is written, so that the same buffer may serve as input and output.
bool EncryptPaddedTail(EVP_CIPHER_CTX* context, const UCHAR* tail_in, ULONG tail,
                       UCHAR* out) {
  UCHAR last[kAesBlock];
  std::memcpy(last, tail_in, tail);
  std::memset(last + tail, static_cast<int>(kAesBlock - tail), kAesBlock - tail);
  const bool ok = CbcBlocks(context, last, out, kAesBlock);
  SecureZeroMemory(last, sizeof last);
  return ok;
}

// PKCS#7: the last byte p must be 1..16 and the last p bytes must all be p.
// Every byte of the last block is looked at, whatever p is, so that the time
// taken does not depend on where the padding is wrong.
bool PaddingValid(const UCHAR* last_block, ULONG* pad) {
  const unsigned p = last_block[kAesBlock - 1];
  unsigned bad = static_cast<unsigned>(p == 0) | static_cast<unsigned>(p > kAesBlock);
  for (unsigned i = 0; i < kAesBlock; ++i) {
    const unsigned in_pad = static_cast<unsigned>(kAesBlock - i <= p);
    bad |= in_pad & static_cast<unsigned>(last_block[i] != p);
  }
  *pad = p;
  return bad == 0;
}

}  // namespace

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR alg_id,
                                     LPCWSTR implementation, ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kOpenAlgorithmProvider, Status);
  if (algorithm == nullptr || alg_id == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  if (flags != 0) {
    return STATUS_NOT_SUPPORTED;
  }
  if (implementation != nullptr || std::wcscmp(alg_id, BCRYPT_AES_ALGORITHM) != 0 ||
      Aes128Cbc() == nullptr) {
    return STATUS_NOT_FOUND;
  }
  auto* provider = new (std::nothrow) Provider;
  if (provider == nullptr) {
    return STATUS_NO_MEMORY;
  }
  *algorithm = provider;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  Provider* provider = AsProvider(algorithm);
  if (provider == nullptr) {
    return STATUS_INVALID_HANDLE;
  }
  if (flags != 0) {
    return STATUS_INVALID_PARAMETER;
  }
  delete provider;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                           ULONG output_len, ULONG* result, ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kGetProperty, Status);
  if (AsProvider(object) == nullptr) {
    return STATUS_INVALID_HANDLE;
  }
  if (property == nullptr || result == nullptr || flags != 0) {
    return STATUS_INVALID_PARAMETER;
  }
  if (std::wcscmp(property, BCRYPT_BLOCK_LENGTH) == 0) {
    return WriteUlong(kAesBlock, output, output_len, result);
  }
  if (std::wcscmp(property, BCRYPT_OBJECT_LENGTH) == 0) {
    return WriteUlong(kKeyObjectLength, output, output_len, result);
  }
  return STATUS_NOT_SUPPORTED;
}

NTSTATUS BCryptGenerateSymmetricKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key,
                                    PUCHAR key_object, ULONG key_object_len,
                                    PUCHAR secret, ULONG secret_len, ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kGenerateSymmetricKey, Status);
  if (AsProvider(algorithm) == nullptr) {
    return STATUS_INVALID_HANDLE;
  }
  if (key == nullptr || key_object == nullptr || secret == nullptr ||
      secret_len != kAes128KeyLength || flags != 0) {
    return STATUS_INVALID_PARAMETER;
  }
  if (key_object_len < kKeyObjectLength) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (MakeKey(KeyPlace(key_object), secret) == nullptr) {
    return STATUS_NO_MEMORY;
  }
  SetMagic(key_object, kKeyMagic);
  *key = key_object;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key) {
  Key* object = AsKey(key);
  if (object == nullptr) {
    return STATUS_INVALID_HANDLE;
  }
  object->~Key();  // EVP_CIPHER_CTX_free wipes the key schedules
  SetMagic(key, kDeadMagic);
  return STATUS_SUCCESS;
}

NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG buffer_len,
                         ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kGenRandom, Status);
  if ((flags & BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0) {
    return algorithm == nullptr ? STATUS_INVALID_HANDLE : STATUS_NOT_SUPPORTED;
  }
  if (algorithm != nullptr || (buffer == nullptr && buffer_len != 0) ||
      (flags & ~BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
    return STATUS_INVALID_PARAMETER;
  }
  // The system's own generator, as on Windows: one system call for an IV,
  // where the library's generator would first check the process for a fork.
  while (buffer_len > 0) {
    const ssize_t got = getrandom(buffer, buffer_len, 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return STATUS_UNSUCCESSFUL;
    }
    buffer += got;
    buffer_len -= static_cast<ULONG>(got);
  }
  return STATUS_SUCCESS;
}

NTSTATUS BCryptEncrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG input_len,
                       PVOID /*padding_info*/, PUCHAR iv, ULONG iv_len, PUCHAR output,
                       ULONG output_len, ULONG* result, ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kEncrypt, Status);
  Key* object = AsKey(key);
  if (NTSTATUS status =
          CheckCipherCall(object, input, input_len, iv, iv_len, result, flags);
      status != STATUS_SUCCESS) {
    return status;
  }
  const bool padded = (flags & BCRYPT_BLOCK_PADDING) != 0;
  ULONG needed = 0;
  if (!EncryptedSize(input_len, padded, &needed)) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  *result = needed;
  if (output == nullptr) {
    return STATUS_SUCCESS;
  }
  if (output_len < needed) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  EVP_CIPHER_CTX* context = object->encrypt.get();
  const ULONG whole = input_len & ~(kAesBlock - 1);
  if (!SetIv(context, iv) || !CbcBlocks(context, input, output, whole) ||
      (padded &&
       !EncryptPaddedTail(context, input + whole, input_len - whole, output + whole))) {
    return STATUS_UNSUCCESSFUL;
  }
  if (needed > 0) {
    std::memcpy(iv, output + needed - kAesBlock, kAesBlock);
  }
  return STATUS_SUCCESS;
}

NTSTATUS BCryptDecrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG input_len,
                       PVOID /*padding_info*/, PUCHAR iv, ULONG iv_len, PUCHAR output,
                       ULONG output_len, ULONG* result, ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kDecrypt, Status);
  Key* object = AsKey(key);
  if (NTSTATUS status =
          CheckCipherCall(object, input, input_len, iv, iv_len, result, flags);
      status != STATUS_SUCCESS) {
    return status;
  }
  const bool padded = (flags & BCRYPT_BLOCK_PADDING) != 0;
  if (input_len % kAesBlock != 0 || (padded && input_len == 0)) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  *result = input_len;
  if (output == nullptr) {
    return STATUS_SUCCESS;
  }
  if (output_len < input_len) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (input_len == 0) {
    return STATUS_SUCCESS;
  }
  // Kept before an in-place decryption overwrites it: the next IV.
  UCHAR next_iv[kAesBlock];
  std::memcpy(next_iv, input + input_len - kAesBlock, kAesBlock);
  EVP_CIPHER_CTX* context = object->decrypt.get();
  if (!SetIv(context, iv) || !CbcBlocks(context, input, output, input_len)) {
    return STATUS_UNSUCCESSFUL;
  }
  ULONG pad = 0;
  if (padded && !PaddingValid(output + input_len - kAesBlock, &pad)) {
    return STATUS_DATA_ERROR;
  }
  *result = input_len - pad;
  std::memcpy(iv, next_iv, kAesBlock);
  return STATUS_SUCCESS;
}
