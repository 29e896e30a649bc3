// The five functions of the library's interface, and mirdcng_adopt_block_v1 for
// libmirdcng: argument checks, and no exception across the C boundary.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "mirdutils/adopt.h"
#include "mirdutils/chunk_memory.h"
#include "mirdutils/mirdutils.h"
#include "mirdutils/queue_pipe.h"
#include "mirdutils/stream_pipe.h"

namespace {

constexpr long long kError = -1;

// Counts beyond what an object can span are refused (writes) or trimmed
// (reads, which may return fewer bytes anyway).
constexpr auto kLargestCount = static_cast<unsigned long long>(PTRDIFF_MAX);

// Caught runs `body` and returns its result, or `failure` should it throw.
// Nothing below throws today; this keeps it so for the callers, whose
// runtime may not be able to catch what ours throws.
template <class Result, class Body>
Result Caught(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace

extern "C" {

zulpipe* create_queue_zulpipe(void) noexcept {
  return Caught<zulpipe*>(nullptr, [] { return mirdutils::New<mirdutils::QueuePipe>(); });
}

long long zulwrite(zulpipe* pipe, const void* data, long long size) noexcept {
  if (pipe == nullptr || size < 0 ||
      static_cast<unsigned long long>(size) > kLargestCount ||
      (data == nullptr && size != 0)) {
    return kError;
  }
  return Caught(kError, [&] {
    // A size of 0 is still refused by a pipe that cannot be written at all.
    return pipe->Write(static_cast<const std::byte*>(data),
                       static_cast<std::size_t>(size))
               ? size
               : kError;
  });
}

long long mirdcng_adopt_block_v1(zulpipe* pipe, void* block, long long size) noexcept {
  auto* bytes = static_cast<std::byte*>(block);
  if (pipe == nullptr || bytes == nullptr || size < 0 ||
      static_cast<unsigned long long>(size) > kLargestCount) {
    return kError;  // not taken: the block stays the caller's
  }
  return Caught(kError, [&] {
    return pipe->Adopt(bytes, static_cast<std::size_t>(size)) ? size : kError;
  });
}

zulpipe* create_binary_stream_zulpipe(FILE* stream, const char* /*name*/,
                                      bool owns_stream) noexcept {
  if (stream == nullptr) {
    return nullptr;
  }
  return Caught<zulpipe*>(nullptr, [&] {
    return mirdutils::New<mirdutils::StreamPipe>(stream, owns_stream);
  });
}

long long zulread(zulpipe* pipe, void* buffer, long long size) noexcept {
  if (pipe == nullptr || size < 0 || (buffer == nullptr && size != 0)) {
    return kError;
  }
  if (size == 0) {
    return 0;
  }
  const auto count = static_cast<std::size_t>(
      std::min(static_cast<unsigned long long>(size), kLargestCount));
  return Caught(kError,
                [&] { return pipe->Read(static_cast<std::byte*>(buffer), count); });
}

// Destructors do not throw: there is nothing to catch.
void zulclose(zulpipe* pipe) noexcept { delete pipe; }

}  // extern "C"
