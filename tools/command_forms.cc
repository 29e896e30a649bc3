#include "tools/command_forms.h"

#include <string_view>

namespace mirdcng::tool {
namespace {

// CheckValues turns the options read as text into numbers.
std::string CheckValues(const RawValues& raw, Arguments& arguments) {
  if (!raw.jobs.empty() &&
      (arguments.jobs = static_cast<unsigned>(ParseCount(raw.jobs, 1024, false))) == 0) {
    return "-j takes a number of files from 1 to 1024, not '" + raw.jobs + "'";
  }
  if (!raw.memory.empty() &&
      (arguments.memory = ParseCount(raw.memory, std::uint64_t{1} << 60, true)) == 0) {
    return "--memory takes a size such as 512M or 2G, not '" + raw.memory + "'";
  }
  if (raw.progress && raw.no_progress) {
    return "give --progress or --no-progress, not both";
  }
  arguments.progress = raw.progress      ? ProgressChoice::kShown
                       : raw.no_progress ? ProgressChoice::kHidden
                                         : ProgressChoice::kAuto;
  arguments.tag_given = raw.tag_given;
  return raw.tag_given && !arguments.tag_file.empty() ? "give -t or --tag-file, not both"
                                                      : "";
}

// CheckFileForm picks the form of encrypt or decrypt: SRC DST, or PATHs with
// -i or -o.
std::string CheckFileForm(Arguments& arguments) {
  if (arguments.in_place && !arguments.output_dir.empty()) {
    return "give -i or -o DIR, not both";
  }
  if (arguments.ManyFiles()) {
    if (arguments.host_names) {
      return "--host-names is for the form SRC DST";
    }
    return arguments.paths.empty() ? "no PATH given" : "";
  }
  if (arguments.recursive) {
    return "-r walks folders for -i or -o DIR";
  }
  if (arguments.paths.size() != 2) {
    return arguments.paths.empty()      ? "SRC and DST are missing"
           : arguments.paths.size() < 2 ? "DST is missing; for files in place, give -i"
                                        : "more than SRC and DST; give -i to work on "
                                          "each file in place, or -o DIR";
  }
  arguments.source = arguments.paths[0];
  arguments.destination = arguments.paths[1];
  arguments.paths.clear();
  return "";
}

}  // namespace

std::string CheckForm(const std::string& command, const RawValues& raw,
                      Arguments& arguments) {
  if (std::string wrong = CheckValues(raw, arguments); !wrong.empty()) {
    return wrong;
  }
  if (command == "encrypt" || command == "decrypt") {
    return CheckFileForm(arguments);
  }
  if (command == "verify") {
    return arguments.paths.empty() ? "no PATH given" : "";
  }
  return arguments.source.empty() ? "FILE is missing" : "";
}

std::uint64_t ParseCount(const std::string& text, std::uint64_t most, bool scaled) {
  std::uint64_t value = 0;
  std::size_t at = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (value > most / 10) {
      return 0;
    }
    value = value * 10 + static_cast<unsigned>(text[at] - '0');
  }
  const std::string_view unit = std::string_view(text).substr(at);
  int shift = 0;
  if (at == 0) {
    return 0;
  }
  if (!unit.empty()) {
    const std::size_t power =
        std::string_view("KMG").find(static_cast<char>(unit[0] & ~0x20));
    const std::string_view rest = unit.substr(1);
    if (!scaled || power == std::string_view::npos ||
        !(rest.empty() || rest == "B" || rest == "iB")) {
      return 0;
    }
    shift = 10 * static_cast<int>(power + 1);
  }
  return value <= (most >> shift) ? value << shift : 0;
}

}  // namespace mirdcng::tool
