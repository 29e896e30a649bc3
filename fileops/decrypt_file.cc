// DecryptFile: a container decrypted back into the file it was made from, when
// the caller gives back the tag sealed inside it.
//
// The ciphertext is decrypted straight out of the whole-file buffer, and the
// destination (a file, or a stream for DecryptToStream) is written only after
// the tag trailer has matched, so every refusal leaves it absent or exactly as
// it was.
#include <cerrno>
#include <cstddef>
#include <cstdio>

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

// WriteStream writes `content` to `out` and flushes it.
Outcome WriteStream(std::FILE* out, std::span<const std::uint8_t> content) {
  if (content.empty()) {
    return {};  // nothing to write, and a stream that fails has not been asked to
  }
  errno = 0;
  if (std::fwrite(content.data(), 1, content.size(), out) != content.size() ||
      std::fflush(out) != 0) {
    return {Cause::kDestinationUnwritable, errno != 0 ? errno : EIO};
  }
  return {};
}

}  // namespace

bool CNGManager::DecryptFile(std::string src, std::string dst, int& err) {
  // The source stays open until the operation is over, destination included.
  const platform::Opened source = platform::OpenForReading(src.c_str());
  CiphertextBuffer file;  // a container: ciphertext, no secret to wipe
  std::span<const std::uint8_t> content;
  if (!DecryptChecked(source, file, content)) {
    if (outcome_.cause == Cause::kTagMismatch) {
      err = ResultCodeOf(Cause::kTagMismatch);
    }
    return false;
  }
  const std::span<const std::uint8_t> original(file);
  return Record(WriteDestination(dst, {content},
                                 {source.identity, [original] { return original; }}));
}

bool CNGManager::DecryptToStream(std::string src, std::FILE* out) {
  const platform::Opened source = platform::OpenForReading(src.c_str());
  CiphertextBuffer file;
  std::span<const std::uint8_t> content;
  return DecryptChecked(source, file, content) &&
         Record(out != nullptr ? WriteStream(out, content) : Outcome{});
}

bool CNGManager::DecryptChecked(const platform::Opened& source, CiphertextBuffer& file,
                                std::span<const std::uint8_t>& content) {
  if (!source.file) {
    return Fail(source.not_regular ? Cause::kSourceNotRegular : Cause::kSourceUnreadable,
                source.error);
  }
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
  const std::size_t trailer_length = container->tag_length;
  if (trailer_length != 0 && tag.empty()) {
    return Fail(Cause::kTagMismatch);
  }
  if (!DecryptCiphertext(*container)) {
    return false;
  }
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
    return Fail(Cause::kTagMismatch);
  }
  content = std::span<const std::uint8_t>(plainText, content_length);
  return true;
}

}  // namespace mirdcng
