// EncryptFile: a whole source and its tag, encrypted under a fresh IV into the
// container layout.
//
// The source is read whole and closed before any cryptographic step, and the
// destination is opened only once both cipher passes have succeeded, so every
// refusal and failure before the writing leaves the destination as it was. A
// destination equal to the source is therefore replaced by its container; if
// that write fails, the source's bytes are put back.
#include <cstring>

#include "engine/cng_manager.h"
#include "engine/whole_file.h"
#include "platform/share_open.h"

namespace mirdcng {

bool CNGManager::EncryptFile(std::string src, std::string dst, int& /*err*/) {
  // A longer tag would be stored with only the low 8 bits of its length, and
  // its container could never be decrypted.
  if (tag.size() > kMaxTagLength) {
    return false;
  }
  const auto tag_length = static_cast<ULONG>(tag.size());

  ByteBuffer buffer;
  std::optional<platform::FileIdentity> source_identity;
  {
    platform::File source = platform::OpenShared(src.c_str(), "rb");
    if (!source) {
      return false;
    }
    source_identity = platform::IdentityOf(source.get());
    // The plaintext count is what was read, not what was measured: a source
    // that changes while it is read is taken as it was read.
    if (ReadWholeFile(source.get(), buffer, tag_length, kMaxContentBytes - tag_length) !=
        ReadResult::kOk) {
      return false;
    }
    const auto* tag_bytes = reinterpret_cast<const std::uint8_t*>(tag.data());
    buffer.insert(buffer.end(), tag_bytes, tag_bytes + tag.size());
    // An encrypted file is never encrypted twice.
    if (LooksEncrypted(buffer)) {
      return false;
    }
  }

  plainText = buffer.data();
  plainLength = static_cast<ULONG>(buffer.size());
  if (buffer.empty()) {
    return false;
  }
  if (!QueryBlockLength(blockLength)) {
    return false;
  }
  iv = HeapBlock::Allocate(blockLength, HeapBlock::Wipe::kYes);
  ivCopy = HeapBlock::Allocate(blockLength, HeapBlock::Wipe::kYes);
  if (!iv || !ivCopy) {
    return false;
  }
  if (BCryptGenRandom(nullptr, iv.get(), blockLength, BCRYPT_USE_SYSTEM_PREFERRED_RNG) !=
      STATUS_SUCCESS) {
    return false;
  }
  // The cipher leaves the last ciphertext block in iv; the file records the
  // IV as it was.
  std::memcpy(ivCopy.get(), iv.get(), blockLength);
  if (!RunPasses(Direction::kEncrypt, plainText, plainLength, blockLength, cipherLength,
                 cipherText, resultLength)) {
    return false;
  }

  const std::uint8_t head[] = {kContainerMarker, static_cast<std::uint8_t>(tag_length)};
  const std::span<const std::uint8_t> source_bytes(buffer.data(),
                                                   buffer.size() - tag_length);
  const bool written =
      ReplaceFileContent(dst,
                         {std::span<const std::uint8_t>(head),
                          std::span<const std::uint8_t>(ivCopy.get(), blockLength),
                          std::span<const std::uint8_t>(cipherText, cipherLength)},
                         source_bytes, source_identity);
  plainText = nullptr;  // the buffer it viewed goes with this call
  return written;
}

}  // namespace mirdcng
