// DecryptToBuffer: a container decrypted whole into memory, its tag trailer
// dropped by its length alone, for the stream factory.
//
// The whole file is read once and viewed in place: the IV and the ciphertext
// are not copied out of it. Each buffer is let go as soon as the next one
// holds what it held (the file once the plaintext exists, the engine's
// plaintext block once the caller's buffer has it), so that no more than two
// of them are alive at any time.
#include <cstdio>
#include <cstring>

#include "engine/cng_manager.h"
#include "engine/whole_file.h"
#include "platform/memory.h"
#include "platform/share_open.h"

namespace mirdcng {
namespace {

// ReadContainer reads `name` whole into `file` when it is a regular file that
// begins with the container marker, and says whether it did. Any other
// regular file is not read beyond its first byte; anything else not at all.
bool ReadContainer(const std::string& name, CiphertextBuffer& file) {
  const platform::Opened source = platform::OpenForReading(name.c_str());
  if (!source.file || std::fgetc(source.file.get()) != kContainerMarker) {
    return false;
  }
  std::rewind(source.file.get());
  return ReadWholeFile(source.file.get(), file, 0, kMaxContentBytes).done();
}

}  // namespace

bool CNGManager::DecryptToBuffer(std::string name, ByteBuffer& out, int& /*err*/) {
  // The plaintext's buffer takes over the file's memory, let go just before.
  const platform::ReuseOneBlock reuse;
  CiphertextBuffer file;  // a container: ciphertext, no secret to wipe
  if (!ReadContainer(name, file)) {
    return false;
  }
  const auto container = ParseContainer(file);
  if (!container || !DecryptCiphertext(*container)) {
    return false;
  }
  const std::size_t tag_length = container->tag_length;
  cipherText = nullptr;
  { CiphertextBuffer done = std::move(file); }  // the ciphertext is spent: let it go now

  // A trailer longer than what was decrypted: the file is not a container
  // this library wrote, and is not taken as one.
  if (tag_length > plainLength) {
    return false;
  }
  // Grown without being filled first, then filled by one copy.
  out.resize(plainLength - tag_length);
  if (!out.empty()) {
    std::memcpy(out.data(), plainText, out.size());
  }
  plainText = nullptr;
  output_.Release();
  return true;
}

}  // namespace mirdcng
