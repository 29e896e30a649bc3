#include <cerrno>

#include "platform/observed_stream.h"

#if defined(MIRDCNG_FAULT_INJECTION)
#include <memory>
#include <mutex>
#include <unordered_map>
#endif

namespace mirdcng::platform::internal {

#if defined(MIRDCNG_FAULT_INJECTION)
namespace {

// Custom streams have no descriptor of their own; the calls that need one ask
// the real stream behind them.
struct Observed {
  std::mutex mutex;
  std::unordered_map<std::FILE*, std::FILE*> real_of;
};

Observed& Streams() {
  static Observed streams;
  return streams;
}

constexpr std::size_t kBlock = std::size_t{64} << 10;

// What a custom stream's functions are handed.
struct Cookie {
  std::FILE* real = nullptr;
  std::FILE* custom = nullptr;
};

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

}  // namespace

bool Injected(Call call) {
  NTSTATUS ignored = STATUS_SUCCESS;
  if (!ShouldFail(call, &ignored)) {
    return false;
  }
  errno = EIO;
  return true;
}

// Should the custom stream not be made, the real stream serves unobserved.
File HandOut(File real, const char* mode) {
  std::setvbuf(real.get(), nullptr, _IONBF, 0);
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
  // Unlike the library's own streams, a custom stream keeps a buffer: made
  // unbuffered, it would be asked for its bytes one at a time, each passing a
  // fault point. With one, it passes the file's bytes in blocks, as the
  // system does.
  std::setvbuf(custom, nullptr, _IOFBF, kBlock);
  return File(custom);
}

std::FILE* RealStream(std::FILE* file) {
  Observed& streams = Streams();
  std::lock_guard lock(streams.mutex);
  const auto found = streams.real_of.find(file);
  return found != streams.real_of.end() ? found->second : file;
}

#else

bool Injected(Call) { return false; }
File HandOut(File real, const char*) {
  std::setvbuf(real.get(), nullptr, _IONBF, 0);
  return real;
}
std::FILE* RealStream(std::FILE* file) { return file; }

#endif  // MIRDCNG_FAULT_INJECTION

}  // namespace mirdcng::platform::internal
