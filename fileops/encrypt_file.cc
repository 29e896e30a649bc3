// EncryptFile: a whole source and its tag, encrypted under a fresh IV into the
// container layout.
//
// The source is read whole and closed before any cryptographic step, and the
// destination is written only once both cipher passes have succeeded, so every
// refusal and failure before the writing leaves the destination as it was. A
// destination equal to the source is therefore replaced by its container
// (fileops/replace_file.h says how a failed write leaves it).
//
// The file is held once: read into its block behind room for the header,
// encrypted there, and written from there as the whole container.
#include <cstring>
#include <utility>

#include "engine/cng_manager.h"
#include "engine/whole_file.h"
#include "fileops/replace_file.h"
#include "platform/share_open.h"

namespace mirdcng {

bool CNGManager::EncryptFile(std::string src, std::string dst, int& /*err*/) {
  HeldFile held;
  if (!SealFile(src, held)) {
    return false;
  }
  const bool written = Record(WriteDestination(
      dst, {held.Container()}, Original{held.identity, [&] { return Restore(held); }}));
  cipherText = nullptr;  // the block it viewed goes with this call
  return written;
}

bool CNGManager::EncryptToStream(std::string src, std::FILE* out) {
  HeldFile held;
  const bool done =
      SealFile(src, held) &&
      Record(out != nullptr ? WriteStream(out, held.Container()) : Outcome{});
  cipherText = nullptr;
  return done;
}

bool CNGManager::SealFile(const std::string& src, HeldFile& held) {
  platform::Opened source;
  return OpenSource(src, held, source) && Seal(std::move(source), held);
}

bool CNGManager::SealStream(platform::File in, HeldFile& held) {
  return Seal(platform::StreamSource(std::move(in)), held);
}

bool CNGManager::Seal(platform::Opened source, HeldFile& held) {
  // A longer tag would be stored with only the low 8 bits of its length, and
  // its container could never be decrypted.
  if (tag.size() > kMaxTagLength) {
    return Fail(Cause::kTagTooLong);
  }
  if (!ReadPlaintext(std::move(source), held) || !EncryptHeld(held)) {
    return false;
  }
  PUCHAR head = held.block.get();
  head[kMarkerOffset] = kContainerMarker;
  head[kTagLengthOffset] = static_cast<std::uint8_t>(tag.size());
  // The cipher leaves the last ciphertext block in iv; the file records the
  // IV as it was.
  std::memcpy(head + kIvOffset, ivCopy.get(), kIvLength);
  held.state = HeldFile::State::kSealed;
  return true;
}

bool CNGManager::ReadPlaintext(platform::Opened source, HeldFile& held) {
  // The plaintext count is what was read, not what was measured: a source
  // that changes while it is read is taken as it was read. Its limit keeps
  // every container written below 2^31 bytes, so that it can be read back.
  // Behind the source: the tag, and a block of padding at most.
  const Outcome read = ReadWholeFile(
      source.file.get(), Room{kHeaderLength, tag.size() + kCipherBlock},
      kMaxSealedBytes - tag.size(), source.size, held.block, held.source_length);
  if (!read.done()) {
    return Record(read);
  }
  const std::span<std::uint8_t> plaintext(held.block.get() + kHeaderLength,
                                          held.source_length + tag.size());
  std::memcpy(plaintext.data() + held.source_length, tag.data(), tag.size());
  // An encrypted file is never encrypted twice.
  if (LooksEncrypted(plaintext)) {
    return Fail(Cause::kAlreadyEncrypted);
  }
  return !plaintext.empty() || Fail(Cause::kNothingToEncrypt);
}

bool CNGManager::EncryptHeld(HeldFile& held) {
  plainText = held.block.get() + kHeaderLength;
  plainLength = static_cast<ULONG>(held.source_length + tag.size());
  if (!QueryBlockLength(blockLength)) {
    return false;
  }
  iv = HeapBlock::Allocate(blockLength, HeapBlock::Wipe::kYes);
  ivCopy = HeapBlock::Allocate(blockLength, HeapBlock::Wipe::kYes);
  if (!iv || !ivCopy) {
    return Fail(Cause::kOutOfMemory);
  }
  if (BCryptGenRandom(nullptr, iv.get(), blockLength, BCRYPT_USE_SYSTEM_PREFERRED_RNG) !=
      STATUS_SUCCESS) {
    return Fail(Cause::kCipherFailed);
  }
  std::memcpy(ivCopy.get(), iv.get(), blockLength);
  if (!RunPasses(Direction::kEncrypt, plainText, plainLength,
                 held.block.size() - kHeaderLength, blockLength, cipherLength,
                 resultLength)) {
    return false;
  }
  // The plaintext is gone: the ciphertext lies where it was.
  cipherText = std::exchange(plainText, nullptr);
  held.cipher_length = cipherLength;
  return true;
}

}  // namespace mirdcng
