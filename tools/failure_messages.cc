#include "tools/failure_messages.h"

#include <cerrno>

#include "engine/container_format.h"
#include "mirdcng/result_codes.h"
#include "tools/commands.h"

namespace mirdcng::tool {
namespace {

std::string WithReason(const std::string& what, int error) {
  return error != 0 ? what + ": " + SystemReason(error) : what;
}

// Why the source was refused, after "did not encrypt/decrypt SOURCE: ".
std::string SourceRefusal(Cause cause, const FileCall& call) {
  switch (cause) {
    case Cause::kTooLarge:
      return "it is too large: files stay below 2 GiB, tag and header included";
    case Cause::kTagTooLong:
      return "the tag is longer than 255 bytes";
    case Cause::kAlreadyEncrypted:
      return !call.tag.empty() &&
                     static_cast<unsigned char>(call.tag[0]) == kContainerMarker
                 ? "it is already encrypted: it (or, when it is empty, its tag) begins "
                   "with the byte 0xDD"
                 : "it is already encrypted: it begins with the byte 0xDD";
    case Cause::kNothingToEncrypt:
      return "it is empty and no tag was given";
    case Cause::kNotEncrypted:
      return "it is not an encrypted file: it is empty or does not begin with the byte "
             "0xDD";
    case Cause::kMalformed:
      return "it is damaged: its layout is incomplete or it does not decrypt";
    case Cause::kOutOfMemory:
      return "out of memory";
    default:
      return "the cipher failed";
  }
}

// The tag check failed: say whether a tag is missing or wrong.
std::string TagMismatch(const FileCall& call) {
  return call.tag.empty()
             ? "the tag is wrong: " + call.source +
                   " was sealed with a tag; give it with --tag"
             : "the tag is wrong for " + call.source + "; nothing was written";
}

}  // namespace

Failure FailureOf(const Outcome& outcome, const FileCall& call) {
  // The result code the file export would give picks the exit status: the two
  // share their values.
  const int code = ResultCodeOf(outcome.cause);
  const int status = code == kResultSourceUnreadable ? kExitNoSource
                     : code == kResultTagMismatch    ? kExitWrongTag
                                                     : kExitFailed;
  switch (outcome.cause) {
    case Cause::kSourceUnopened:
      return {WithReason("cannot open " + call.source, outcome.error), status};
    case Cause::kSourceNotRegular:
      return {"cannot open " + call.source + ": it is not a regular file", status};
    case Cause::kSourceUnreadable:
      return {WithReason("cannot read " + call.source, outcome.error), status};
    case Cause::kTagMismatch:
      return {TagMismatch(call), status};
    case Cause::kDestinationNotRegular:
      return {"cannot write " + call.destination + ": it is not a regular file", status};
    case Cause::kDestinationChanged:
      return {"did not write " + call.destination +
                  ": another file took its name while it was written; it was left alone",
              status};
    case Cause::kDestinationUnwritable:
      // EEXIST: every name tried for the temporary beside it was taken.
      return {outcome.error == EEXIST
                  ? "cannot write " + call.destination +
                        ": no free name for a temporary file beside it"
                  : WithReason("cannot write " + call.destination, outcome.error),
              status};
    default:
      return {std::string("did not ") + call.verb + " " + call.source + ": " +
                  SourceRefusal(outcome.cause, call),
              status};
  }
}

std::string DecryptionRefusal(const Outcome& outcome) {
  switch (outcome.cause) {
    case Cause::kSourceUnopened:
    case Cause::kSourceUnreadable:
      return WithReason("it cannot be read", outcome.error);
    case Cause::kTooLarge:
    case Cause::kMalformed:
    case Cause::kOutOfMemory:
      return SourceRefusal(outcome.cause, FileCall{});
    default:
      return "the cipher failed";
  }
}

}  // namespace mirdcng::tool
