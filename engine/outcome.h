// Outcome: how a call of the library ended, with the precise cause and the
// operating system's reason, for code that needs more than the exports'
// result and result code (the mirdcng command names the cause in its
// messages: "cannot write 'out.EBS': No space left on device").
//
// The file operations (EncryptFile, DecryptFile) record their outcome in the
// engine (CNGManager::outcome()), and the call frame its own refusals; the
// file exports turn it into their result and result code in one place,
// ResultCodeOf, so that their contract stays exactly as mirdcng/mirdcng.h and
// mirdcng/result_codes.h state it.
#ifndef MIRDCNG_ENGINE_OUTCOME_H_
#define MIRDCNG_ENGINE_OUTCOME_H_

#include "mirdcng/result_codes.h"

namespace mirdcng {

enum class Cause {
  kDone,                   // the call did what it was asked
  kNullArgument,           // a path is null
  kSourceUnopened,         // the source cannot be opened for reading (error)
  kSourceNotRegular,       // the source is a FIFO, a device, a socket, a folder
  kSourceUnreadable,       // the source opened, but a read of it failed (error)
  kTooLarge,               // the source, or what would be written, is 2 GiB or more
  kTagTooLong,             // the tag is longer than 255 bytes
  kAlreadyEncrypted,       // the source (or an empty one's tag) begins with 0xDD
  kNothingToEncrypt,       // an empty source and an empty tag
  kNotEncrypted,           // the source is empty or does not begin with 0xDD
  kMalformed,              // a container that cannot be taken apart or decrypted
  kTagMismatch,            // the tag sealed inside is not the caller's
  kCipherFailed,           // a cipher call failed
  kOutOfMemory,            // a block the call needs could not be had
  kDestinationNotRegular,  // the destination exists and is no regular file
  kDestinationUnwritable,  // the destination cannot be written in full (error)
  kDestinationChanged,     // its name led to another file by the time of the
                           // rename: nothing was replaced
};

struct Outcome {
  Cause cause = Cause::kDone;
  // The operating system's reason, as an errno value, where the cause has one
  // (marked "error" above); 0 otherwise.
  int error = 0;

  bool done() const { return cause == Cause::kDone; }
};

// ResultCodeOf is the result code a file export writes for `cause`.
constexpr int ResultCodeOf(Cause cause) {
  switch (cause) {
    case Cause::kNullArgument:
      return kResultNullArgument;
    case Cause::kSourceUnopened:
    case Cause::kSourceNotRegular:
      return kResultSourceUnreadable;
    case Cause::kTagMismatch:
      return kResultTagMismatch;
    default:
      return kResultOk;
  }
}

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_OUTCOME_H_
