// Replacing a file whole, so that a crash at any moment leaves either the old
// file or the whole new one: the new content goes into a temporary file beside
// the destination, is flushed to the disk, and the temporary is renamed over
// the destination (on Linux the folder is then synced, so that the rename
// itself is on the disk).
//
// The temporary is named ".<destination's name>.mirdcng-<process>-<n>.tmp"
// (the destination's name cut to 100 bytes), a name no other call picks, and is
// created exclusively, sharing it with every other opener as every file of the
// library is. A process killed while it writes leaves that file behind, never
// a damaged destination.
//
// Errors are errno values, as in share_open.h.
#ifndef MIRDCNG_PLATFORM_FILE_REPLACE_H_
#define MIRDCNG_PLATFORM_FILE_REPLACE_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/share_open.h"

namespace mirdcng::platform {

// Destination is what a path that is about to be replaced leads to.
struct Destination {
  // The file to replace: the path with its symbolic links followed (a link is
  // not replaced; the file it leads to is), or the path as given.
  std::string target;
  bool exists = false;
  bool regular = false;
  int error = 0;  // errno, when what is there could not be learnt
  // What the new file takes over from the old one: the permission bits, owner
  // and group on POSIX; the hidden, system and archive attributes on Windows.
  std::uint32_t mode = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};

// LookAtDestination learns what `path` leads to, without opening it.
[[nodiscard]] Destination LookAtDestination(const char* path);

// Replacement is the one owner of a temporary file beside a destination. Unless
// Commit has renamed it over the destination, it is removed when the object
// goes.
class Replacement {
 public:
  enum class Result {
    kReplaced,     // the destination is the new file
    kFailed,       // error(): the destination is as it was
    kCannotRename  // the destination cannot be replaced by a rename; it is as it was
  };

  // Begin creates the temporary in the folder of `destination.target`, with
  // the permissions the destination has (a new destination: as fopen would
  // create it), open for writing, unbuffered. When none can be made there (a
  // folder that takes no new file while the destination may be writable, say)
  // the result has no stream and error() says why.
  [[nodiscard]] static Replacement Begin(const Destination& destination);

  Replacement() = default;
  ~Replacement();
  Replacement(Replacement&& other) noexcept;
  Replacement& operator=(Replacement&& other) noexcept;
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // The temporary's stream; null when Begin made none.
  std::FILE* stream() const { return file_.get(); }
  int error() const { return error_; }

  // Commit flushes the temporary to the disk, closes it and renames it over
  // the destination, then syncs the folder. A failure before the rename
  // removes the temporary and leaves the destination as it was. kCannotRename
  // is the one rename failure that another way of writing may get past: on
  // Windows a destination that another process holds open without delete
  // sharing; on Linux a destination that is a mount point of its own. A
  // failed sync of the folder after the rename is not a failure: the
  // destination already is the whole new file.
  [[nodiscard]] Result Commit();

 private:
  void Discard();

  File file_;
  std::string folder_;      // where the temporary and the destination are
  std::string temp_;        // the temporary's name in folder_
  std::string target_;      // the destination's name in folder_
  int folder_handle_ = -1;  // POSIX: the folder, open for the calls relative to it
  int error_ = 0;
};

}  // namespace mirdcng::platform

#endif  // MIRDCNG_PLATFORM_FILE_REPLACE_H_
