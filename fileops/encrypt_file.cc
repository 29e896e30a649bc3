// EncryptFile: a whole source and its tag, encrypted under a fresh IV into the
// container layout.
//
// The source is read whole and closed before any cryptographic step, and the
// destination is written only once both cipher passes have succeeded, so every
// refusal and failure before the writing leaves the destination as it was. A
// destination equal to the source is therefore replaced by its container
// (fileops/replace_file.h says how a failed write leaves it).
#include <cstring>

#include "engine/cng_manager.h"
#include "engine/whole_file.h"
#include "fileops/replace_file.h"
#include "platform/share_open.h"

namespace mirdcng {

bool CNGManager::EncryptFile(std::string src, std::string dst, int& /*err*/) {
  // A longer tag would be stored with only the low 8 bits of its length, and
  // its container could never be decrypted.
  if (tag.size() > kMaxTagLength) {
    return Fail(Cause::kTagTooLong);
  }
  ByteBuffer buffer;
  std::optional<platform::FileIdentity> identity;
  if (!ReadPlaintext(src, buffer, identity) || !EncryptPlaintext(buffer)) {
    return false;
  }
  const std::span<const std::uint8_t> source(buffer.data(), buffer.size() - tag.size());
  const bool written = WriteContainer(dst, source, identity);
  plainText = nullptr;  // the buffer it viewed goes with this call
  return written;
}

bool CNGManager::ReadPlaintext(const std::string& src, ByteBuffer& buffer,
                               std::optional<platform::FileIdentity>& identity) {
  platform::Opened source = platform::OpenForReading(src.c_str());
  if (!source.file) {
    return Fail(source.not_regular ? Cause::kSourceNotRegular : Cause::kSourceUnreadable,
                source.error);
  }
  identity = source.identity;
  // The plaintext count is what was read, not what was measured: a source
  // that changes while it is read is taken as it was read. Its limit keeps
  // every container written below 2^31 bytes, so that it can be read back.
  const Outcome read = ReadWholeFile(source.file.get(), buffer, tag.size(),
                                     kMaxSealedBytes - tag.size(), source.size);
  if (!read.done()) {
    return Record(read);
  }
  const auto* tag_bytes = reinterpret_cast<const std::uint8_t*>(tag.data());
  buffer.insert(buffer.end(), tag_bytes, tag_bytes + tag.size());
  // An encrypted file is never encrypted twice.
  if (LooksEncrypted(buffer)) {
    return Fail(Cause::kAlreadyEncrypted);
  }
  return !buffer.empty() || Fail(Cause::kNothingToEncrypt);
}

bool CNGManager::EncryptPlaintext(ByteBuffer& buffer) {
  plainText = buffer.data();
  plainLength = static_cast<ULONG>(buffer.size());
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
  // The cipher leaves the last ciphertext block in iv; the file records the
  // IV as it was.
  std::memcpy(ivCopy.get(), iv.get(), blockLength);
  return RunPasses(Direction::kEncrypt, plainText, plainLength, blockLength, cipherLength,
                   cipherText, resultLength);
}

bool CNGManager::WriteContainer(const std::string& dst,
                                std::span<const std::uint8_t> source,
                                const std::optional<platform::FileIdentity>& identity) {
  const std::uint8_t head[] = {kContainerMarker, static_cast<std::uint8_t>(tag.size())};
  return Record(
      WriteDestination(dst,
                       {std::span<const std::uint8_t>(head),
                        std::span<const std::uint8_t>(ivCopy.get(), blockLength),
                        std::span<const std::uint8_t>(cipherText, cipherLength)},
                       Original{identity, [source] { return source; }}));
}

}  // namespace mirdcng
