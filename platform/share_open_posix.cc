// POSIX has no mandatory share modes: every open already shares everything.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/observed_stream.h"
#include "platform/share_open.h"

namespace mirdcng::platform {
namespace {

Opened Failed(int error) {
  Opened failed;
  failed.error = error;
  return failed;
}

Opened NotRegular() {
  Opened refused;
  refused.not_regular = true;
  return refused;
}

FileIdentity IdentityFrom(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino)};
}

// OpenRegular opens `path` with `flags` without blocking, and returns the
// descriptor once it is known to be a regular file, with what fstat said of
// it in `info`; or -1, with `refused` saying why.
int OpenRegular(const char* path, int flags, struct stat& info, Opened& refused) {
  if (internal::Injected(Call::kFileOpen)) {
    refused = Failed(errno);
    return -1;
  }
  // Looked at first so that a FIFO or a device is not even opened: opening
  // one can have effects of its own (a FIFO's writer is let through).
  if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    refused = NotRegular();
    return -1;
  }
  // O_NONBLOCK: should the name have changed since, the open still returns.
  const int descriptor = open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (descriptor < 0) {
    refused = Failed(errno);
    return -1;
  }
  if (fstat(descriptor, &info) != 0) {
    refused = Failed(errno);
  } else if (!S_ISREG(info.st_mode)) {
    refused = NotRegular();
  } else {
    return descriptor;
  }
  close(descriptor);
  return -1;
}

// Open hands out a stream with `mode` on what OpenRegular opens. `prepare`
// runs on the descriptor before the stream is made; it returns 0 or an errno.
template <class Prepare>
Opened Open(const char* path, int flags, const char* mode, Prepare prepare) {
  struct stat info {};
  Opened refused;
  const int descriptor = OpenRegular(path, flags, info, refused);
  if (descriptor < 0) {
    return refused;
  }
  // A regular file: O_NONBLOCK goes (no other status flag was set), so that
  // reads and writes behave as usual.
  int error = fcntl(descriptor, F_SETFL, 0) != 0 ? errno : prepare(descriptor);
  File file(error == 0 ? fdopen(descriptor, mode) : nullptr);
  if (!file) {
    error = error != 0 ? error : errno;
    close(descriptor);
    return Failed(error);
  }
  return Opened{internal::HandOut(std::move(file), mode), false, 0,
                static_cast<std::int64_t>(info.st_size), IdentityFrom(info)};
}

}  // namespace

Opened OpenForReading(const char* path) {
  return Open(path, O_RDONLY, "rb", [](int) { return 0; });
}

Opened CheckOpensForReading(const char* path) {
  struct stat info {};
  Opened result;
  const int descriptor = OpenRegular(path, O_RDONLY, info, result);
  if (descriptor >= 0) {
    close(descriptor);
  }
  return result;
}

File OpenStandardInput() {
  const int descriptor = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) {
    return nullptr;
  }
  File file(fdopen(descriptor, "rb"));
  if (!file) {
    const int error = errno;
    close(descriptor);
    errno = error;
    return nullptr;
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  return file;
}

std::int64_t FileSize(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(internal::RealStream(file)), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

int CloseFile(File file) { return std::fclose(file.release()) == 0 ? 0 : errno; }

bool CanRewind(std::FILE* file) { return ftello(file) >= 0; }

std::optional<FileIdentity> IdentityOf(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    return std::nullopt;
  }
  return IdentityFrom(info);
}

}  // namespace mirdcng::platform
