// POSIX: the temporary is made, renamed and removed relative to its open
// folder, so that the calls reach the same folder however long its path is,
// and the folder's descriptor is what is synced after the rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/file_replace.h"
#include "platform/file_replace_internal.h"
#include "platform/observed_stream.h"

namespace mirdcng::platform {
namespace {

// The kernel gives up following links after as many.
constexpr int kMaxLinks = 40;
// Attempts at a fresh name, should names be taken by files that crashed
// processes left behind.
constexpr int kNameAttempts = 100;

// ReadLink returns where the link `path` leads, or nothing with errno set.
std::optional<std::string> ReadLink(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = readlink(path.c_str(), target.data(), target.size());
  if (length < 0) {
    return std::nullopt;
  }
  target.resize(static_cast<std::size_t>(length));
  return target;
}

void TakeOver(const struct stat& info, Destination& destination) {
  destination.exists = true;
  destination.regular = S_ISREG(info.st_mode);
  destination.mode = info.st_mode & 07777;
  destination.owner = info.st_uid;
  destination.group = info.st_gid;
}

// Gives the new file `destination`'s owner (where this process may) and
// permissions, in that order: a change of owner clears the set-id bits.
int TakeOverPermissions(int descriptor, const Destination& destination) {
  struct stat info {};
  if (fstat(descriptor, &info) != 0) {
    return errno;
  }
  if (info.st_uid != destination.owner || info.st_gid != destination.group) {
    static_cast<void>(fchown(descriptor, destination.owner, destination.group));
  }
  return fchmod(descriptor, destination.mode) == 0 ? 0 : errno;
}

// CreateExclusively creates a fresh temporary for `target` in the open
// `folder`, with its name in `temp`. Returns its descriptor, or -1 with errno
// set and `temp` empty.
int CreateExclusively(int folder, const std::string& target, std::string& temp) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp = internal::TemporaryName(target, static_cast<unsigned long>(getpid()));
    // 0666: a new destination gets what fopen would give it, less the umask.
    const int descriptor = openat(
        folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (descriptor >= 0) {
      return descriptor;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  temp.clear();
  return -1;
}

}  // namespace

Destination LookAtDestination(const char* path) {
  Destination destination;
  destination.target = path;
  if (internal::Injected(Call::kFileStat)) {
    destination.error = errno;
    return destination;
  }
  for (int links = 0;; ++links) {
    struct stat info {};
    if (lstat(destination.target.c_str(), &info) != 0) {
      // Nothing there: a new file, where the last link (if any) leads.
      destination.error = errno == ENOENT ? 0 : errno;
      return destination;
    }
    if (!S_ISLNK(info.st_mode)) {
      TakeOver(info, destination);
      return destination;
    }
    if (links == kMaxLinks) {
      destination.error = ELOOP;
      return destination;
    }
    const std::optional<std::string> next = ReadLink(destination.target);
    if (!next) {
      destination.error = errno;
      return destination;
    }
    destination.target = next->starts_with('/')
                             ? *next
                             : internal::SplitPath(destination.target).first + *next;
  }
}

Replacement Replacement::Begin(const Destination& destination) {
  Replacement replacement;
  std::tie(replacement.folder_, replacement.target_) =
      internal::SplitPath(destination.target);
  if (internal::Injected(Call::kFileCreate)) {
    replacement.error_ = errno;
    return replacement;
  }
  const std::string folder = replacement.folder_.empty() ? "." : replacement.folder_;
  replacement.folder_handle_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (replacement.folder_handle_ < 0) {
    replacement.error_ = errno;
    return replacement;
  }
  const int descriptor = CreateExclusively(replacement.folder_handle_,
                                           replacement.target_, replacement.temp_);
  if (descriptor < 0) {
    replacement.error_ = errno;
    return replacement;
  }
  const int error = destination.exists ? TakeOverPermissions(descriptor, destination) : 0;
  File file(error == 0 ? fdopen(descriptor, "wb") : nullptr);
  if (!file) {
    replacement.error_ = error != 0 ? error : errno;
    close(descriptor);
    replacement.Discard();
    return replacement;
  }
  replacement.file_ = internal::HandOut(std::move(file), "wb");
  return replacement;
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
  const int closed = CloseFile(std::move(file_));
  error_ = error_ != 0 ? error_ : closed;
  if (error_ == 0 &&
      (internal::Injected(Call::kFileRename) ||
       renameat(folder_handle_, temp_.c_str(), folder_handle_, target_.c_str()) != 0)) {
    error_ = errno;
  }
  if (error_ != 0) {
    Discard();
    // A destination that is a mount point of its own (a file bound over
    // another) cannot be renamed over, but can be written.
    return error_ == EBUSY || error_ == EXDEV ? Result::kCannotRename : Result::kFailed;
  }
  temp_.clear();  // it is the destination now
  if (!internal::Injected(Call::kFolderSync)) {
    static_cast<void>(fsync(folder_handle_));
  }
  return Result::kReplaced;
}

void Replacement::Discard() {
  file_.reset();
  if (!temp_.empty()) {
    unlinkat(folder_handle_, temp_.c_str(), 0);
    temp_.clear();
  }
}

Replacement::~Replacement() {
  Discard();
  if (folder_handle_ >= 0) {
    close(folder_handle_);
  }
}

}  // namespace mirdcng::platform
