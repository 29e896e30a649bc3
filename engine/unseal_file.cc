// UnsealFile: a container read whole, its header apart, and decrypted in
// place; the one piece that cng_77z's file and stream roads and the stream
// factory's DecryptToBuffer share.
#include <cerrno>
#include <cstring>

#include "engine/cng_manager.h"
#include "engine/whole_file.h"

namespace mirdcng {
namespace {

// Compares the trailer with the tag in time that depends on the length
// alone, never on where the first difference lies.
bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  volatile std::uint8_t difference = 0;
  for (std::size_t i = 0; i < length; ++i) {
    difference = static_cast<std::uint8_t>(difference | (a[i] ^ b[i]));
  }
  return difference == 0;
}

}  // namespace

bool CNGManager::UnsealFile(const std::string& src, Trailer trailer, HeldFile& held) {
  platform::Opened source;
  return OpenSource(src, held, source) && Unseal(std::move(source), trailer, held);
}

bool CNGManager::UnsealStream(platform::File in, Trailer trailer, HeldFile& held) {
  return Unseal(platform::StreamSource(std::move(in)), trailer, held);
}

bool CNGManager::Unseal(platform::Opened source, Trailer trailer, HeldFile& held) {
  if (!ReadContainer(std::move(source), held)) {
    return false;
  }
  const std::size_t trailer_length = held.header[kTagLengthOffset];
  if (trailer == Trailer::kMatch && trailer_length != 0 && tag.empty()) {
    return Fail(Cause::kTagMismatch);
  }
  if (!DecryptHeld(held)) {
    return false;
  }
  // A trailer longer than the plaintext cannot be taken: the container is
  // malformed.
  if (held.plain_length < trailer_length) {
    return Fail(Cause::kMalformed);
  }
  held.content_length = held.plain_length - trailer_length;
  if (trailer == Trailer::kMatch &&
      !(trailer_length == tag.size() &&
        SameBytes(plainText + held.content_length,
                  reinterpret_cast<const std::uint8_t*>(tag.data()), trailer_length))) {
    return Fail(Cause::kTagMismatch);
  }
  return true;
}

bool CNGManager::ReadContainer(platform::Opened source, HeldFile& held) {
  // Refused by its size alone, unread: no 32-bit count could take it.
  if (source.size >= 0 && static_cast<std::uint64_t>(source.size) >= kMaxContentBytes) {
    return Fail(Cause::kTooLarge);
  }
  // The header goes apart, so that the ciphertext begins the block and the
  // plaintext begins it after the decryption. A file that is no container
  // is not read past it.
  errno = 0;
  const std::size_t head =
      std::fread(held.header.data(), 1, kHeaderLength, source.file.get());
  held.header_length = head;
  if (head < kHeaderLength && std::ferror(source.file.get()) != 0) {
    return Fail(Cause::kSourceUnreadable, errno != 0 ? errno : EIO);
  }
  if (!LooksEncrypted(std::span(held.header.data(), head))) {
    held.source = std::move(source.file);  // the rest, unread, for whoever wants it
    return Fail(Cause::kNotEncrypted);
  }
  if (head < kHeaderLength) {
    return Fail(Cause::kMalformed);  // too short for its own header
  }
  const std::int64_t expected =
      source.size >= static_cast<std::int64_t>(kHeaderLength)
          ? source.size - static_cast<std::int64_t>(kHeaderLength)
          : -1;
  const Outcome read =
      ReadWholeFile(source.file.get(), Room{}, kMaxContentBytes - kHeaderLength, expected,
                    held.block, held.cipher_length);
  held.source = std::move(source.file);
  return Record(read);
}

bool CNGManager::DecryptHeld(HeldFile& held) {
  cipherText = held.block.get();
  cipherLength = static_cast<ULONG>(held.cipher_length);
  ULONG block_length = 0;
  if (!QueryBlockLength(block_length)) {
    return false;
  }
  iv = HeapBlock::Allocate(block_length, HeapBlock::Wipe::kYes);
  if (!iv) {
    return Fail(Cause::kOutOfMemory);
  }
  std::memcpy(iv.get(), held.header.data() + kIvOffset, kIvLength);
  if (!RunPasses(Direction::kDecrypt, cipherText, cipherLength, held.cipher_length,
                 block_length, plainLength, plainLength)) {
    return false;
  }
  // The ciphertext is gone: the plaintext lies where it was.
  plainText = std::exchange(cipherText, nullptr);
  held.plain_length = plainLength;
  held.state = HeldFile::State::kUnsealed;
  return true;
}

}  // namespace mirdcng
