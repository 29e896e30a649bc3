// DecryptFile: a container decrypted back into the file it was made from, when
// the caller gives back the tag sealed inside it.
//
// The ciphertext is decrypted in the block it was read into (UnsealFile), and
// the destination (a file, or a stream for DecryptToStream) is written from
// there only after the tag trailer has matched, so every refusal leaves it
// absent or exactly as it was.
#include <cstdio>

#include "engine/cng_manager.h"
#include "fileops/replace_file.h"

namespace mirdcng {

bool CNGManager::DecryptFile(std::string src, std::string dst, int& err) {
  // The source stays open until the operation is over, destination included.
  HeldFile held;
  if (!UnsealFile(src, Trailer::kMatch, held)) {
    if (outcome_.cause == Cause::kTagMismatch) {
      err = ResultCodeOf(Cause::kTagMismatch);
    }
    return false;
  }
  const bool written = Record(WriteDestination(
      dst, {held.Content()}, Original{held.identity, [&] { return Restore(held); }}));
  plainText = nullptr;  // the block it viewed goes with this call
  return written;
}

bool CNGManager::DecryptToStream(std::string src, std::FILE* out) {
  HeldFile held;
  const bool done = UnsealFile(src, Trailer::kMatch, held) &&
                    Record(out != nullptr ? WriteStream(out, held.Content()) : Outcome{});
  plainText = nullptr;
  return done;
}

}  // namespace mirdcng
