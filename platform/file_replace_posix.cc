// POSIX: the destination is opened by the kernel, which applies its own rules
// for permission and for following links; the temporary is made, renamed and
// removed relative to the folder of the file that open reached, through a
// handle that needs no read permission on it.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file_replace.h"
#include "platform/file_replace_internal.h"
#include "platform/observed_stream.h"

namespace mirdcng::platform {
namespace {

// Attempts at a fresh name: with random names, a taken one is all but
// impossible, so a run of them means the folder is being filled on purpose.
constexpr int kNameAttempts = 16;

#if defined(O_PATH)
// Calls relative to the folder need only search permission on it: a folder
// with write and search but no read permission takes new files all the same.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

FileIdentity IdentityFrom(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino)};
}

// KernelPath returns the path of the file open as `descriptor`, as the
// kernel found it, links resolved; `path`, resolved by the C library, where
// the kernel does not tell (no /proc).
std::string KernelPath(int descriptor, const char* path) {
  std::string found(PATH_MAX, '\0');
  const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
  const ssize_t length = readlink(link.c_str(), found.data(), found.size());
  if (length > 0 && found[0] == '/' && static_cast<std::size_t>(length) < found.size()) {
    found.resize(static_cast<std::size_t>(length));
    return found;
  }
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) {
    return path;
  }
  std::string result(resolved);
  std::free(resolved);
  return result;
}

// Gives the temporary `descriptor` the destination's owner (where this
// process may) and permissions, in that order: a change of owner clears the
// set-id bits.
int TakeOverPermissions(int descriptor, const struct stat& destination) {
  struct stat info {};
  if (fstat(descriptor, &info) != 0) {
    return errno;
  }
  if (info.st_uid != destination.st_uid || info.st_gid != destination.st_gid) {
    static_cast<void>(fchown(descriptor, destination.st_uid, destination.st_gid));
  }
  return fchmod(descriptor, destination.st_mode & 07777) == 0 ? 0 : errno;
}

bool FolderRefusesNewFiles(int error) { return error == EACCES || error == EPERM; }

}  // namespace

namespace internal {

bool RandomBytes(unsigned char* out, std::size_t length) {
  return getrandom(out, length, GRND_NONBLOCK) == static_cast<ssize_t>(length);
}

}  // namespace internal

void RemoveTemporaries() noexcept {
  internal::ForEachLive([](std::intptr_t folder, const char* name) {
    unlinkat(static_cast<int>(folder), name, 0);
  });
}

