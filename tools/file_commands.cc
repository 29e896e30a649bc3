// encrypt and decrypt of one file: the file exports' own call frame, run by
// the command with the library's objects linked in, so that a failure is told
// by its precise cause. Paths are taken as named, or with --host-names under
// the .ebs naming rule, as a host's call takes them; messages name the paths
// used.
#include <filesystem>
#include <string>
#include <system_error>

#include "fileops/call_frame.h"
#include "fileops/naming_rule.h"
#include "tools/commands.h"
#include "tools/destinations.h"
#include "tools/failure_messages.h"
#include "tools/progress.h"
#include "tools/tag_source.h"

namespace mirdcng::tool {
namespace {

// One file call as the command line asks for it: its paths as used, and its
// tag.
struct Call {
  const Arguments& arguments;
  std::string source;       // SRC as used
  std::string destination;  // DST as used
  std::string tag;

  Paths paths() const {
    return arguments.host_names ? Paths::kNamingRule : Paths::kLiteral;
  }

  // How a path is named in messages: with --host-names, "'notes.txt.ebs'
  // (from 'notes.txt')" where the rule changed it.
  std::string Described(const std::string& given, const std::string& used) const {
    return used == given ? Quoted(used) : Quoted(used) + " (from " + Quoted(given) + ")";
  }
  std::string Source() const { return Described(arguments.source, source); }
  std::string Destination() const {
    return Described(arguments.destination, destination);
  }
};

// Finish turns the outcome of `verb` (done as `done`) into the exit status,
// with a message: the failure's on failure, what was done under --verbose.
int Finish(const Outcome& outcome, const char* verb, const char* done, const Call& call,
           const std::string& where) {
  if (outcome.done()) {
    if (call.arguments.verbose) {
      Complain(std::string(done) + " " + call.Source() + " " + where);
    }
    return kExitOk;
  }
  const Failure failure =
      FailureOf(outcome, {verb, call.Source(), call.Destination(), call.tag});
  Complain(failure.message);
  return failure.status;
}

// SizeOf is the size of the file `path` for the progress line; 0 when unknown.
std::uint64_t SizeOf(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

// ToFile runs `operation` from SRC into the file DST. A DST that is not a
// regular file is refused, and so is another existing file unless --force.
int ToFile(FileOperation operation, const char* verb, const char* done,
           const Call& call) {
  if (const std::string kind = NotAFile(call.destination); !kind.empty()) {
    Complain("cannot write " + call.Destination() + ": it is " + kind +
             (kind == "a folder" ? "; to write into a folder, give -o " +
                                       Quoted(call.arguments.destination)
                                 : ""));
    return kExitFailed;
  }
  if (!call.arguments.force && ReplacesAnother(call.source, call.destination)) {
    Complain(call.Destination() + " already exists; give --force to replace it");
    return kExitFailed;
  }
  const std::uint64_t size = SizeOf(call.source);
  const Progress progress(ShowsProgress(call.arguments.progress, 1, size), 1, size);
  const Outcome outcome = RunFileCall(call.source.c_str(), call.destination.c_str(),
                                      call.tag.c_str(), operation, Paths::kLiteral);
  return Finish(outcome, verb, done, call, "into " + call.Destination());
}

// ToStandardOutput decrypts SRC to standard output, once its tag has matched.
int ToStandardOutput(const Call& call) {
  PrepareDataOutput();
  const Outcome outcome =
      RunDecryptToStream(call.source.c_str(), call.tag.c_str(), stdout, Paths::kLiteral);
  if (outcome.cause == Cause::kDestinationUnwritable) {
    return OutputFailure(outcome.error);
  }
  return Finish(outcome, "decrypt", "decrypted", call, "to standard output");
}

// RunOne runs encrypt (`operation` EncryptFile) or decrypt from SRC to DST.
// SRC and DST are told apart from standard input and output here alone.
int RunOne(FileOperation operation, const char* verb, const char* done,
           const Arguments& arguments) {
  const bool encrypting = operation == &CNGManager::EncryptFile;
  if (arguments.source == "-") {
    Complain(std::string(verb) +
             " does not read standard input; name a file called - as ./-");
    return kExitUsage;
  }
  if (encrypting && arguments.destination == "-") {
    Complain("encrypt writes a file, not standard output; name a file called - as ./-");
    return kExitUsage;
  }
  const Tag tag = TagOf(arguments);
  if (tag.status != kExitOk) {
    return tag.status;
  }
  const bool rule = arguments.host_names;
  Call call{arguments, rule ? ApplyNamingRule(arguments.source) : arguments.source,
            rule ? ApplyNamingRule(arguments.destination) : arguments.destination,
            tag.text.value_or("")};
  if (arguments.destination == "-") {
    return ToStandardOutput(call);
  }
  return ToFile(operation, verb, done, call);
}

}  // namespace

int RunEncrypt(const Arguments& arguments) {
  return arguments.ManyFiles()
             ? RunEncryptMany(arguments)
             : RunOne(&CNGManager::EncryptFile, "encrypt", "encrypted", arguments);
}

int RunDecrypt(const Arguments& arguments) {
  return arguments.ManyFiles()
             ? RunDecryptMany(arguments)
             : RunOne(&CNGManager::DecryptFile, "decrypt", "decrypted", arguments);
}

}  // namespace mirdcng::tool
