// StreamPipe: the bytes of a standard I/O stream, read as they are.
#ifndef MIRDUTILS_STREAM_PIPE_H_
#define MIRDUTILS_STREAM_PIPE_H_

#include <cstdio>

#include "mirdutils/pipe_base.h"

namespace mirdutils {

class StreamPipe final : public zulpipe {
 public:
  // REQUIRES: `stream` is open. With `owns_stream` the pipe closes it when it
  // goes; otherwise it never does.
  StreamPipe(std::FILE* stream, bool owns_stream)
      : stream_(stream), owns_stream_(owns_stream) {}
  ~StreamPipe() override;

  long long Read(std::byte* buffer, std::size_t size) override;
  bool Write(const std::byte* data, std::size_t size) override;

 private:
  std::FILE* stream_;
  bool owns_stream_;
};

}  // namespace mirdutils

#endif  // MIRDUTILS_STREAM_PIPE_H_
