// What the mirdcng command says when a file call of the library did not work:
// the precise cause the library recorded (engine/outcome.h), with the
// system's reason where there is one, and the exit status it ends with.
#ifndef MIRDCNG_TOOLS_FAILURE_MESSAGES_H_
#define MIRDCNG_TOOLS_FAILURE_MESSAGES_H_

#include <string>

#include "engine/outcome.h"

namespace mirdcng::tool {

// FileCall names what a failed call was asked to do, for its message.
struct FileCall {
  const char* verb;         // "encrypt" or "decrypt"
  std::string source;       // as the message names it
  std::string destination;  // as the message names it
  std::string tag;          // the caller's tag, empty for none
};

// Failure is a message for standard error and the exit status.
struct Failure {
  std::string message;
  int status;
};

// FailureOf describes the outcome of `call`, which did not work.
Failure FailureOf(const Outcome& outcome, const FileCall& call);

// DecryptionRefusal says why a file that has the layout of an encrypted one
// was not decrypted, as `outcome` (from the stream factory) records it.
std::string DecryptionRefusal(const Outcome& outcome);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_FAILURE_MESSAGES_H_