Replacement Replacement::Begin(const char* path) {
  Replacement replacement;
  if (internal::Injected(Call::kFileStat)) {
    return replacement.End(State::kRefused, errno);
  }
  // Looked at first, so that a FIFO or a device is not even opened.
  struct stat info {};
  int descriptor = -1;
  int refused = ENOENT;  // why there is no descriptor; ENOENT: a new file
  if (stat(path, &info) == 0) {
    if (!S_ISREG(info.st_mode)) {
      return replacement.End(State::kNotRegular);
    }
    descriptor = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    refused = errno;
  } else if (errno != ENOENT) {
    return replacement.End(State::kRefused, errno);
  } else if (struct stat link{}; lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
    // A link that leads nowhere yet: fopen would make the file it leads to,
    // and so does the kernel here, under its rules for links.
    descriptor = open(path, O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    refused = errno;
    replacement.made_destination_ = descriptor >= 0;
  }
  if (descriptor < 0 && refused != ENOENT) {
    // The system's own refusal: permission, a link it will not follow.
    return replacement.End(State::kRefused, refused);
  }
  std::string where = path;
  if (descriptor >= 0) {
    replacement.destination_ = descriptor;
    if (fstat(descriptor, &info) != 0) {
      return replacement.End(State::kRefused, errno);
    }
    if (!S_ISREG(info.st_mode)) {
      return replacement.End(State::kNotRegular);
    }
    replacement.identity_ = IdentityFrom(info);
    where = KernelPath(descriptor, path);
  }
  const bool exists = replacement.destination_ >= 0;
  std::string folder;
  std::tie(folder, replacement.target_) = internal::SplitPath(where);
  replacement.folder_path_ = folder;
  replacement.folder_ = open(folder.empty() ? "." : folder.c_str(), kFolderFlags);
  int error = replacement.folder_ < 0 ? errno : 0;
  if (error == 0) {
    error = replacement.MakeTemporary(exists ? (info.st_mode & 0600) : 0666);
  }
  if (error == 0 && exists) {
    error =
        TakeOverPermissions(fileno(internal::RealStream(replacement.file_.get())), info);
  }
  if (error == 0) {
    replacement.state_ = State::kReady;
    return replacement;
  }
  replacement.Discard();
  if (exists && FolderRefusesNewFiles(error)) {
    replacement.state_ = State::kInPlaceOnly;
    replacement.error_ = error;
    return replacement;
  }
  return replacement.End(State::kRefused, error);
}

int Replacement::MakeTemporary(unsigned mode) {
  // A failed creation in the tests stands for a folder that takes no new
  // file.
  if (internal::Injected(Call::kFileCreate)) {
    return EACCES;
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp_ = internal::TemporaryName(target_);
    live_ = internal::Live(folder_, temp_);
    // O_EXCL: a name that is taken, by a file or a link, is never opened.
    const int descriptor =
        openat(static_cast<int>(folder_), temp_.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    const int error = descriptor < 0 ? errno : 0;
    if (descriptor >= 0) {
      File file(fdopen(descriptor, "wb"));
      if (!file) {
        const int failed = errno;
        close(descriptor);
        Discard();
        return failed;
      }
      file_ = internal::HandOut(std::move(file), "wb");
      return 0;
    }
    internal::Gone(live_);
    temp_.clear();
    if (error != EEXIST) {
      return error;
    }
  }
  return EEXIST;  // no free name: the folder is full of taken ones
}

Replacement::Result Replacement::Commit() {
  if (!file_) {
    return Result::kFailed;
  }
  std::FILE* real = internal::RealStream(file_.get());
  const bool synced = !internal::Injected(Call::kFileSync) &&
                      std::fflush(file_.get()) == 0 && std::fflush(real) == 0 &&
                      fsync(fileno(real)) == 0;
  error_ = synced ? 0 : errno;
  // Kept open past the rename, for a folder that cannot be synced itself.
  const int written = fcntl(fileno(real), F_DUPFD_CLOEXEC, 0);
  const int closed = CloseFile(std::move(file_));
  error_ = error_ != 0 ? error_ : closed;
  if (error_ == 0 && identity_) {
    // The name must still lead to the file that was opened for writing.
    struct stat now {};
    if (fstatat(static_cast<int>(folder_), target_.c_str(), &now, AT_SYMLINK_NOFOLLOW) !=
            0 ||
        IdentityFrom(now) != *identity_) {
      if (written >= 0) {
        close(written);
      }
      Discard();
      return Result::kChanged;
    }
  }
  if (error_ == 0 && (internal::Injected(Call::kFileRename) ||
                      renameat(static_cast<int>(folder_), temp_.c_str(),
                               static_cast<int>(folder_), target_.c_str()) != 0)) {
    error_ = errno;
  }
  if (error_ != 0) {
    if (written >= 0) {
      close(written);
    }
    Discard();
    // A mount point of its own (EBUSY), another file system (EXDEV), a
    // sticky folder's file that this process may write but not replace
    // (EPERM): the file itself can still be written.
    const bool in_place =
        destination_ >= 0 && (error_ == EBUSY || error_ == EXDEV || error_ == EPERM);
    return in_place ? Result::kCannotRename : Result::kFailed;
  }
  internal::Gone(live_);
  temp_.clear();  // it is the destination now
  made_destination_ = false;
  if (!internal::Injected(Call::kFolderSync)) {
    // A folder without read permission cannot be opened to be synced; the
    // file's own sync then carries the rename on journalling file systems.
    const int folder =
        openat(static_cast<int>(folder_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    static_cast<void>(fsync(folder >= 0 ? folder : written));
    if (folder >= 0) {
      close(folder);
    }
  }
  if (written >= 0) {
    close(written);
  }
  return Result::kReplaced;
}

File Replacement::InPlace() {
  const int descriptor = static_cast<int>(destination_);
  if (descriptor < 0) {
    error_ = EBADF;
    return nullptr;
  }
  // A regular file: O_NONBLOCK goes, so that writes behave as usual.
  const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (copy < 0 || fcntl(copy, F_SETFL, 0) != 0 || ftruncate(copy, 0) != 0) {
    error_ = errno;
    if (copy >= 0) {
      close(copy);
    }
    return nullptr;
  }
  File file(fdopen(copy, "wb"));
  if (!file) {
    error_ = errno;
    close(copy);
    return nullptr;
  }
  made_destination_ = false;  // written now: it stays, whatever becomes of it
  return internal::HandOut(std::move(file), "wb");
}

void Replacement::Discard() {
  file_.reset();
  if (!temp_.empty()) {
    unlinkat(static_cast<int>(folder_), temp_.c_str(), 0);
    temp_.clear();
  }
  internal::Gone(live_);
}

void Replacement::Release() {
  Discard();
  if (made_destination_ && folder_ >= 0 && destination_ >= 0) {
    // The empty file made through a link goes again, unless it is no longer
    // that file or has been written by someone else since.
    struct stat made {};
    struct stat named {};
    if (fstat(static_cast<int>(destination_), &made) == 0 && made.st_size == 0 &&
        fstatat(static_cast<int>(folder_), target_.c_str(), &named,
                AT_SYMLINK_NOFOLLOW) == 0 &&
        IdentityFrom(named) == IdentityFrom(made)) {
      unlinkat(static_cast<int>(folder_), target_.c_str(), 0);
    }
  }
  made_destination_ = false;
  if (destination_ >= 0) {
    close(static_cast<int>(std::exchange(destination_, -1)));
  }
  if (folder_ >= 0) {
    close(static_cast<int>(std::exchange(folder_, -1)));
  }
}

}  // namespace mirdcng::platform
