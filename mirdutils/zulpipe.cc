// The five functions of the library's interface: argument checks, and no
// exception across the C boundary.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "mirdutils/mirdutils.h"
#include "mirdutils/queue_pipe.h"
#include "mirdutils/stream_pipe.h"

namespace {

constexpr long long kError = -1;

// Counts beyond what an object can span are refused (writes) or trimmed
// (reads, which may return fewer bytes anyway).
constexpr auto kLargestCount = static_cast<unsigned long long>(PTRDIFF_MAX);

}  // namespace

extern "C" {

zulpipe* create_queue_zulpipe(void) { return new (std::nothrow) mirdutils::QueuePipe(); }

long long zulwrite(zulpipe* pipe, const void* data, long long size) {
  if (pipe == nullptr || size < 0 ||
      static_cast<unsigned long long>(size) > kLargestCount ||
      (data == nullptr && size != 0)) {
    return kError;
  }
  if (size == 0) {
    // Still refused by a pipe that cannot be written at all.
    return pipe->Write(nullptr, 0) ? 0 : kError;
  }
  try {
    return pipe->Write(static_cast<const std::byte*>(data),
                       static_cast<std::size_t>(size))
               ? size
               : kError;
  } catch (const std::bad_alloc&) {
    return kError;
  }
}

zulpipe* create_binary_stream_zulpipe(FILE* stream, const char* /*name*/,
                                      bool owns_stream) {
  if (stream == nullptr) {
    return nullptr;
  }
  return new (std::nothrow) mirdutils::StreamPipe(stream, owns_stream);
}

long long zulread(zulpipe* pipe, void* buffer, long long size) {
  if (pipe == nullptr || size < 0 || (buffer == nullptr && size != 0)) {
    return kError;
  }
  if (size == 0) {
    return 0;
  }
  const auto count = static_cast<std::size_t>(
      std::min(static_cast<unsigned long long>(size), kLargestCount));
  return pipe->Read(static_cast<std::byte*>(buffer), count);
}

void zulclose(zulpipe* pipe) { delete pipe; }

}  // extern "C"
