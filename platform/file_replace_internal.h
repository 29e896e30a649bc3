// What file_replace.cc shares with each system's own half.
#ifndef MIRDCNG_PLATFORM_FILE_REPLACE_INTERNAL_H_
#define MIRDCNG_PLATFORM_FILE_REPLACE_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace mirdcng::platform::internal {

// TemporaryName returns a fresh name for a temporary beside the file `name`,
// with a random part that no one can foresee.
std::string TemporaryName(const std::string& name);

// RandomBytes fills `out` with `length` bytes from the system's random
// source; false when it gives none (each system's half defines it).
bool RandomBytes(unsigned char* out, std::size_t length);

// The temporaries alive in the process, for RemoveTemporaries, which may run
// in a signal handler or beside the threads that make them: fixed slots,
// claimed and let go with atomic stores. Live records the temporary `name`
// (relative to the open `folder`, or a whole path) before it is created, so
// that an interruption at any moment after finds it; it returns the slot, or
// -1 when none is free. Gone lets the slot go and sets it to -1. ForEachLive
// calls `remove` for each one recorded; it takes no lock and allocates
// nothing.
int Live(std::intptr_t folder, const std::string& name);
void Gone(int& slot);
void ForEachLive(void (*remove)(std::intptr_t folder, const char* name)) noexcept;

// SplitPath returns the folder of `path` (ending in its separator; empty for
// the current folder) and the name in it.
std::pair<std::string, std::string> SplitPath(const std::string& path);

}  // namespace mirdcng::platform::internal

#endif  // MIRDCNG_PLATFORM_FILE_REPLACE_INTERNAL_H_
