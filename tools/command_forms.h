// What the parser of the command line cannot check alone: the values given
// as text (-j, --memory), the options that exclude each other, and which
// form of its command a line is (SRC DST, or PATHs with -i or -o).
#ifndef MIRDCNG_TOOLS_COMMAND_FORMS_H_
#define MIRDCNG_TOOLS_COMMAND_FORMS_H_

#include <cstdint>
#include <string>

#include "tools/command_line.h"

namespace mirdcng::tool {

// RawValues are what the parser read as text or flags, to be checked here.
struct RawValues {
  std::string jobs;
  std::string memory;
  bool progress = false;
  bool no_progress = false;
  bool tag_given = false;  // -t was given
};

// CheckForm completes `arguments` for `command` from `raw`, and picks the
// form of encrypt and decrypt. Returns what is wrong, or empty.
std::string CheckForm(const std::string& command, const RawValues& raw,
                      Arguments& arguments);

// ParseCount reads a whole number from 1 to `most`, followed by K, M or G
// (binary multiples, with an optional "B" or "iB") when `scaled`; 0 when
// `text` is not one.
std::uint64_t ParseCount(const std::string& text, std::uint64_t most, bool scaled);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_COMMAND_FORMS_H_
