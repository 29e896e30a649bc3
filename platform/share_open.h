// Opening files without share restrictions, and measuring them.
//
// The host framework keeps its files open while it calls the library, so every
// file the library opens lets other openers read and write it meanwhile
// (Windows' _SH_DENYNO). Paths are narrow byte strings, handed to the
// narrow open functions unchanged.
#ifndef MIRDCNG_PLATFORM_SHARE_OPEN_H_
#define MIRDCNG_PLATFORM_SHARE_OPEN_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

namespace mirdcng::platform {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// File is the one owner of an open stream; it closes it when it goes. Close a
// stream that was written with CloseFile instead, to learn whether it worked.
using File = std::unique_ptr<std::FILE, FileCloser>;

// OpenShared opens `path` as fopen does with `mode`, sharing it with every
// other opener for reading and writing (on Windows, _SH_DENYNO: not for
// deletion). Returns null when the file cannot be opened; a directory
// never opens, as on Windows.
File OpenShared(const char* path, const char* mode);

// FileSize returns the size of the open `file` in bytes, or -1 when it cannot
// be measured. The stream's position is not moved.
std::int64_t FileSize(std::FILE* file);

// CloseFile flushes and closes `file`, and returns false when either failed.
bool CloseFile(File file);

// FileIdentity tells files apart whatever path reaches them: two paths name
// the same file exactly when their identities are equal.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// IdentityOf returns the identity of the open `file`, or of the file at
// `path`; nothing when it cannot be learnt (no such file, say).
std::optional<FileIdentity> IdentityOf(std::FILE* file);
std::optional<FileIdentity> IdentityOf(const char* path);

}  // namespace mirdcng::platform

#endif  // MIRDCNG_PLATFORM_SHARE_OPEN_H_
