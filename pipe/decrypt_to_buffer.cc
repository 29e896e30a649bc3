// DecryptToBuffer: a container decrypted whole into memory, its tag trailer
// dropped by its length alone, for the stream factory.
//
// The whole file is read once and viewed in place: the IV and the ciphertext
// are not copied out of it, and it is let go as soon as the plaintext exists.
// The plaintext stays in the block the transform decrypted it into, and that
// block itself is handed to the caller, and on to the pipe: the content is
// never copied on its way.
#include <cstdio>

#include "engine/cng_manager.h"
#include "engine/whole_file.h"
#include "platform/share_open.h"

namespace mirdcng {
namespace {

// ReadContainer reads `name` whole into `file` when it is a regular file that
// begins with the container marker, and says why it did not otherwise. Any
// other regular file is not read beyond its first byte; anything else not at
// all.
Outcome ReadContainer(const std::string& name, CiphertextBuffer& file) {
  const platform::Opened source = platform::OpenForReading(name.c_str());
  if (!source.file) {
    return {source.not_regular ? Cause::kSourceNotRegular : Cause::kSourceUnopened,
            source.error};
  }
  if (std::fgetc(source.file.get()) != kContainerMarker) {
    return {Cause::kNotEncrypted, 0};
  }
  std::rewind(source.file.get());
  return ReadWholeFile(source.file.get(), file, 0, kMaxContentBytes, source.size);
}

}  // namespace

bool CNGManager::DecryptToBuffer(std::string name, HeapBlock& out, int& /*err*/) {
  CiphertextBuffer file;  // a container: ciphertext, no secret to wipe
  if (!Record(ReadContainer(name, file))) {
    return false;
  }
  const auto container = ParseContainer(file);
  if (!container) {
    return Fail(Cause::kMalformed);
  }
  if (!DecryptCiphertext(*container)) {
    return false;
  }
  const std::size_t tag_length = container->tag_length;
  cipherText = nullptr;
  { CiphertextBuffer done = std::move(file); }  // the ciphertext is spent: let it go now

  // A trailer longer than what was decrypted: the file is not a container
  // this library wrote, and is not taken as one.
  if (tag_length > plainLength) {
    return Fail(Cause::kMalformed);
  }
  // The trailer stays in the block, outside what counts, and is wiped with it.
  output_.Shrink(plainLength - tag_length);
  out = std::move(output_);
  plainText = nullptr;
  return true;
}

}  // namespace mirdcng
