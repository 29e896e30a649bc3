#include "tools/input_files.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <cerrno>
#include <cstdio>
#include <utility>

#include "tools/commands.h"

namespace mirdcng::tool {
namespace {

// Input is an open FILE, or why there is none.
struct Input {
  platform::File file;
  std::string why;  // after "cannot open 'FILE': "; empty when there is no reason
};

Input Failed(int error) { return {nullptr, error != 0 ? SystemReason(error) : ""}; }

Input FromLibrary(platform::Opened opened, const char* not_regular) {
  if (opened.not_regular) {
    return {nullptr, not_regular};
  }
  return opened.file ? Input{std::move(opened.file), ""} : Failed(opened.error);
}

platform::File Opened(Input input, const std::string& path) {
  if (!input.file) {
    Complain("cannot open " + Quoted(path) + (input.why.empty() ? "" : ": " + input.why));
  }
  return std::move(input.file);
}

#if !defined(_WIN32)
constexpr const char* kNotServed = "it is not a regular file or a pipe";

bool IsPipe(int descriptor) {
  struct stat info {};
  return fstat(descriptor, &info) == 0 && S_ISFIFO(info.st_mode);
}

// IsNamedFifo tells a FIFO made in a folder from a pipe between processes
// (standard input, a shell's <(...)), whose writer is there from the start.
bool IsNamedFifo(int descriptor) {
#if defined(__linux__)
  struct statfs where {};
  return fstatfs(descriptor, &where) != 0 || where.f_type != PIPEFS_MAGIC;
#else
  static_cast<void>(descriptor);
  return true;
#endif
}

// Peek reads the first byte of the FIFO `descriptor`, opened without blocking:
// the byte (0 to 255), kNoWriter when no writer has it open, or kNothingYet
// when one has but has written nothing yet; -errno on failure.
constexpr int kNoWriter = -1000;
constexpr int kNothingYet = -1001;
int Peek(int descriptor) {
  unsigned char byte = 0;
  const ssize_t got = read(descriptor, &byte, 1);
  if (got == 1) {
    return byte;
  }
  if (got == 0) {
    return kNoWriter;
  }
  return errno == EAGAIN || errno == EWOULDBLOCK ? kNothingYet : -errno;
}

// OpenPipe opens the pipe or FIFO `path` for reading. O_NONBLOCK lets the open
// return at once, with or without a writer, and goes before the reads, so that
// they wait for the writer's bytes. A FIFO nobody writes to is refused rather
// than read as empty: an empty success would hide that no bytes came at all.
// A byte read to learn whether a writer is there is put back.
Input OpenPipe(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    return Failed(errno);
  }
  if (!S_ISFIFO(info.st_mode)) {
    return {nullptr, kNotServed};  // not opened at all: opening a device may act
  }
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) {
    return Failed(errno);
  }
  Input input;
  const int first = !IsPipe(descriptor)       ? kNoWriter  // changed since looked at
                    : IsNamedFifo(descriptor) ? Peek(descriptor)
                                              : kNothingYet;
  if (first == kNoWriter) {
    input.why =
        IsPipe(descriptor) ? "it is a FIFO that no process writes to" : kNotServed;
  } else if (first < 0 && first != kNothingYet) {
    input = Failed(-first);
  } else if (fcntl(descriptor, F_SETFL, 0) != 0) {
    input = Failed(errno);
  } else {
    input.file.reset(fdopen(descriptor, "rb"));
    if (!input.file) {
      input = Failed(errno);
    } else if (first >= 0) {
      std::ungetc(first, input.file.get());
    }
  }
  if (!input.file) {
    close(descriptor);
  }
  return input;
}
#else
Input OpenPipe(const char*) { return {nullptr, "it is not a regular file"}; }
#endif

}  // namespace

platform::File OpenRegularFile(const std::string& path) {
  return Opened(
      FromLibrary(platform::OpenForReading(path.c_str()), "it is not a regular file"),
      path);
}

platform::File OpenServedFile(const std::string& path) {
  platform::Opened opened = platform::OpenForReading(path.c_str());
  return Opened(
      opened.not_regular ? OpenPipe(path.c_str()) : FromLibrary(std::move(opened), ""),
      path);
}

}  // namespace mirdcng::tool
