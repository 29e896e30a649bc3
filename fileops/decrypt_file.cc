// DecryptFile: a container decrypted back into the file it was made from, when
// the caller gives back the tag sealed inside it.
//
// The ciphertext is decrypted straight out of the whole-file buffer, and the
// destination is written only after the tag trailer has matched, so every
// refusal leaves it absent or exactly as it was.
#include <cstddef>

#include "engine/cng_manager.h"
#include "engine/whole_file.h"
#include "fileops/replace_file.h"
#include "mirdcng/result_codes.h"
#include "platform/share_open.h"

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

bool CNGManager::DecryptFile(std::string src, std::string dst, int& err) {
  // The source stays open until the operation is over, destination included.
  platform::Opened source = platform::OpenForReading(src.c_str());
  if (!source.file) {
    return Fail(source.not_regular ? Cause::kSourceNotRegular : Cause::kSourceUnreadable,
                source.error);
  }
  CiphertextBuffer file;  // a container: ciphertext, no secret to wipe
  if (const Outcome read =
          ReadWholeFile(source.file.get(), file, 0, kMaxContentBytes, source.size);
      !read.done()) {
    return Record(read);
  }
  // Not a container, or one too short for its own header: malformed, not a
  // tag mismatch.
  const std::optional<ContainerView> container = ParseContainer(file);
  if (!container) {
    return Fail(LooksEncrypted(file) ? Cause::kMalformed : Cause::kNotEncrypted);
  }
  if (container->tag_length != 0 && tag.empty()) {
    err = ResultCodeOf(Cause::kTagMismatch);
    return Fail(Cause::kTagMismatch);
  }
  return DecryptCiphertext(*container) &&
         WritePlaintext(dst, container->tag_length, file, source.identity, err);
}

bool CNGManager::WritePlaintext(const std::string& dst, std::size_t trailer_length,
                                const CiphertextBuffer& file,
                                const std::optional<platform::FileIdentity>& identity,
                                int& err) {
  // A trailer longer than the plaintext cannot be taken: the container is
  // malformed.
  if (plainLength < trailer_length) {
    return Fail(Cause::kMalformed);
  }
  const std::size_t content_length = plainLength - trailer_length;
  const bool matches =
      trailer_length == tag.size() &&
      SameBytes(plainText + content_length,
                reinterpret_cast<const std::uint8_t*>(tag.data()), trailer_length);
  if (!matches) {
    err = ResultCodeOf(Cause::kTagMismatch);
    return Fail(Cause::kTagMismatch);
  }
  return Record(WriteDestination(
      dst, {std::span<const std::uint8_t>(plainText, content_length)}, {file, identity}));
}

}  // namespace mirdcng
