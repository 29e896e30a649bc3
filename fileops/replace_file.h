// Writing a file export's destination whole, so that a failure, a crash or a
// kill never leaves a damaged destination behind.
//
// The destination is replaced, not emptied and rewritten: the new content goes
// into a temporary file beside it, is flushed to the disk and renamed over it
// (platform/file_replace.h). Until the rename the destination is untouched;
// after it, the destination is the whole new file. A failure removes the
// temporary; a crash can leave one behind (".NAME.mirdcng-PID-N.tmp"), never
// a damaged destination.
//
// Where the destination cannot be replaced so, it is written in place, as a
// fallback that is NOT crash-safe: a crash or a kill while it is written
// leaves it empty or cut short. The fallback is taken
//   - where no temporary can be made beside the destination: a folder that
//     takes no new file while the destination itself may be written;
//   - where the destination cannot be renamed over: on Windows a file that
//     another process holds open without delete sharing (the framework's hosts
//     keep their files open so), on Linux a file that is a mount point.
// A failed in-place write of a destination that is also the source writes the
// source's bytes back; should that fail too, they are lost.
#ifndef MIRDCNG_FILEOPS_REPLACE_FILE_H_
#define MIRDCNG_FILEOPS_REPLACE_FILE_H_

#include <array>
#include <cstdint>
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
// something that is not a regular file; or kDestinationUnwritable with the
// system's error, the destination then being as it was (but for a failed
// fallback, above).
[[nodiscard]] Outcome WriteDestination(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces,
    const Original& original);

}  // namespace mirdcng

#endif  // MIRDCNG_FILEOPS_REPLACE_FILE_H_
