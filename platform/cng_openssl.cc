// The CNG stand-in: the "AES" provider in CBC mode on OpenSSL's libcrypto
// (EVP, so AES-NI is used where the processor has it), and the system-preferred
// random generator on the kernel's (getrandom).
//
// It copies Windows' behaviour wherever a caller can observe it: the statuses,
// size queries that leave the IV alone, the IV left holding the last
// ciphertext block, in-place operation, and a padding check of every pad byte.
#include <openssl/evp.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

// The key lives in the caller's key object, as on Windows. The EVP contexts
// are keyed once here, so that a call only sets its IV.
struct KeyObject {
  std::uint32_t magic = kKeyMagic;
  bool owns_storage = false;
  CipherContext encrypt;
  CipherContext decrypt;
};

// The key object is placed at the first suitably aligned byte of the caller's
// block, so "ObjectLength" includes room for that.
constexpr ULONG kKeyObjectLength =
    static_cast<ULONG>(sizeof(KeyObject) + alignof(KeyObject) - 1);

[[maybe_unused]] NTSTATUS Status(NTSTATUS status) { return status; }

// The cipher implementations are fetched once per process, as the platform's
// own provider resolves its algorithm once.
const EVP_CIPHER* CbcCipher(ULONG key_length) {
  static EVP_CIPHER* const aes128 = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
  static EVP_CIPHER* const aes192 = EVP_CIPHER_fetch(nullptr, "AES-192-CBC", nullptr);
  static EVP_CIPHER* const aes256 = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  switch (key_length) {
    case 16:
      return aes128;
    case 24:
      return aes192;
    case 32:
      return aes256;
    default:
      return nullptr;
  }
}

Provider* AsProvider(BCRYPT_HANDLE handle) {
  auto* provider = static_cast<Provider*>(handle);
  return provider != nullptr && provider->magic == kProviderMagic ? provider : nullptr;
}

KeyObject* AsKey(BCRYPT_HANDLE handle) {
  auto* key = static_cast<KeyObject*>(handle);
  return key != nullptr && key->magic == kKeyMagic ? key : nullptr;
}

