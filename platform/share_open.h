// Opening files without share restrictions and without blocking, and
// measuring them.
//
// The host framework keeps its files open while it calls the library, so every
// file the library opens lets other openers read and write it meanwhile
// (Windows' _SH_DENYNO; there it may also rename or delete it, so that the
// library's own handle never stands in the way of a replacement). Paths are
// narrow byte strings, handed to the narrow open functions unchanged. No
// descriptor or handle the library opens is inherited by a child process.
//
// Only regular files are opened. Anything else that a name may reach (a FIFO,
// a device, a socket, a folder) is refused before it is opened for reading or
// writing, and again after opening, before a byte moves: a FIFO would block
// the call, a device could be read for ever, and opening some devices has
// effects of its own.
//
// Errors are errno values; on Windows the system's own codes are mapped to
// the nearest errno in one place.
#ifndef MIRDCNG_PLATFORM_SHARE_OPEN_H_
#define MIRDCNG_PLATFORM_SHARE_OPEN_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace mirdcng::platform {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// File is the one owner of an open stream; it closes it when it goes. Close a
// stream that was written with CloseFile instead, to learn whether it worked.
using File = std::unique_ptr<std::FILE, FileCloser>;

// FileIdentity tells files apart whatever path reaches them: two paths name
// the same file exactly when their identities are equal.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Opened is what an open gives: the stream, or why there is none; and what the
// open learnt of the file on the way, so that no one asks the system again:
// its size when it was opened and its identity.
struct Opened {
  File file;
  bool not_regular = false;  // the name reaches something else; it was not read
  int error = 0;             // errno, when the open itself failed
  std::int64_t size = -1;    // -1 when it could not be measured
  std::optional<FileIdentity> identity;
};

// OpenForReading opens the regular file `path` for reading in binary mode.
// The stream is unbuffered: reads go from the system straight into the
// caller's memory, and no copy of the content stays behind in a stream
// buffer. Kernel files that measure 0 bytes but have content (/proc) are
// regular and are read whole.
[[nodiscard]] Opened OpenForReading(const char* path);

// OpenStandardInput returns a stream of its own over the process's standard
// input, for reading in binary mode, unbuffered as OpenForReading's; closing
// it leaves standard input open. Null, with errno, when none can be had.
[[nodiscard]] File OpenStandardInput();

// CheckOpensForReading opens `path` as OpenForReading does and closes it again
// at once, without making a stream of it: the Opened it returns has no
// stream, and its `not_regular` and `error` say why the open failed (neither
// set: it opened).
[[nodiscard]] Opened CheckOpensForReading(const char* path);

// FileSize returns the size of the open `file` in bytes, or -1 when it cannot
// be measured. The stream's position is not moved.
std::int64_t FileSize(std::FILE* file);

// CloseFile flushes and closes `file`; returns 0, or the errno of the flush or
// close that failed. The file is released either way.
[[nodiscard]] int CloseFile(File file);

// CanRewind reports whether `file` can be set back to its start: true for a
// stream on a regular file (or a disk), false for a pipe, a terminal, or a
// stream that cannot seek. Nothing is read or moved.
[[nodiscard]] bool CanRewind(std::FILE* file);

// StreamSource is what the open stream `stream` gives as a source: itself,
// and its size where it can be measured (a regular file); -1 otherwise (a
// pipe, a terminal). It has no identity.
[[nodiscard]] inline Opened StreamSource(File stream) {
  const std::int64_t size = FileSize(stream.get());
  return Opened{std::move(stream), false, 0, size, std::nullopt};
}

// IdentityOf returns the identity of the file at `path` (that of an open file
// is in its Opened); nothing when it cannot be learnt (no such file, say).
std::optional<FileIdentity> IdentityOf(const char* path);

}  // namespace mirdcng::platform

#endif  // MIRDCNG_PLATFORM_SHARE_OPEN_H_
