// Where the tag comes from: -t TAG, --tag-file FILE or the environment's
// MIRDCNG_TAG, the first given of the three. -t shows the tag on the process
// list, which every user of the machine may read while the command runs; the
// environment is readable by the same user (and root) alone, and a file by
// whom its permissions let.
#ifndef MIRDCNG_TOOLS_TAG_SOURCE_H_
#define MIRDCNG_TOOLS_TAG_SOURCE_H_

#include <optional>
#include <string>

#include "tools/command_line.h"

namespace mirdcng::tool {

// The environment variable that holds a tag; empty counts as unset.
inline constexpr const char* kTagVariable = "MIRDCNG_TAG";

// Tag is the tag a command works with, or why there is none.
struct Tag {
  std::optional<std::string> text;  // nothing when no source gave one
  int status = 0;                   // non-zero: the tag could not be had
};

// TagOf reads the tag `arguments` name. A tag file's content is taken whole
// but for one final newline; "-" reads standard input, which must not also be
// a source of data. A tag longer than 255 bytes is refused. A failure has
// been complained about.
Tag TagOf(const Arguments& arguments);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_TAG_SOURCE_H_
