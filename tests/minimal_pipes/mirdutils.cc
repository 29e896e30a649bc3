// The pipe library as the minimal library: only its three functions, each
// pipe a record of what it was given (tests/minimal_pipes/minimal_pipes.h).
#include <cstring>

#include "tests/minimal_pipes/minimal_pipes.h"

#if defined(_WIN32)
#define MINIMAL_EXPORT __declspec(dllexport)
#else
#define MINIMAL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

MINIMAL_EXPORT zulpipe* create_queue_zulpipe() {
  auto* pipe = new zulpipe;
  pipe->queue = true;
  return pipe;
}

MINIMAL_EXPORT long long zulwrite(zulpipe* pipe, const void* data, long long size) {
  ++pipe->writes;
  const long long room = static_cast<long long>(sizeof pipe->bytes) - pipe->size;
  const long long kept = size < 0 ? 0 : size > room ? room : size;
  std::memcpy(pipe->bytes + pipe->size, data, static_cast<std::size_t>(kept));
  pipe->size += kept;
  return 0;  // says nothing about what was taken
}

// A function of the framework's naming pattern that happens to mean
// something else: it refuses every block, and counts that it was asked.
MINIMAL_EXPORT long long zulwrite_adopt(zulpipe* pipe, void*, long long) {
  ++pipe->refused_adoptions;
  return -1;
}

MINIMAL_EXPORT zulpipe* create_binary_stream_zulpipe(std::FILE* stream, const char* name,
                                                     bool owns_stream) {
  auto* pipe = new zulpipe;
  pipe->stream = stream;
  pipe->name = name;
  pipe->owns_stream = owns_stream;
  return pipe;
}

}  // extern "C"
