// encrypt and decrypt: the file exports' own call frame, run by the command
// with the library's objects linked in, so that a failure is told by its
// precise cause. Messages name the paths as the naming rule left them.
#include <string>

#include "fileops/call_frame.h"
#include "fileops/naming_rule.h"
#include "platform/share_open.h"
#include "tools/commands.h"
#include "tools/failure_messages.h"

namespace mirdcng::tool {
namespace {

// "'notes.txt.ebs' (from 'notes.txt')" when the rule changed the path.
std::string Described(const std::string& given) {
  const std::string used = ApplyNamingRule(given);
  return used == given ? Quoted(used) : Quoted(used) + " (from " + Quoted(given) + ")";
}

// ReplacesAnother reports whether the destination `dst` names an existing
// file other than the source `src` (both as the naming rule leaves them).
// Files are told apart by identity, not by path: "a.EBS", "./a.EBS" and a
// link to it are one file. A source that cannot be found is the library's to
// report.
bool ReplacesAnother(const std::string& src, const std::string& dst) {
  const auto destination = platform::IdentityOf(ApplyNamingRule(dst).c_str());
  if (!destination) {
    return false;
  }
  const auto source = platform::IdentityOf(ApplyNamingRule(src).c_str());
  return source && *source != *destination;
}

// Finish turns the outcome of `verb` (done as `done`) into the exit status,
// with a message: the failure's on failure, what was done under --verbose.
int Finish(const Outcome& outcome, const char* verb, const char* done,
           const Arguments& arguments, const std::string& destination) {
  if (outcome.done()) {
    if (arguments.verbose) {
      Complain(std::string(done) + " " + Described(arguments.source) + " " + destination);
    }
    return kExitOk;
  }
  const Failure failure =
      FailureOf(outcome, {verb, Described(arguments.source),
                          Described(arguments.destination), arguments.tag});
  Complain(failure.message);
  return failure.status;
}

// RunFile runs `operation` from SRC into the file DST, refusing to replace
// another existing file unless --force.
int RunFile(FileOperation operation, const char* verb, const char* done,
            const Arguments& arguments) {
  if (!arguments.force && ReplacesAnother(arguments.source, arguments.destination)) {
    Complain(Described(arguments.destination) +
             " already exists; give --force to replace it");
    return kExitFailed;
  }
  const Outcome outcome =
      RunFileCall(arguments.source.c_str(), arguments.destination.c_str(),
                  arguments.tag.c_str(), operation);
  return Finish(outcome, verb, done, arguments,
                "into " + Described(arguments.destination));
}

}  // namespace

int RunEncrypt(const Arguments& arguments) {
  if (arguments.destination == "-") {
    Complain("encrypt writes a file, not standard output; name it ./- for '-.ebs'");
    return kExitUsage;
  }
  return RunFile(&CNGManager::EncryptFile, "encrypt", "encrypted", arguments);
}

int RunDecrypt(const Arguments& arguments) {
  if (arguments.destination != "-") {
    return RunFile(&CNGManager::DecryptFile, "decrypt", "decrypted", arguments);
  }
  PrepareDataOutput();
  const Outcome outcome =
      RunDecryptToStream(arguments.source.c_str(), arguments.tag.c_str(), stdout);
  if (outcome.cause == Cause::kDestinationUnwritable) {
    return OutputFailure(outcome.error);
  }
  return Finish(outcome, "decrypt", "decrypted", arguments, "to standard output");
}

}  // namespace mirdcng::tool
