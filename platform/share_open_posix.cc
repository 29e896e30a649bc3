// POSIX has no mandatory share modes: every open already shares everything.
#include <sys/stat.h>

#include <cerrno>

#include "platform/share_open.h"

namespace mirdcng::platform {

File OpenShared(const char* path, const char* mode) {
  File file(std::fopen(path, mode));
  // The C library opens a directory for reading, and only reading it fails;
  // Windows opens no directory as a stream. A source check must fail on one.
  struct stat info {};
  if (file && fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

std::int64_t FileSize(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

bool CloseFile(File file) { return std::fclose(file.release()) == 0; }

namespace {

FileIdentity IdentityFrom(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) {
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
