// mirdcng: the library's exports, by hand.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/commands.h"

namespace mirdcng::tool {
namespace {

constexpr std::string_view kUsage = R"(usage: mirdcng COMMAND [OPTIONS] PATHS

commands:
  encrypt SRC DST [--tag TAG]   encrypt SRC into DST, sealing TAG inside
  decrypt SRC DST [--tag TAG]   decrypt SRC into DST; TAG must be the one sealed
  cat FILE                      write FILE to standard output as the framework
                                reads it: decrypted when it is encrypted
  inspect FILE                  describe FILE's layout without decrypting it

options:
  -t, --tag TAG   a text of at most 255 bytes sealed inside the file; the
                  same tag must be given back to decrypt it
  -h, --help      show this help
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

struct Command {
  std::string_view name;
  int (*run)(const Arguments&);
};

constexpr Command kCommands[] = {
    {"encrypt", RunEncrypt},
    {"decrypt", RunDecrypt},
    {"cat", RunCat},
    {"inspect", RunInspect},
};

}  // namespace

void Complain(const std::string& message) {
  std::fprintf(stderr, "mirdcng: %s\n", message.c_str());
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

int Main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty() || words[0] == "-h" || words[0] == "--help" || words[0] == "help") {
    std::fputs(kUsage.data(), words.empty() ? stderr : stdout);
    return words.empty() ? kExitUsage : kExitOk;
  }
  const std::string name = words[0];
  words.erase(words.begin());
  std::string error;
  const auto arguments = ParseArguments(words, error);
  if (!arguments) {
    Complain(error);
    return kExitUsage;
  }
  if (arguments->help) {
    std::fputs(kUsage.data(), stdout);
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (command.name == name) {
      return command.run(*arguments);
    }
  }
  Complain("unknown command '" + name + "'; see mirdcng --help");
  return kExitUsage;
}

}  // namespace mirdcng::tool

int main(int argc, char** argv) { return mirdcng::tool::Main(argc, argv); }
