// DecryptToBuffer: a container decrypted whole into memory, its tag trailer
// dropped by its length alone, for the stream factory.
//
// The container is held once: its ciphertext is read to the start of a block
// and decrypted there (UnsealFile), and that block itself is handed to the
// caller, and on to the pipe: the content is never copied on its way.
#include "engine/cng_manager.h"

namespace mirdcng {

bool CNGManager::DecryptToBuffer(std::string name, HeapBlock& out, int& /*err*/) {
  HeldFile held;
  if (!UnsealFile(name, Trailer::kDrop, held)) {
    return false;
  }
  // The trailer stays in the block, outside what counts, and is wiped with it.
  held.block.Shrink(held.content_length);
  out = std::move(held.block);
  plainText = nullptr;
  return true;
}

}  // namespace mirdcng
