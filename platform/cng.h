// The subset of the Windows API that the library is written against: the CNG
// symmetric-cipher and random-number calls, the process heap and a secure wipe.
//
// On Windows this header includes the system's own declarations. Everywhere
// else it declares the same names with the same shapes, and the stand-in in
// this folder implements them (AES from OpenSSL's libcrypto) as far as the
// library uses them: the "AES" provider with 128-bit keys in CBC mode, keys
// kept in the caller's key object, and the system-preferred generator. Only
// what is declared here may be used by the rest of the library.
//
// Thread-safety: every function may be called from any thread. A key handle
// may be used by one thread at a time (as on Windows); distinct keys are
// independent.
#ifndef MIRDCNG_PLATFORM_CNG_H_
#define MIRDCNG_PLATFORM_CNG_H_

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The NTSTATUS values (STATUS_SUCCESS, STATUS_DATA_ERROR...) come from
// ntstatus.h, whose definitions windows.h must be kept from making first.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
// bcrypt.h builds on the types the two above declare.
#include <bcrypt.h>

#else  // !_WIN32

#include <cstddef>
#include <cstdint>

// Windows' widths, not the host's: ULONG and LONG are 32 bits on Windows x64.
using NTSTATUS = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using BOOL = int;
using UCHAR = unsigned char;
using PUCHAR = UCHAR*;
using PVOID = void*;
using LPVOID = void*;
using SIZE_T = std::size_t;
using HANDLE = void*;
using LPCWSTR = const wchar_t*;
using BCRYPT_HANDLE = void*;
using BCRYPT_ALG_HANDLE = void*;
using BCRYPT_KEY_HANDLE = void*;

// Statuses, with Windows' values.
inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001u);
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
inline constexpr NTSTATUS STATUS_NO_MEMORY = static_cast<NTSTATUS>(0xC0000017u);
inline constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023u);
inline constexpr NTSTATUS STATUS_DATA_ERROR = static_cast<NTSTATUS>(0xC000003Eu);
inline constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<NTSTATUS>(0xC00000BBu);
inline constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = static_cast<NTSTATUS>(0xC0000206u);
inline constexpr NTSTATUS STATUS_NOT_FOUND = static_cast<NTSTATUS>(0xC0000225u);

// Algorithm identifiers, property names and flags.
#define BCRYPT_AES_ALGORITHM L"AES"
#define BCRYPT_OBJECT_LENGTH L"ObjectLength"
#define BCRYPT_BLOCK_LENGTH L"BlockLength"
inline constexpr ULONG BCRYPT_BLOCK_PADDING = 0x00000001;
inline constexpr ULONG BCRYPT_USE_SYSTEM_PREFERRED_RNG = 0x00000002;
inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

// BCryptOpenAlgorithmProvider opens the provider of `alg_id` into `*algorithm`.
// Only "AES" is provided, in CBC mode (its default; the mode cannot be
// changed); other ids give STATUS_NOT_FOUND. `implementation` must be null.
// Close the handle with BCryptCloseAlgorithmProvider.
NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR alg_id,
                                     LPCWSTR implementation, ULONG flags);

// BCryptGetProperty writes a ULONG property of a provider, "ObjectLength" or
// "BlockLength", into `output`; other properties give STATUS_NOT_SUPPORTED. A
// null `output` only reports the size into `*result`; a buffer too small gives
// STATUS_BUFFER_TOO_SMALL with the size needed in `*result`.
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                           ULONG output_len, ULONG* result, ULONG flags);

// BCryptGenerateSymmetricKey makes an AES-128 key from the 16 bytes of
// `secret` inside the caller's `key_object` of at least "ObjectLength" bytes,
// which must outlive the key (a null `key_object` is refused: the key never
// keeps storage of its own). Destroy the key with BCryptDestroyKey before
// releasing the block.
NTSTATUS BCryptGenerateSymmetricKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key,
                                    PUCHAR key_object, ULONG key_object_len,
                                    PUCHAR secret, ULONG secret_len, ULONG flags);

// BCryptGenRandom fills `buffer` with cryptographically random bytes. Only the
// system-preferred generator is provided: `algorithm` must be null and `flags`
// must hold BCRYPT_USE_SYSTEM_PREFERRED_RNG.
NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG buffer_len,
                         ULONG flags);

// BCryptEncrypt encrypts `input` in CBC mode, with PKCS#7 padding when `flags`
// holds BCRYPT_BLOCK_PADDING (then the output is (n & ~15) + 16 bytes; without
// it `input_len` must be a multiple of 16). `iv` is required, of 16 bytes. A
// null `output` only reports the output size and leaves `iv` alone; otherwise
// `iv` receives the last ciphertext block, so that a following call continues
// the chain. `input` and `output` may be the same buffer, but must not
// otherwise overlap.
NTSTATUS BCryptEncrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG input_len,
                       PVOID padding_info, PUCHAR iv, ULONG iv_len, PUCHAR output,
                       ULONG output_len, ULONG* result, ULONG flags);

// BCryptDecrypt is the inverse of BCryptEncrypt. `input_len` must be a
// multiple of 16, and with BCRYPT_BLOCK_PADDING not zero
// (STATUS_INVALID_BUFFER_SIZE otherwise). A null `output` reports `input_len`
// as the size. With BCRYPT_BLOCK_PADDING every pad byte is checked and the
// padding is removed from the count in `*result`.
// WARNING: a padding check on unauthenticated ciphertext is an oracle; the
// status tells only that the data is bad, never which byte.
NTSTATUS BCryptDecrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG input_len,
                       PVOID padding_info, PUCHAR iv, ULONG iv_len, PUCHAR output,
                       ULONG output_len, ULONG* result, ULONG flags);

// BCryptDestroyKey releases a key made by BCryptGenerateSymmetricKey. Its
// handle is invalid afterwards (STATUS_INVALID_HANDLE while the key object is
// still allocated).
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key);

// BCryptCloseAlgorithmProvider releases a provider opened by
// BCryptOpenAlgorithmProvider.
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);

// GetProcessHeap returns the process heap's handle; never null.
HANDLE GetProcessHeap();

// HeapAlloc returns a block of `bytes` bytes (zeroed only with
// HEAP_ZERO_MEMORY), or null. Release it with HeapFree.
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);

// HeapFree releases a block from HeapAlloc; null is allowed.
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// SecureZeroMemory zeroes `length` bytes in a way the compiler cannot elide.
void* SecureZeroMemory(void* block, SIZE_T length);

#endif  // _WIN32

#endif  // MIRDCNG_PLATFORM_CNG_H_
