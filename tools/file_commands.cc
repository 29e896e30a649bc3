// encrypt and decrypt: the two file exports, with messages that name the
// paths as the naming rule left them.
#include <cstdio>
#include <optional>
#include <string>

#include "engine/container_format.h"
#include "fileops/naming_rule.h"
#include "mirdcng/mirdcng.h"
#include "mirdcng/result_codes.h"
#include "tools/commands.h"

namespace mirdcng::tool {
namespace {

// The file exports' common form.
using FileExport = bool (*)(const char* src, const char* dst, const char* tag, int& err);

// A file call's outcome: its result and its result code.
struct Outcome {
  bool done = false;
  int err = -1;
};

// "'notes.txt.ebs' (from 'notes.txt')" when the rule changed the path.
std::string Described(const std::string& given) {
  const std::string used = ApplyNamingRule(given);
  return used == given ? Quoted(used) : Quoted(used) + " (from " + Quoted(given) + ")";
}

// The first byte of the file at `path`, or EOF when it is empty or unreadable.
int FirstByte(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return EOF;
  }
  const int first = std::fgetc(file);
  std::fclose(file);
  return first;
}

// Why an encryption refused, as far as can be seen from outside.
std::string EncryptRefusal(const std::string& source, const std::string& tag) {
  if (tag.size() > kMaxTagLength) {
    return "the tag is longer than 255 bytes";
  }
  const int first = FirstByte(source);
  if (first == kContainerMarker ||
      (first == EOF && !tag.empty() &&
       static_cast<unsigned char>(tag[0]) == kContainerMarker)) {
    return "it is already encrypted (it begins with the byte 0xDD)";
  }
  if (first == EOF && tag.empty()) {
    return "it is empty and no tag was given";
  }
  return "it is 2 GiB or larger, could not be read, or the destination could not be "
         "written";
}

// Why a decryption refused with result code 0, as far as can be seen from
// outside.
std::string DecryptRefusal(const std::string& source) {
  if (FirstByte(source) != kContainerMarker) {
    return "it is not an encrypted file (it does not begin with the byte 0xDD)";
  }
  return "it is damaged (it does not decrypt), is 2 GiB or larger, or the destination "
         "could not be written";
}

// Runs `call` on the two paths of `arguments`, and says so when it worked.
// Returns nothing, after complaining, when the command line is wrong.
std::optional<Outcome> RunFileExport(const char* command, const char* done_verb,
                                     FileExport call, const Arguments& arguments) {
  if (arguments.paths.size() != 2) {
    Complain(std::string(command) +
             " takes a source and a destination; see mirdcng --help");
    return std::nullopt;
  }
  const std::string& src = arguments.paths[0];
  const std::string& dst = arguments.paths[1];
  Outcome outcome;
  outcome.done =
      call(src.c_str(), dst.c_str(), arguments.tag.value_or("").c_str(), outcome.err);
  if (outcome.done) {
    std::printf("%s %s into %s\n", done_verb, Described(src).c_str(),
                Described(dst).c_str());
  } else if (outcome.err == kResultSourceUnreadable) {
    Complain("cannot open the source " + Described(src));
  }
  return outcome;
}

}  // namespace

int RunEncrypt(const Arguments& arguments) {
  const auto outcome = RunFileExport("encrypt", "encrypted", cng_77x, arguments);
  if (!outcome) {
    return kExitUsage;
  }
  if (outcome->done) {
    return kExitOk;
  }
  if (outcome->err == kResultSourceUnreadable) {
    return kExitNoSource;
  }
  const std::string& src = arguments.paths[0];
  Complain("did not encrypt " + Described(src) + ": " +
           EncryptRefusal(ApplyNamingRule(src), arguments.tag.value_or("")));
  return kExitFailed;
}

int RunDecrypt(const Arguments& arguments) {
  const auto outcome = RunFileExport("decrypt", "decrypted", cng_77z, arguments);
  if (!outcome) {
    return kExitUsage;
  }
  if (outcome->done) {
    return kExitOk;
  }
  const std::string& src = arguments.paths[0];
  switch (outcome->err) {
    case kResultSourceUnreadable:
      return kExitNoSource;
    case kResultTagMismatch:
      Complain(arguments.tag.value_or("").empty()
                   ? "the tag is wrong: " + Described(src) +
                         " was sealed with a tag; give it with --tag"
                   : "the tag is wrong for " + Described(src) + "; nothing was written");
      return kExitWrongTag;
    default:
      Complain("did not decrypt " + Described(src) + ": " +
               DecryptRefusal(ApplyNamingRule(src)));
      return kExitFailed;
  }
}

}  // namespace mirdcng::tool
