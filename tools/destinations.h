// What the command checks of a destination before the library's call, so that
// a refusal says what is in the way: a destination that exists and is not a
// regular file (the library refuses it too, in fewer words), or another file
// that only --force may replace.
#ifndef MIRDCNG_TOOLS_DESTINATIONS_H_
#define MIRDCNG_TOOLS_DESTINATIONS_H_

#include <string>

namespace mirdcng::tool {

// NotAFile says what `path` is when it exists and is not a regular file ("a
// folder", "a FIFO", "a device", "a socket"), links followed; empty when it
// is a regular file or nothing is there.
std::string NotAFile(const std::string& path);

// ReplacesAnother reports whether `destination` names an existing file other
// than `source`. Files are told apart by identity, not by path: "a.EBS",
// "./a.EBS" and a link to it are one file. A source that cannot be found is
// the library's to report.
bool ReplacesAnother(const std::string& source, const std::string& destination);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_DESTINATIONS_H_
