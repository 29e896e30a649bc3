// What file_replace.cc shares with each system's own half.
#ifndef MIRDCNG_PLATFORM_FILE_REPLACE_INTERNAL_H_
#define MIRDCNG_PLATFORM_FILE_REPLACE_INTERNAL_H_

#include <string>
#include <utility>

namespace mirdcng::platform::internal {

// TemporaryName returns a fresh name for a temporary beside the file `name`,
// made by the process `process`.
std::string TemporaryName(const std::string& name, unsigned long process);

// SplitPath returns the folder of `path` (ending in its separator; empty for
// the current folder) and the name in it.
std::pair<std::string, std::string> SplitPath(const std::string& path);

}  // namespace mirdcng::platform::internal

#endif  // MIRDCNG_PLATFORM_FILE_REPLACE_INTERNAL_H_
