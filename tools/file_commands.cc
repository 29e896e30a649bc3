// encrypt and decrypt of one file: the file exports' own call frame, run by
// the command with the library's objects linked in, so that a failure is told
// by its precise cause. Paths are taken as named, or with --host-names under
// the .ebs naming rule, as a host's call takes them; messages name the paths
// used.
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "fileops/call_frame.h"
#include "fileops/naming_rule.h"
#include "fileops/stream_calls.h"
#include "platform/share_open.h"
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
  std::string Source() const {
    return source == "-" ? "standard input" : Described(arguments.source, source);
  }
  std::string Destination() const {
    return destination == "-" ? "standard output"
                              : Described(arguments.destination, destination);
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

// Refused reports, with a message, a DST that may not be written: one that
// is not a regular file, or another existing file unless --force.
bool Refused(const Call& call) {
  if (const std::string kind = NotAFile(call.destination); !kind.empty()) {
    Complain("cannot write " + call.Destination() + ": it is " + kind +
             (kind == "a folder" ? "; to write into a folder, give -o " +
                                       Quoted(call.arguments.destination)
                                 : ""));
    return true;
  }
  // Standard input is no file that DST could be: any DST there is another.
  const bool another = call.source == "-"
                           ? platform::IdentityOf(call.destination.c_str()).has_value()
                           : ReplacesAnother(call.source, call.destination);
  if (!call.arguments.force && another) {
    Complain(call.Destination() + " already exists; give --force to replace it");
    return true;
  }
  return false;
}

// ToFile runs `operation` from the file SRC into the file DST.
int ToFile(FileOperation operation, const char* verb, const char* done,
           const Call& call) {
  if (Refused(call)) {
    return kExitFailed;
  }
  const std::uint64_t size = SizeOf(call.source);
  const Progress progress(ShowsProgress(call.arguments.progress, 1, size), 1, size);
  const Outcome outcome = RunFileCall(call.source.c_str(), call.destination.c_str(),
                                      call.tag.c_str(), operation, Paths::kLiteral);
  return Finish(outcome, verb, done, call, "into " + call.Destination());
}

// WithStreams runs encrypt or decrypt where SRC is standard input (read
// whole) or DST standard output (written once the whole result exists).
int WithStreams(bool encrypting, const char* verb, const char* done, const Call& call) {
  CallSink to;
  if (call.destination == "-") {
    PrepareDataOutput();
    to.stream = stdout;
  } else if (Refused(call)) {
    return kExitFailed;
  } else {
    to.path = call.destination;
  }
  CallSource from;
  if (call.source == "-") {
    from.stream = platform::OpenStandardInput();
    if (!from.stream) {
      Complain("cannot read standard input: " + SystemReason(errno));
      return kExitNoSource;
    }
  } else {
    from.path = call.source;
  }
  const Outcome outcome = encrypting
                              ? RunEncryptCall(std::move(from), to, call.tag.c_str())
                              : RunDecryptCall(std::move(from), to, call.tag.c_str());
  if (to.stream != nullptr && outcome.cause == Cause::kDestinationUnwritable) {
    return OutputFailure(outcome.error);
  }
  return Finish(
      outcome, verb, done, call,
      to.stream != nullptr ? "to standard output" : "into " + call.Destination());
}

// RunOne runs encrypt (`operation` EncryptFile) or decrypt from SRC to DST.
// SRC and DST are told apart from standard input and output ("-") here
// alone.
int RunOne(FileOperation operation, const char* verb, const char* done,
           const Arguments& arguments) {
  const Tag tag = TagOf(arguments);
  if (tag.status != kExitOk) {
    return tag.status;
  }
  // The naming rule, on request, for what names a file.
  const auto used = [&arguments](const std::string& path) {
    return arguments.host_names && path != "-" ? ApplyNamingRule(path) : path;
  };
  const Call call{arguments, used(arguments.source), used(arguments.destination),
                  tag.text.value_or("")};
  if (call.source == "-" || call.destination == "-") {
    return WithStreams(operation == &CNGManager::EncryptFile, verb, done, call);
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
