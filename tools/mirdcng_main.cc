// mirdcng: the library's exports, by hand.
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tools/commands.h"

#ifndef MIRDCNG_VERSION
#define MIRDCNG_VERSION "unknown"
#endif

namespace mirdcng::tool {
namespace {

constexpr std::string_view kUsage = R"(usage: mirdcng COMMAND [OPTIONS] PATHS
       mirdcng help [COMMAND] | --help | --version

commands:
  encrypt SRC DST [--tag TAG]   encrypt SRC into DST, sealing TAG inside
  decrypt SRC DST [--tag TAG]   decrypt SRC into DST; TAG must be the one sealed
  cat FILE                      write FILE to standard output as the framework
                                reads it: decrypted when it is encrypted
  inspect FILE                  describe FILE's layout without decrypting it

options:
  -t, --tag TAG   a text of at most 255 bytes sealed inside the file; the
                  same tag must be given back to decrypt it
  -h, --help      show this help, or a command's own ("mirdcng encrypt --help")
  --version       show the version
  --              end of options (for paths that begin with a dash)

The .ebs naming rule: SRC and DST are taken with ".ebs" appended unless
their part after the last "." is exactly "EBS". So "notes.txt" means
"notes.txt.ebs", "model.EBS" means itself, and "model.ebs" means
"model.ebs.ebs". The messages name the paths that were used. cat and
inspect take FILE as it is.

Files are encrypted with AES-128-CBC under a key built into the library:
this hides their content from those without the library, nothing more.

exit status: 0 done, 1 refused or failed, 2 bad command line,
             3 the source cannot be opened, 5 wrong tag
)";

constexpr std::string_view kNamingNote =
    "SRC and DST follow the .ebs naming rule: \".ebs\" is appended unless the\n"
    "part after the last \".\" is exactly \"EBS\" (so \"notes.txt\" means\n"
    "\"notes.txt.ebs\"). The message names the paths that were used.\n";

struct Command {
  std::string_view name;
  std::string_view synopsis;
  std::string_view help;
  int (*run)(const Arguments&);
};

const Command kCommands[] = {
    {"encrypt", "encrypt SRC DST [--tag TAG]",
     "Encrypts SRC into DST with AES-128-CBC under a fresh random IV. TAG, at\n"
     "most 255 bytes, is sealed inside after the content; decrypt needs it back.\n"
     "Refused: a SRC that is already encrypted (begins with 0xDD), an empty SRC\n"
     "with no tag, a SRC of 2 GiB or more. DST is left alone on every refusal.\n"
     "DST may be SRC: the file is then replaced by its encrypted form.\n",
     RunEncrypt},
    {"decrypt", "decrypt SRC DST [--tag TAG]",
     "Decrypts SRC into DST when TAG is the tag sealed inside (none, when it was\n"
     "encrypted without one). A wrong tag exits with 5 and writes nothing; DST\n"
     "is written only once the tag has matched.\n",
     RunDecrypt},
    {"cat", "cat FILE",
     "Writes FILE to standard output the way the framework reads it: the\n"
     "plaintext of an encrypted file (no tag needed; the tag is dropped), any\n"
     "other file byte for byte. FILE is taken as it is, with no naming rule.\n",
     RunCat},
    {"inspect", "inspect FILE",
     "Tells whether FILE is encrypted and, if so, its tag length, IV, ciphertext\n"
     "length and whether the layout is whole. Reads only the 18-byte header and\n"
     "the size; never decrypts. FILE is taken as it is.\n",
     RunInspect},
};

const Command* Find(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) {
      return &command;
    }
  }
  return nullptr;
}

int PrintHelp(const Command& command) {
  std::printf("usage: mirdcng %s\n\n%s", command.synopsis.data(), command.help.data());
  if (command.name == "encrypt" || command.name == "decrypt") {
    std::printf("\n%s", kNamingNote.data());
  }
  std::printf(
      "\nexit status: 0 done, 1 refused or failed, 2 bad command line,\n"
      "             3 the source cannot be opened, 5 wrong tag\n");
  return kExitOk;
}

int UnknownCommand(const std::string& name) {
  Complain("unknown command '" + name + "'; see mirdcng --help");
  return kExitUsage;
}

}  // namespace

void Complain(const std::string& message) {
  std::fprintf(stderr, "mirdcng: %s\n", message.c_str());
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

int Main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    std::fputs(kUsage.data(), stderr);
    return kExitUsage;
  }
  const std::string name = words[0];
  if (name == "--version" || name == "-V" || name == "version") {
    std::printf("mirdcng %s\n", MIRDCNG_VERSION);
    return kExitOk;
  }
  if (name == "-h" || name == "--help" || name == "help") {
    if (words.size() > 1) {
      const Command* command = Find(words[1]);
      return command != nullptr ? PrintHelp(*command) : UnknownCommand(words[1]);
    }
    std::fputs(kUsage.data(), stdout);
    return kExitOk;
  }
  const Command* command = Find(name);
  if (command == nullptr) {
    return UnknownCommand(name);
  }
  words.erase(words.begin());
  std::string error;
  const auto arguments = ParseArguments(words, error);
  if (!arguments) {
    Complain(error);
    return kExitUsage;
  }
  return arguments->help ? PrintHelp(*command) : command->run(*arguments);
}

}  // namespace mirdcng::tool

int main(int argc, char** argv) {
  try {
    return mirdcng::tool::Main(argc, argv);
  } catch (const std::bad_alloc&) {
    // Without building a message: there may be no memory for one.
    std::fputs("mirdcng: out of memory\n", stderr);
    return mirdcng::tool::kExitFailed;
  }
}
