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

Opened Failed(int error) { return Opened{nullptr, false, error}; }
Opened NotRegular() { return Opened{nullptr, true, 0}; }

// Open opens `path` with `flags` without blocking, and hands out a stream
// with `mode` once the descriptor is known to be a regular file. `prepare`
// runs on the descriptor after that check and before the stream is made; it
// returns 0 or an errno.
template <class Prepare>
Opened Open(const char* path, int flags, const char* mode, Prepare prepare) {
  if (internal::Injected(Call::kFileOpen)) {
    return Failed(errno);
  }
  // Looked at first so that a FIFO or a device is not even opened: opening
  // one can have effects of its own (a FIFO's writer is let through).
  struct stat info {};
  if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    return NotRegular();
  }
  // O_NONBLOCK: should the name have changed since, the open still returns.
  const int descriptor = open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (descriptor < 0) {
    return Failed(errno);
  }
  // A regular file: O_NONBLOCK goes (no other status flag was set), so that
  // reads and writes behave as usual.
  int error = 0;
  if (fstat(descriptor, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    close(descriptor);
    return NotRegular();
  } else if (fcntl(descriptor, F_SETFL, 0) != 0) {
    error = errno;
  } else {
    error = prepare(descriptor);
  }
  File file(error == 0 ? fdopen(descriptor, mode) : nullptr);
  if (!file) {
    error = error != 0 ? error : errno;
    close(descriptor);
    return Failed(error);
  }
  return Opened{internal::HandOut(std::move(file), mode), false, 0};
}

FileIdentity IdentityFrom(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace

Opened OpenForReading(const char* path) {
  return Open(path, O_RDONLY, "rb", [](int) { return 0; });
}

Opened OpenForWriting(const char* path) {
  // Emptied only once it is known to be a regular file.
  return Open(path, O_WRONLY | O_CREAT, "wb",
              [](int descriptor) { return ftruncate(descriptor, 0) == 0 ? 0 : errno; });
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

std::optional<FileIdentity> IdentityOf(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(internal::RealStream(file)), &info) != 0) {
    return std::nullopt;
  }
  return IdentityFrom(info);
}

std::optional<FileIdentity> IdentityOf(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    return std::nullopt;
  }
  return IdentityFrom(info);
}

}  // namespace mirdcng::platform
