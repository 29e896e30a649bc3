// encrypt and decrypt: the two file exports, with messages that name the
// paths as the naming rule left them.
#include <cstdio>
#include <string>

#include "engine/container_format.h"
#include "exports/mirdcng.h"
#include "exports/result_codes.h"
#include "fileops/naming_rule.h"
#include "tools/commands.h"

namespace mirdcng::tool {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// "'notes.txt.ebs' (from 'notes.txt')" when the rule changed the path.
std::string Described(const std::string& given) {
  const std::string used = ApplyNamingRule(given);
  return used == given ? Quoted(used) : Quoted(used) + " (from " + Quoted(given) + ")";
}

// Why an encryption refused, as far as can be seen from outside.
std::string EncryptRefusal(const std::string& source, const std::string& tag) {
  if (tag.size() > kMaxTagLength) {
    return "the tag is longer than 255 bytes";
  }
  std::FILE* file = std::fopen(source.c_str(), "rb");
  const int first = file != nullptr ? std::fgetc(file) : EOF;
  if (file != nullptr) {
    std::fclose(file);
  }
  if (first == kContainerMarker || (first == EOF && !tag.empty() &&
                                    static_cast<unsigned char>(tag[0]) == kContainerMarker)) {
    return "it is already encrypted (it begins with the byte 0xDD)";
  }
  if (first == EOF && tag.empty()) {
    return "it is empty and no tag was given";
  }
  return "it is 2 GiB or larger, could not be read, or the destination could not be written";
}

// Why a decryption refused with result code 0, as far as can be seen from
// outside.
std::string DecryptRefusal(const std::string& source) {
  std::FILE* file = std::fopen(source.c_str(), "rb");
  const int first = file != nullptr ? std::fgetc(file) : EOF;
  if (file != nullptr) {
    std::fclose(file);
  }
  if (first != kContainerMarker) {
    return "it is not an encrypted file (it does not begin with the byte 0xDD)";
  }
  return "it is damaged (it does not decrypt), is 2 GiB or larger, or the destination "
         "could not be written";
}

}  // namespace

int RunEncrypt(const Arguments& arguments) {
  if (arguments.paths.size() != 2) {
    Complain("encrypt takes a source and a destination; see mirdcng --help");
    return kExitUsage;
  }
  const std::string& src = arguments.paths[0];
  const std::string& dst = arguments.paths[1];
  const std::string tag = arguments.tag.value_or("");
  int err = -1;
  if (cng_77x(src.c_str(), dst.c_str(), tag.c_str(), err)) {
    std::printf("encrypted %s into %s\n", Described(src).c_str(), Described(dst).c_str());
    return kExitOk;
  }
  if (err == kResultSourceUnreadable) {
    Complain("cannot open the source " + Described(src));
    return kExitNoSource;
  }
  Complain("did not encrypt " + Described(src) + ": " +
           EncryptRefusal(ApplyNamingRule(src), tag));
  return kExitFailed;
}

}  // namespace mirdcng::tool

namespace mirdcng::tool {

int RunDecrypt(const Arguments& arguments) {
  if (arguments.paths.size() != 2) {
    Complain("decrypt takes a source and a destination; see mirdcng --help");
    return kExitUsage;
  }
  const std::string& src = arguments.paths[0];
  const std::string& dst = arguments.paths[1];
  const std::string tag = arguments.tag.value_or("");
  int err = -1;
  if (cng_77z(src.c_str(), dst.c_str(), tag.c_str(), err)) {
    std::printf("decrypted %s into %s\n", Described(src).c_str(), Described(dst).c_str());
    return kExitOk;
  }
  switch (err) {
    case kResultSourceUnreadable:
      Complain("cannot open the source " + Described(src));
      return kExitNoSource;
    case kResultTagMismatch:
      Complain(tag.empty() ? "the tag is wrong: " + Described(src) +
                                 " was sealed with a tag; give it with --tag"
                           : "the tag is wrong for " + Described(src) +
                                 "; nothing was written");
      return kExitWrongTag;
    default:
      Complain("did not decrypt " + Described(src) + ": " +
               DecryptRefusal(ApplyNamingRule(src)));
      return kExitFailed;
  }
}

}  // namespace mirdcng::tool