bool IsAesHandle(BCRYPT_HANDLE handle) {
  if (handle == nullptr) {
    return false;
  }
  const std::uint32_t magic = *static_cast<const std::uint32_t*>(handle);
  return magic == kProviderMagic || magic == kKeyMagic;
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

NTSTATUS WriteWide(const wchar_t* text, PUCHAR output, ULONG output_len, ULONG* result) {
  const auto bytes = static_cast<ULONG>((std::wcslen(text) + 1) * sizeof(wchar_t));
  *result = bytes;
  if (output == nullptr) {
    return STATUS_SUCCESS;
  }
  if (output_len < bytes) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memcpy(output, text, bytes);
  return STATUS_SUCCESS;
}

// Runs whole blocks through a keyed context whose IV is already set.
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
  static const UCHAR kZeroIv[kAesBlock] = {};
  return EVP_CipherInit_ex2(context, nullptr, nullptr, iv != nullptr ? iv : kZeroIv, -1,
                            nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(context, 0) == 1;
}

// Checks shared by both directions; STATUS_SUCCESS when the call may go on.
NTSTATUS CheckCipherCall(KeyObject* key, PUCHAR input, ULONG input_len, PUCHAR iv,
                         ULONG iv_len, ULONG* result, ULONG flags) {
  if (key == nullptr) {
    return STATUS_INVALID_HANDLE;
  }
  if (result == nullptr || (flags & ~BCRYPT_BLOCK_PADDING) != 0 ||
      (input == nullptr && input_len != 0) || (iv != nullptr && iv_len != kAesBlock)) {
    return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
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
      CbcCipher(16) == nullptr) {
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
  provider->magic = kDeadMagic;
  delete provider;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                           ULONG output_len, ULONG* result, ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kGetProperty, Status);
  if (!IsAesHandle(object)) {
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
  if (std::wcscmp(property, BCRYPT_CHAINING_MODE) == 0) {
    return WriteWide(BCRYPT_CHAIN_MODE_CBC, output, output_len, result);
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
  const EVP_CIPHER* cipher = CbcCipher(secret_len);
  if (key == nullptr || secret == nullptr || cipher == nullptr || flags != 0) {
    return STATUS_INVALID_PARAMETER;
  }
  // Without a key object of the caller's, the key keeps its own storage.
  void* storage = key_object;
  bool owns_storage = false;
  if (key_object == nullptr && key_object_len == 0) {
    storage = ::operator new(kKeyObjectLength, std::nothrow);
    if (storage == nullptr) {
      return STATUS_NO_MEMORY;
    }
    owns_storage = true;
  } else if (key_object == nullptr || key_object_len < kKeyObjectLength) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::size_t space = kKeyObjectLength;
  void* place = std::align(alignof(KeyObject), sizeof(KeyObject), storage, space);
  if (place == nullptr) {  // cannot happen: kKeyObjectLength leaves room
    if (owns_storage) {
      ::operator delete(storage);
    }
    return STATUS_BUFFER_TOO_SMALL;
  }
  auto* made = new (place) KeyObject;
  made->owns_storage = owns_storage;
  made->encrypt.reset(EVP_CIPHER_CTX_new());
  made->decrypt.reset(EVP_CIPHER_CTX_new());
  if (made->encrypt == nullptr || made->decrypt == nullptr ||
      EVP_EncryptInit_ex2(made->encrypt.get(), cipher, secret, nullptr, nullptr) != 1 ||
      EVP_DecryptInit_ex2(made->decrypt.get(), cipher, secret, nullptr, nullptr) != 1) {
    made->~KeyObject();
    if (owns_storage) {
      ::operator delete(storage);
    }
    return STATUS_NO_MEMORY;
  }
  *key = made;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key) {
  KeyObject* object = AsKey(key);
  if (object == nullptr) {
    return STATUS_INVALID_HANDLE;
  }
  const bool owns_storage = object->owns_storage;
  object->~KeyObject();  // EVP_CIPHER_CTX_free wipes the key schedules
  object->magic = kDeadMagic;
  if (owns_storage) {
    ::operator delete(static_cast<void*>(object));
  }
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
  KeyObject* object = AsKey(key);
  if (NTSTATUS status =
          CheckCipherCall(object, input, input_len, iv, iv_len, result, flags);
      status != STATUS_SUCCESS) {
    return status;
  }
  const bool padded = (flags & BCRYPT_BLOCK_PADDING) != 0;
  if (!padded && input_len % kAesBlock != 0) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  if (padded && input_len > std::numeric_limits<ULONG>::max() - kAesBlock) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  const ULONG whole = input_len & ~(kAesBlock - 1);
  const ULONG needed = padded ? whole + kAesBlock : input_len;
  *result = needed;
  if (output == nullptr) {
    return STATUS_SUCCESS;
  }
  if (output_len < needed) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  EVP_CIPHER_CTX* context = object->encrypt.get();
  if (!SetIv(context, iv) || !CbcBlocks(context, input, output, whole)) {
    return STATUS_UNSUCCESSFUL;
  }
  if (padded) {
    // The tail is copied out before the last block is written, so that the
    // same buffer may serve as input and output.
    UCHAR last[kAesBlock];
    const ULONG tail = input_len - whole;
    std::memcpy(last, input + whole, tail);
    std::memset(last + tail, static_cast<int>(kAesBlock - tail), kAesBlock - tail);
    const bool ok = CbcBlocks(context, last, output + whole, kAesBlock);
    SecureZeroMemory(last, sizeof last);
    if (!ok) {
      return STATUS_UNSUCCESSFUL;
    }
  }
  if (iv != nullptr && needed > 0) {
    std::memcpy(iv, output + needed - kAesBlock, kAesBlock);
  }
  return STATUS_SUCCESS;
}

NTSTATUS BCryptDecrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG input_len,
                       PVOID /*padding_info*/, PUCHAR iv, ULONG iv_len, PUCHAR output,
                       ULONG output_len, ULONG* result, ULONG flags) {
  MIRDCNG_FAULT_POINT(mirdcng::platform::Call::kDecrypt, Status);
  KeyObject* object = AsKey(key);
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
    *result = 0;
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
  if (iv != nullptr) {
    std::memcpy(iv, next_iv, kAesBlock);
  }
  return STATUS_SUCCESS;
}
