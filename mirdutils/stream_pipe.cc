#include "mirdutils/stream_pipe.h"

namespace mirdutils {

StreamPipe::~StreamPipe() {
  if (owns_stream_) {
    std::fclose(stream_);
  }
}

long long StreamPipe::Read(std::byte* buffer, std::size_t size) {
  const std::size_t got = std::fread(buffer, 1, size, stream_);
  // Bytes read before an error are delivered; the error shows on the next read.
  if (got == 0 && size > 0 && std::ferror(stream_) != 0) {
    return -1;
  }
  return static_cast<long long>(got);
}

bool StreamPipe::Write(const std::byte*, std::size_t) { return false; }

}  // namespace mirdutils
