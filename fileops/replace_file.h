// Writing a file export's destination whole, so that a failure, a crash or a
// kill never leaves a damaged destination behind.
//
// Who may write the destination is the system's to say, as for fopen(path,
// "wb"): an existing destination is opened for writing before anything else
// is done, and a refusal (permission, a read-only file, a link the system
// will not follow) fails the call with the destination untouched.
//
// The destination is then replaced, not emptied and rewritten: the new
// content goes into a temporary file beside it, is flushed to the disk and
// renamed over it (platform/file_replace.h). Until the rename the destination
// is untouched; after it, the destination is the whole new file. A failure
// removes the temporary; a crash can leave one behind
// (".NAME.mirdcng-RANDOM.tmp"), never a damaged destination. No space, no
// inodes, no descriptors left, a name too long: the call fails and the
// destination stays as it was.
//
// Where the destination may be written but not replaced, it is written in
// place through the descriptor opened first, as a fallback that is NOT
// crash-safe: a crash or a kill while it is written leaves it empty or cut
// short. The fallback is taken only
//   - where the folder takes no new file from this process (the system
//     refuses the temporary for want of permission) while the file itself
//     was opened for writing;
//   - where the file cannot be renamed over: on Windows a file that another
//     process holds open without delete sharing (the framework's hosts keep
//     their files open so), on Linux a mount point, a file on another file
//     system, or another user's file in a sticky folder that this process
//     may write.
// A failed in-place write of a destination that is also the source writes the
// source's bytes back; should that fail too, they are lost.
#ifndef MIRDCNG_FILEOPS_REPLACE_FILE_H_
#define MIRDCNG_FILEOPS_REPLACE_FILE_H_

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include "engine/outcome.h"
#include "platform/share_open.h"

namespace mirdcng {

// Original is what the fallback needs to put an export's source back, should
// its destination be that source and the in-place write fail: which file the
// source is, and how to have its bytes again. The operations transform their
// one block in place, so the source's bytes no longer exist as such while the
// destination is written: `restore` rebuilds them (by undoing the transform
// in the same block) and returns them as a header and a body, either of
// which may be empty; it is called at most once, after the pieces are no
// longer needed. No `restore`: nothing can be put back.
struct Original {
  std::optional<platform::FileIdentity> identity;
  std::function<std::array<std::span<const std::uint8_t>, 2>()> restore;
};

// WriteDestination makes `pieces`, one after the other, the whole content of
// the file at `path` (a symbolic link: of the file it leads to). Returns
// kDone; kDestinationNotRegular, with nothing written, when `path` leads to
// something that is not a regular file; kDestinationChanged, with nothing
// written, when the name led to another file by the time of the rename; or
// kDestinationUnwritable with the system's error, the destination then being
// as it was (but for a failed fallback, above).
[[nodiscard]] Outcome WriteDestination(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces,
    const Original& original);

// WriteStream writes `content` to the open stream `out` (standard output, for
// the command) and flushes it. Returns kDone, or kDestinationUnwritable with
// the system's error; what was written before a failure stays written.
[[nodiscard]] Outcome WriteStream(std::FILE* out, std::span<const std::uint8_t> content);

}  // namespace mirdcng

#endif  // MIRDCNG_FILEOPS_REPLACE_FILE_H_
