// The mirdcng command's argument parsing: a command word, then paths and
// options in any order. "--" ends the options, so that a path may begin with
// a dash.
#ifndef MIRDCNG_TOOLS_COMMAND_LINE_H_
#define MIRDCNG_TOOLS_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

namespace mirdcng::tool {

struct Arguments {
  std::vector<std::string> paths;
  std::optional<std::string> tag;
  bool help = false;
};

// ParseArguments reads the words after the command word. Returns nothing and
// sets `error` when a word is not understood.
std::optional<Arguments> ParseArguments(const std::vector<std::string>& words,
                                        std::string& error);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_COMMAND_LINE_H_
