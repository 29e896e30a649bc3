// POSIX has no mandatory share modes: every open already shares everything.
//
// In the testing variant (MIRDCNG_FAULT_INJECTION) every stream handed out is
// a custom stream over the real one, so that opening it and each read, write
// and close that reaches the file pass through a fault point. The shipped
// variant hands out the real stream itself.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/fault_injection.h"
#include "platform/share_open.h"

#if defined(MIRDCNG_FAULT_INJECTION)
#include <memory>
#include <mutex>
#include <unordered_map>
#endif

namespace mirdcng::platform {
namespace {

#if defined(MIRDCNG_FAULT_INJECTION)

// Custom streams have no descriptor of their own; the measuring calls ask the
// real stream behind them.
struct Observed {
  std::mutex mutex;
  std::unordered_map<std::FILE*, std::FILE*> real_of;
};

Observed& Streams() {
  static Observed streams;
  return streams;
}

// What a custom stream's functions are handed.
struct Cookie {
  std::FILE* real = nullptr;
  std::FILE* custom = nullptr;
};

bool Injected(Call call) {
  NTSTATUS ignored = STATUS_SUCCESS;
  if (!internal::ShouldFail(call, &ignored)) {
    return false;
  }
  errno = EIO;
  return true;
}

ssize_t ReadReal(void* cookie, char* buffer, size_t size) {
  if (Injected(Call::kFileRead)) {
    return -1;
  }
  std::FILE* real = static_cast<Cookie*>(cookie)->real;
  const size_t got = std::fread(buffer, 1, size, real);
  return got == 0 && std::ferror(real) != 0 ? -1 : static_cast<ssize_t>(got);
}

// Returns 0 on error: a custom stream's write must not return less.
ssize_t WriteReal(void* cookie, const char* buffer, size_t size) {
  if (Injected(Call::kFileWrite)) {
    return 0;
  }
  return static_cast<ssize_t>(
      std::fwrite(buffer, 1, size, static_cast<Cookie*>(cookie)->real));
}

int SeekReal(void* cookie, off64_t* offset, int whence) {
  std::FILE* real = static_cast<Cookie*>(cookie)->real;
  if (fseeko(real, *offset, whence) != 0) {
    return -1;
  }
  *offset = ftello(real);
  return 0;
}

// The file is released even when the close is made to fail.
int CloseReal(void* cookie) {
  const std::unique_ptr<Cookie> owned(static_cast<Cookie*>(cookie));
  {
    Observed& streams = Streams();
    std::lock_guard lock(streams.mutex);
    streams.real_of.erase(owned->custom);
  }
  const bool injected = Injected(Call::kFileClose);
  const int closed = std::fclose(owned->real);
  return injected ? EOF : closed;
}

// Observe puts `real` behind a custom stream. Should that not be made, the
// real stream serves unobserved.
File Observe(File real, const char* mode) {
  // The real stream keeps its buffer: a custom stream that its user made
  // unbuffered asks for its bytes one at a time, and each would otherwise be
  // a system call.
  auto cookie = std::make_unique<Cookie>();
  cookie->real = real.get();
  std::FILE* custom =
      fopencookie(cookie.get(), mode, {ReadReal, WriteReal, SeekReal, CloseReal});
  if (custom == nullptr) {
    return real;
  }
  cookie->custom = custom;
  {
    Observed& streams = Streams();
    std::lock_guard lock(streams.mutex);
    streams.real_of[custom] = real.release();
  }
  static_cast<void>(cookie.release());  // CloseReal owns it now
  return File(custom);
}

int Descriptor(std::FILE* file) {
  Observed& streams = Streams();
  std::lock_guard lock(streams.mutex);
  const auto found = streams.real_of.find(file);
  return fileno(found != streams.real_of.end() ? found->second : file);
}

#else

int Descriptor(std::FILE* file) { return fileno(file); }

#endif  // MIRDCNG_FAULT_INJECTION

}  // namespace

File OpenShared(const char* path, const char* mode) {
#if defined(MIRDCNG_FAULT_INJECTION)
  if (Injected(Call::kFileOpen)) {
    return nullptr;
  }
#endif
  File file(std::fopen(path, mode));
  // The C library opens a directory for reading, and only reading it fails;
  // Windows opens no directory as a stream. A source check must fail on one.
  // (A directory never opens for writing, so a write needs no look.)
  const bool reading_only = std::strpbrk(mode, "wa+") == nullptr;
  struct stat info {};
  if (file && reading_only && fstat(fileno(file.get()), &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return nullptr;
  }
#if defined(MIRDCNG_FAULT_INJECTION)
  if (file) {
    return Observe(std::move(file), mode);
  }
#endif
  return file;
}

std::int64_t FileSize(std::FILE* file) {
  struct stat info {};
  if (fstat(Descriptor(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

bool CloseFile(File file) { return std::fclose(file.release()) == 0; }

namespace {

FileIdentity IdentityFrom(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(std::FILE* file) {
  struct stat info {};
  if (fstat(Descriptor(file), &info) != 0) {
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
