// The encrypted file layout, and the library's two constants.
//
//   offset  size  field
//   0       1     container marker, kContainerMarker
//   1       1     tag length: the bytes of tag trailer, 0..255
//   2       16    IV the ciphertext was made with
//   18      rest  AES-128-CBC under kFixedKey, PKCS#7 padded, of the
//                 plaintext followed directly by the tag trailer
//
// There is no length field, version, checksum or MAC. The ciphertext runs to
// the end of the file; in a whole container its length is a non-zero multiple
// of 16. Any file whose first byte is not the marker, and any empty file, is
// not encrypted.
#ifndef MIRDCNG_ENGINE_CONTAINER_FORMAT_H_
#define MIRDCNG_ENGINE_CONTAINER_FORMAT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace mirdcng {

// The fixed key: the secret of every container, in every build. It obscures
// files; anyone holding the library holds the key.
inline constexpr std::array<std::uint8_t, 16> kFixedKey = {
    0x3a, 0x91, 0x5e, 0xc4, 0x0f, 0x72, 0xb8, 0x2d,
    0xe6, 0x47, 0x19, 0xa3, 0x8c, 0x55, 0xd0, 0x6b};

// The first byte of every container.
inline constexpr std::uint8_t kContainerMarker = 0xDD;

inline constexpr std::size_t kMarkerOffset = 0;
inline constexpr std::size_t kTagLengthOffset = 1;
inline constexpr std::size_t kIvOffset = 2;
inline constexpr std::size_t kIvLength = 16;
inline constexpr std::size_t kHeaderLength = kIvOffset + kIvLength;  // 18
inline constexpr std::size_t kCipherBlock = 16;
inline constexpr std::size_t kMaxTagLength = 255;

// Sizes are held in 32 bits: a file, or a source plus its tag, stays below
// this many bytes.
inline constexpr std::size_t kMaxContentBytes = std::size_t{1} << 31;

// LooksEncrypted reports whether `file` counts as a container: non-empty, and
// beginning with the marker. It says nothing about the rest.
inline bool LooksEncrypted(std::span<const std::uint8_t> file) {
  return !file.empty() && file[kMarkerOffset] == kContainerMarker;
}

// IsWholeCiphertext reports whether a container's ciphertext of `length`
// bytes has the whole layout: one or more whole 16-byte blocks.
inline constexpr bool IsWholeCiphertext(std::uint64_t length) {
  return length > 0 && length % kCipherBlock == 0;
}

// EncryptedFileSize is the size of the container of `content_length` bytes of
// plaintext and tag: the header and the padded ciphertext.
inline constexpr std::size_t EncryptedFileSize(std::size_t content_length) {
  return kHeaderLength + kCipherBlock * (content_length / kCipherBlock + 1);
}

// A source and its tag together stay below this many bytes, so that their
// container stays below kMaxContentBytes and can be read back.
inline constexpr std::size_t kMaxSealedBytes = kMaxContentBytes - 2 * kCipherBlock;
static_assert(EncryptedFileSize(kMaxSealedBytes - 1) < kMaxContentBytes &&
              EncryptedFileSize(kMaxSealedBytes) >= kMaxContentBytes);

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_CONTAINER_FORMAT_H_
