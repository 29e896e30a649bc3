#include "tools/command_line.h"

namespace mirdcng::tool {

std::optional<Arguments> ParseArguments(const std::vector<std::string>& words,
                                        std::string& error) {
  Arguments arguments;
  bool options_ended = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options_ended || word.empty() || word[0] != '-' || word == "-") {
      arguments.paths.push_back(word);
    } else if (word == "--") {
      options_ended = true;
    } else if (word == "-h" || word == "--help") {
      arguments.help = true;
    } else if (word == "--tag" || word == "-t") {
      if (i + 1 == words.size()) {
        error = "option " + word + " needs a value";
        return std::nullopt;
      }
      arguments.tag = words[++i];
    } else if (word.rfind("--tag=", 0) == 0) {
      arguments.tag = word.substr(6);
    } else {
      error = "unknown option " + word;
      return std::nullopt;
    }
  }
  return arguments;
}

}  // namespace mirdcng::tool
