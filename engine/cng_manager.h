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
// (key object, IV buffers) and releases them in its destructor. Operations
// own the block they hold their file in, and their file streams: each holds
// its file once, and the transform runs in place (engine/held_file.h).
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

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "engine/cng_handles.h"
#include "engine/container_format.h"
#include "engine/heap_block.h"
#include "engine/held_file.h"
#include "engine/outcome.h"
#include "platform/cng.h"

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

  // EncryptToStream is EncryptFile with the open stream `out` for
  // destination: the whole container is written to it, and flushed, once it
  // exists. A null `out` only seals it, in memory.
  [[nodiscard]] bool EncryptToStream(std::string src, std::FILE* out);

  // DecryptToBuffer decrypts the container `name` and hands `out` the block
  // it decrypted in, its content at the block's start and its size() the
  // plaintext without the tag trailer (which is dropped by its length alone).
  // Returns false, leaving `out` untouched, when the file is not a container
  // or does not decrypt, or `name` is not a regular file (it is then not
  // read). Never writes `err`.
  [[nodiscard]] bool DecryptToBuffer(std::string name, HeapBlock& out, int& err);

  // The pieces the operations are made of, each reading one file whole into
  // a HeldFile (engine/held_file.h) and transforming it there.

  // SealFile reads the file `src` whole into `held`, closes it, and encrypts
  // it there with the engine's tag as its trailer under a fresh IV, into the
  // whole container (held.Container()). Returns false, with the outcome
  // recorded, when the tag is longer than 255 bytes, or the source cannot be
  // read whole, is not a regular file, is a container already, is empty with
  // an empty tag or too large (its container would reach 2^31 bytes), or a
  // cipher call fails, or memory runs out.
  [[nodiscard]] bool SealFile(const std::string& src, HeldFile& held);

  // What UnsealFile does with a container's tag trailer: compare it with the
  // engine's tag (a container whose trailer is not empty is refused before
  // any cipher call when the tag is), or drop it by its length alone.
  enum class Trailer { kMatch, kDrop };

  // UnsealFile reads the container `src` into `held`, its header apart and
  // its ciphertext at the block's start, and decrypts it in place; the
  // source stays open in `held`. On success held.Content() is the plaintext
  // without its trailer. Returns false, with the outcome recorded, when the
  // file cannot be read whole or is not a regular file, is not a container
  // (nothing of it is read past its first 18 bytes), is 2 GiB or more (not
  // read at all), does not decrypt, has a trailer longer than its plaintext,
  // or, with Trailer::kMatch, a trailer that is not the tag; or when memory
  // runs out.
  [[nodiscard]] bool UnsealFile(const std::string& src, Trailer trailer, HeldFile& held);

  // SealStream and UnsealStream are SealFile and UnsealFile with the open
  // stream `in` for source (the command's standard input), read from where it
  // stands to its end; the stream is the engine's from the call on. One that
  // cannot be measured (a pipe) is read until it ends or passes the size
  // limit. UnsealStream reads no more than the first 18 bytes of what is no
  // container: held.header holds them (held.header_length says how many),
  // and the rest is still to be read from held.source.
  [[nodiscard]] bool SealStream(platform::File in, HeldFile& held);
  [[nodiscard]] bool UnsealStream(platform::File in, Trailer trailer, HeldFile& held);

  // Restore undoes, in `held`'s block, the transform of the SealFile or
  // UnsealFile that filled it, and returns the bytes of the source as they
  // are on the disk: a header (empty for an encryption's source) and a body.
  // It serves the fallback that writes a destination in place, should that
  // destination be the source and its write fail (fileops/replace_file.h):
  // the source's bytes exist nowhere else by then. Both are empty when a
  // cipher call fails. `held` is no longer sealed or unsealed afterwards.
  [[nodiscard]] std::array<std::span<const std::uint8_t>, 2> Restore(HeldFile& held);

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
  // `iv_length` already filled: a size query into `first_count`, then the
  // transform itself, in place: its output, of the size the query gave (no
  // more than `capacity`), lands where its input was. The byte count of the
  // second call goes into `second_count`.
  bool RunPasses(Direction direction, PUCHAR data, ULONG input_length,
                 std::size_t capacity, ULONG iv_length, ULONG& first_count,
                 ULONG& second_count);

  // OpenSource opens the file `src` for reading into `source` and notes its
  // identity in `held`; false, with the outcome recorded, when it does not
  // open or is not a regular file.
  bool OpenSource(const std::string& src, HeldFile& held, platform::Opened& source);

  // SealFile's steps: the opened source read whole with the tag after it
  // (and refused when it is a container or empty); its encryption in place.
  bool Seal(platform::Opened source, HeldFile& held);
  bool ReadPlaintext(platform::Opened source, HeldFile& held);
  bool EncryptHeld(HeldFile& held);

  // UnsealFile's steps: the opened container read, its header apart; its
  // ciphertext decrypted in place; its trailer taken.
  bool Unseal(platform::Opened source, Trailer trailer, HeldFile& held);
  bool ReadContainer(platform::Opened source, HeldFile& held);
  bool DecryptHeld(HeldFile& held);

  AlgorithmHandle algorithm;
  KeyHandle key;
  ULONG cipherLength = 0;
  ULONG plainLength = 0;
  ULONG resultLength = 0;
  ULONG keyObjectLength = 0;
  ULONG blockLength = 0;
  // Views into the operation's HeldFile, where the transform runs in place.
  PUCHAR cipherText = nullptr;
  PUCHAR plainText = nullptr;
  HeapBlock keyObject;
  HeapBlock iv;
  HeapBlock ivCopy;
  std::string tag;
  // A failure until an operation records how it ended, so that no path can
  // pass for a success without saying so.
  Outcome outcome_{Cause::kCipherFailed, 0};
};

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_CNG_MANAGER_H_
