// CNGManager: the cipher engine behind every exported call.
//
// An engine serves exactly one call: the export builds it on its own stack
// with the caller's tag, runs one operation (EncryptFile, DecryptFile or
// DecryptToBuffer) and destroys it. Construction opens the "AES" provider and
// makes the key from kFixedKey; it never fails visibly: a handle it could not
// make stays null, and the operation then fails at the first cipher call that
// needs it.
//
// The engine owns its CNG handles and every process-heap block it allocates
// (key object, IV buffers, the transform's output block) and releases them in
// its destructor. Operations own their byte buffers and file streams.
//
// Each operation is defined beside the subsystem it serves: EncryptFile and
// DecryptFile in fileops/ (file conversion), DecryptToBuffer in pipe/ (the
// stream factory). What they share, construction, destruction and the
// two-pass transform, is here in engine/.
//
// Thread-safety: an engine is used by one thread. Engines share no state, so
// calls on different threads need no locking, as long as they do not write the
// same files.
#ifndef MIRDCNG_ENGINE_CNG_MANAGER_H_
#define MIRDCNG_ENGINE_CNG_MANAGER_H_

#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "engine/byte_buffer.h"
#include "engine/cng_handles.h"
#include "engine/container_format.h"
#include "engine/heap_block.h"
#include "engine/outcome.h"
#include "platform/cng.h"
#include "platform/share_open.h"

namespace mirdcng {

class CNGManager {
 public:
  // Builds the engine for one call; `caller_tag` is the caller's tag, empty for none.
  explicit CNGManager(std::string caller_tag);
  virtual ~CNGManager();

  CNGManager(const CNGManager&) = delete;
  CNGManager& operator=(const CNGManager&) = delete;

  // EncryptFile encrypts the file `src` into the container `dst`, with the
  // engine's tag as the tag trailer. Returns false, without touching `dst`,
  // when the source cannot be read whole or is not a regular file, is already
  // a container, is empty with an empty tag, is too large (its container
  // would reach 2^31 bytes), or the tag is longer than 255 bytes, or a cipher
  // call fails; also false when `dst` cannot be written in full, which leaves
  // it as it was (fileops/replace_file.h). Never writes `err`.
  [[nodiscard]] bool EncryptFile(std::string src, std::string dst, int& err);

  // DecryptFile decrypts the container `src` into `dst` when its tag trailer
  // equals the engine's tag. Writes 5 into `err` only when the trailer does
  // not match; every other refusal leaves `err` alone. `dst` is opened only
  // after the trailer matched.
  [[nodiscard]] bool DecryptFile(std::string src, std::string dst, int& err);

  // DecryptToStream is DecryptFile with the open stream `out` for destination:
  // the plaintext is written to it, and flushed, only after the trailer
  // matched; a failed write is kDestinationUnwritable with the system's
  // error, and what was written stays written. `out` should be in binary
  // mode. A null `out` checks the container alone (it decrypts, and its
  // trailer matches) and writes its plaintext nowhere.
  [[nodiscard]] bool DecryptToStream(std::string src, std::FILE* out);

  // DecryptToBuffer decrypts the container `name` and hands `out` the block
  // it decrypted into, its size() the plaintext without the tag trailer (which
  // is dropped by its length alone). Returns false, leaving `out` untouched,
  // when the file is not a container or does not decrypt, or `name` is not a
  // regular file (it is then not read). Never writes `err`.
  [[nodiscard]] bool DecryptToBuffer(std::string name, HeapBlock& out, int& err);

  // outcome says how EncryptFile or DecryptFile ended, and why
  // (engine/outcome.h).
  const Outcome& outcome() const { return outcome_; }

 private:
  enum class Direction { kEncrypt, kDecrypt };

  // Fail records `cause` (with the system's `error`) as the operation's
  // outcome and returns false; Record records `outcome` and returns whether
  // it is done. The steps below record their own failures.
  bool Fail(Cause cause, int error = 0) { return Record({cause, error}); }
  bool Record(Outcome outcome) {
    outcome_ = outcome;
    return outcome.done();
  }

  // QueryBlockLength asks the provider for "BlockLength"; false unless it
  // answers the 16 bytes that the layout's IV field holds.
  bool QueryBlockLength(ULONG& length);

  // RunPasses is the two-pass transform's pair of cipher calls, with `iv` of
  // `iv_length` already filled: a size query into `first_count`, an output
  // block of that size that the engine keeps (`output` views it), then the
  // transform itself, whose byte count goes into `second_count`.
  bool RunPasses(Direction direction, PUCHAR input, ULONG input_length, ULONG iv_length,
                 ULONG& first_count, PUCHAR& output, ULONG& second_count);

  // DecryptCiphertext runs the whole transform for decryption: block length,
  // `iv` from `file_iv`, both passes. On success `plainText` holds
  // `plainLength` bytes with the padding removed.
  bool DecryptCiphertext(const ContainerView& container);

  // EncryptFile's steps: the source read whole with the tag after it (and
  // refused when it is a container or empty); the transform; the container
  // written.
  bool ReadPlaintext(const std::string& src, ByteBuffer& buffer,
                     std::optional<platform::FileIdentity>& identity);
  bool EncryptPlaintext(ByteBuffer& buffer);
  bool WriteContainer(const std::string& dst, std::span<const std::uint8_t> source,
                      const std::optional<platform::FileIdentity>& identity);

  // DecryptFile's and DecryptToStream's common steps: the container `source`
  // read whole into `file`, decrypted, and its trailer compared with the tag.
  // On success `content` views the plaintext without the trailer.
  bool DecryptChecked(const platform::Opened& source, CiphertextBuffer& file,
                      std::span<const std::uint8_t>& content);

  AlgorithmHandle algorithm;
  KeyHandle key;
  ULONG cipherLength = 0;
  ULONG plainLength = 0;
  ULONG resultLength = 0;
  ULONG keyObjectLength = 0;
  ULONG blockLength = 0;
  PUCHAR cipherText = nullptr;  // the output block in encryption; a view in decryption
  PUCHAR plainText = nullptr;   // a view in encryption; the output block in decryption
  HeapBlock keyObject;
  HeapBlock iv;
  HeapBlock ivCopy;
  std::string tag;
  // Owns what cipherText or plainText points at, when the transform made it.
  HeapBlock output_;
  // A failure until an operation records how it ended, so that no path can
  // pass for a success without saying so.
  Outcome outcome_{Cause::kCipherFailed, 0};
};

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_CNG_MANAGER_H_
