// Replacing a file whole, so that a crash at any moment leaves either the old
// file or the whole new one: the new content goes into a temporary file beside
// the destination, is flushed to the disk, and the temporary is renamed over
// the destination (on Linux the folder is then synced, so that the rename
// itself is on the disk).
//
// Who may write the destination is decided as for fopen(path, "wb"), by the
// system, before anything is made: an existing destination is opened for
// writing first (following links as fopen does, under the system's own rules
// for links), and a failed open refuses the call with the system's reason; a
// new destination is decided by its folder. The file that open reached is the
// one replaced, and only if its name still leads to it right before the
// rename.
//
// The temporary is named ".<destination's name>.mirdcng-<random>.tmp" (the
// name cut to 100 bytes; the random part is drawn anew for every temporary and
// a name taken is never followed or reused), created exclusively and readable
// by its owner alone until it has the destination's owner and permissions. A
// process killed while it writes leaves that file behind, never a damaged
// destination.
//
// Errors are errno values, as in share_open.h.
#ifndef MIRDCNG_PLATFORM_FILE_REPLACE_H_
#define MIRDCNG_PLATFORM_FILE_REPLACE_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/share_open.h"

namespace mirdcng::platform {

// Replacement is the one owner of what replacing one destination holds: the
// destination itself, open for writing when it exists; its folder; and the
// temporary beside it. Unless Commit has renamed the temporary over the
// destination, the temporary is removed when the object goes.
class Replacement {
 public:
  // How Begin left the destination.
  enum class State {
    kReady,        // a temporary is open for the new content: stream()
    kInPlaceOnly,  // the folder takes no new file, but the destination itself
                   // was opened for writing: it can be written in place
    kNotRegular,   // the destination is not a regular file; nothing was opened
    kRefused,      // error(): it cannot be written, or no temporary can be had
  };
  enum class Result {
    kReplaced,      // the destination is the new file
    kFailed,        // error(): the destination is as it was
    kCannotRename,  // the destination cannot be renamed over; it is as it was
                    // and can be written in place
    kChanged,       // the name no longer leads to the file that was opened;
                    // nothing was changed
  };

  // Begin opens the destination `path` for writing without emptying it (an
  // existing one; a link that leads nowhere yet makes the file it leads to, as
  // fopen would), then makes the temporary in the folder of the file it
  // reached. A temporary starts with mode 0600 (less the umask) and takes the
  // destination's permissions and, where this process may, its owner before
  // a byte is written; for a new destination it is made as fopen would make
  // the file. kInPlaceOnly only where the system refuses the temporary for
  // want of permission (EACCES, EPERM) while the destination was opened;
  // every other failure (no space, no inodes, no descriptors, a name too
  // long, no free name) is kRefused.
  [[nodiscard]] static Replacement Begin(const char* path);

  Replacement() = default;
  ~Replacement();
  Replacement(Replacement&& other) noexcept;
  Replacement& operator=(Replacement&& other) noexcept;
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  State state() const { return state_; }
  int error() const { return error_; }
  // The temporary's stream, unbuffered; null unless kReady.
  std::FILE* stream() const { return file_.get(); }
  // Which file the destination is; nothing for a new destination.
  const std::optional<FileIdentity>& destination() const { return identity_; }

  // Commit flushes the temporary to the disk, closes it and, when the
  // destination's name still leads to the file Begin opened, renames it over
  // the destination, then syncs the folder. A failure before the rename
  // removes the temporary and leaves the destination as it was. kCannotRename
  // is the one failure that writing in place may get past: on Windows a
  // destination that another process holds open without delete sharing; on
  // Linux a destination that is a mount point (EBUSY), on another file
  // system (EXDEV), or in a sticky folder that lets this process write the
  // file but not replace it (EPERM). A failed sync of the folder after the
  // rename is not a failure: the destination already is the whole new file.
  [[nodiscard]] Result Commit();

  // InPlace empties the destination Begin opened and returns an unbuffered
  // stream over it, for writing in place (kInPlaceOnly, or after
  // kCannotRename); it may be called again to write it anew. Null, with
  // error(), when there is no destination open or it cannot be emptied.
  [[nodiscard]] File InPlace();

 private:
  // End lets go of everything Begin took and leaves the replacement in
  // `state` (kRefused: with the system's `error`, EIO when none is known).
  Replacement&& End(State state, int error = 0);
  // MakeTemporary creates a fresh temporary in the folder with `mode`, open
  // for writing; returns 0 or the system's error.
  int MakeTemporary(unsigned mode);
  void Discard();
  void Release();

  State state_ = State::kRefused;
  File file_;
  std::string temp_;         // the temporary's name in the folder
  std::string target_;       // the destination's name in the folder
  std::string folder_path_;  // the folder, as a path ending in its separator
  std::optional<FileIdentity> identity_;
  std::intptr_t destination_ = -1;  // the destination, open for writing
  std::intptr_t folder_ = -1;       // POSIX: the folder, for calls relative to it
  int live_ = -1;                   // the temporary's entry for RemoveTemporaries
  bool made_destination_ = false;   // Begin made it (through a link); removed on failure
  int error_ = 0;
};

// RemoveTemporaries removes every temporary that a Replacement of this
// process holds at this moment, for a program that is about to end on a
// signal. Safe to call from a signal handler (POSIX) or from the thread of a
// console control handler (Windows); up to 64 temporaries at once are known
// to it.
void RemoveTemporaries() noexcept;

}  // namespace mirdcng::platform

#endif  // MIRDCNG_PLATFORM_FILE_REPLACE_H_
